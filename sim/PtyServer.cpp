#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "serial/ComName.h"
#include "sim/EventLog.h"
#include "sim/Screen.h"

namespace vyx::sim {

namespace {

constexpr auto kFloodFallback = std::chrono::milliseconds(200);
// A host that keeps asking but never reads would make the queue grow without end; a real
// display's transmitter would just overrun. Replies beyond this backlog are dropped.
constexpr std::size_t kMaxBacklog = 64 * 1024;

std::string Failed(const std::string& call, const std::string& what) {
    return call + " " + what + ": " + std::strerror(errno);
}

speed_t SpeedOf(std::uint32_t bps) {
    switch (bps) {
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B9600;
    }
}

std::uint32_t BpsOf(speed_t speed) {
    struct Entry {
        speed_t speed;
        std::uint32_t bps;
    };
    static constexpr Entry kTable[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
        {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
        {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    for (const auto& e : kTable) {
        if (e.speed == speed) {
            return e.bps;
        }
    }
    return 0;  // B0 or a speed outside the table: unknown
}

// mkdir -p, for the user's ports folder on a first run.
bool MakeDirectories(const std::string& path) {
    for (std::size_t pos = 1; pos != std::string::npos;) {
        pos = path.find('/', pos + 1);
        const std::string prefix = path.substr(0, pos);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

PtyServer::PtyServer(const Options& options)
    : m_Options(options), m_Sim(options.baud, options.firmwareVersion) {}

PtyServer::~PtyServer() {
    RemoveLinks();
    for (int fd : {m_Inotify, m_Signals, m_SlaveHold, m_Master}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

int PtyServer::Open(std::string& error) {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &mask, nullptr) != 0 ||
        (m_Signals = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC)) < 0) {
        error = Failed("signalfd", "");
        return 0;
    }
    signal(SIGPIPE, SIG_IGN);

    m_Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_Master < 0 || grantpt(m_Master) != 0 || unlockpt(m_Master) != 0) {
        error = Failed("posix_openpt", "");
        return 0;
    }
    std::array<char, 128> name{};
    if (ptsname_r(m_Master, name.data(), name.size()) != 0) {
        error = Failed("ptsname_r", "");
        return 0;
    }
    m_SlavePath = name.data();
    // Our own slave descriptor: keeps the line up between the host's openings.
    m_SlaveHold = open(m_SlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_SlaveHold < 0) {
        error = Failed("open", m_SlavePath);
        return 0;
    }
    // A raw line at the listening rate until the host sets its own.
    termios tio{};
    tcgetattr(m_SlaveHold, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, SpeedOf(m_Options.baud));
    cfsetospeed(&tio, SpeedOf(m_Options.baud));
    if (tcsetattr(m_SlaveHold, TCSANOW, &tio) != 0) {
        error = Failed("tcsetattr", m_SlavePath);
        return 0;
    }
    int on = 1;
    if (ioctl(m_Master, TIOCPKT, &on) != 0) {
        error = Failed("ioctl TIOCPKT", m_SlavePath);
        return 0;
    }
    m_Inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_Inotify < 0 || inotify_add_watch(m_Inotify, m_SlavePath.c_str(),
                                           IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        error = Failed("inotify_add_watch", m_SlavePath);
        return 0;
    }
    if (!m_Options.link.empty() && !MakeLink(m_Options.link, error)) {
        return 0;
    }
    if (m_Options.com > 0) {
        const std::string dir = PortsDirectory();
        if (!MakeDirectories(dir)) {
            error = Failed("mkdir", dir);
            return 0;
        }
        if (!MakeLink(dir + "/COM" + std::to_string(m_Options.com), error)) {
            return 0;
        }
    }
    return 1;
}

// A stale link of an earlier run is replaced; anything else at that path is left alone.
int PtyServer::MakeLink(const std::string& path, std::string& error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            errno = EEXIST;
            error = Failed("symlink", path) + " (not a link, left alone)";
            return 0;
        }
        std::fprintf(stderr, "vyx-display-sim: replacing the existing link %s\n", path.c_str());
        unlink(path.c_str());
    }
    if (symlink(m_SlavePath.c_str(), path.c_str()) != 0) {
        error = Failed("symlink", path);
        return 0;
    }
    m_Links.push_back(path);
    return 1;
}

// Removes only links that still point at our pseudo-terminal: another simulator may
// have taken the name over meanwhile.
void PtyServer::RemoveLinks() {
    for (const auto& path : m_Links) {
        std::array<char, 256> target{};
        const ssize_t n = readlink(path.c_str(), target.data(), target.size() - 1);
        if (n > 0 && std::string(target.data(), static_cast<std::size_t>(n)) == m_SlavePath) {
            unlink(path.c_str());
        }
    }
    m_Links.clear();
}

int PtyServer::Run() {
    if (m_Options.plain) {
        std::string where = m_SlavePath;
        for (const auto& link : m_Links) {
            where += " " + link;
        }
        Log("ready " + where + " at " + std::to_string(m_Sim.ListenRate()) + " bps");
    } else {
        std::fputs("\x1b[?25l\x1b[2J", stdout);  // hide the cursor, clear the screen
        Draw();
    }
    while (!m_Stop) {
        const auto now = Clock::now();
        const bool blocked = !WriteDue(now);
        std::array<pollfd, 3> fds{};
        fds[0] = {m_Signals, POLLIN, 0};
        fds[1] = {m_Inotify, POLLIN, 0};
        fds[2] = {m_Master, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
        const int ready = poll(fds.data(), fds.size(), PollTimeoutMs(now, blocked));
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "vyx-display-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        const auto after = Clock::now();
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(m_Signals, &info, sizeof info) > 0) {
                m_Stop = true;
            }
        }
        if (fds[1].revents & POLLIN) {
            OnHostEvents(after);
        }
        if (fds[2].revents & POLLIN) {
            OnMasterReadable(after);
        } else if (fds[2].revents & (POLLHUP | POLLERR)) {
            // Cannot happen while we hold the slave open; if it does, give up rather
            // than spin on a master that is ready for ever.
            std::fprintf(stderr, "vyx-display-sim: %s hung up\n", m_SlavePath.c_str());
            return 1;
        }
        if (m_FloodArmed && after >= m_FloodDeadline) {
            StartFlood(after);
        }
    }
    // Bytes the host wrote just before the stop may still be on their way through the
    // pseudo-terminal: take what arrives within a short quiet period, so that a frame
    // written before the stop is never silently lost.
    constexpr int kFinalQuietMs = 50;
    constexpr int kFinalReadsAtMost = 64;  // bounded even if the master stays readable
    pollfd last{m_Master, POLLIN, 0};
    for (int i = 0;
         i < kFinalReadsAtMost && poll(&last, 1, kFinalQuietMs) > 0 && (last.revents & POLLIN) != 0;
         ++i) {
        OnMasterReadable(Clock::now());
    }
    if (m_Options.plain) {
        Log("bye");
    } else {
        std::fputs("\x1b[?25h\n", stdout);
        std::fflush(stdout);
    }
    return 0;
}

void PtyServer::OnMasterReadable(Clock::time_point now) {
    std::array<std::uint8_t, 4096> buf{};
    const ssize_t n = read(m_Master, buf.data(), buf.size());
    if (n <= 0) {
        return;  // EAGAIN, or EIO while the slave is being reopened: poll again
    }
    if (buf[0] != TIOCPKT_DATA) {
        // A status packet: the host flushed its side of the line.
        if ((buf[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) && m_FloodArmed) {
            StartFlood(now);
        }
        return;
    }
    const std::span<const std::uint8_t> data(buf.data() + 1, static_cast<std::size_t>(n - 1));
    std::vector<Event> events;
    auto reply = m_Sim.Feed(data, HostLineRate(), m_Options.plain ? &events : nullptr);
    for (const auto& e : events) {
        Log(DescribeEvent(e, m_Sim.ListenRate()));
    }
    if (!reply.empty()) {
        ScheduleReply(std::move(reply), now);
    }
    Draw();
}

void PtyServer::OnHostEvents(Clock::time_point now) {
    alignas(inotify_event) std::array<char, 4096> buf{};
    const ssize_t n = read(m_Inotify, buf.data(), buf.size());
    for (ssize_t at = 0; at < n;) {
        inotify_event event{};
        std::memcpy(&event, buf.data() + at, sizeof event);
        at += static_cast<ssize_t>(sizeof event + event.len);
        if (event.mask & IN_OPEN) {
            ++m_HostOpens;
            Log("open");
            if (m_Options.flood > 0 && !m_FloodDone && !m_FloodArmed) {
                m_FloodArmed = true;
                m_FloodDeadline = now + kFloodFallback;
            }
        }
        if (event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
            m_HostOpens = std::max(0, m_HostOpens - 1);
            if (m_HostOpens == 0) {
                // A host that took the line exclusively (TIOCEXCL) and died without
                // giving it back would otherwise lock out the next opening for good,
                // because our own descriptor keeps the tty, and its flag, alive.
                ioctl(m_SlaveHold, TIOCNXCL);
            }
            Log("close");
        }
    }
    Draw();
}

void PtyServer::StartFlood(Clock::time_point now) {
    m_FloodArmed = false;
    m_FloodDone = true;
    std::vector<std::uint8_t> junk(m_Options.flood);
    std::minstd_rand random(12345);
    for (auto& b : junk) {
        b = static_cast<std::uint8_t>(random());
    }
    Log("flood " + std::to_string(junk.size()) + " bytes");
    Schedule(std::move(junk), now);
}

void PtyServer::ScheduleReply(std::vector<std::uint8_t> reply, Clock::time_point readAt) {
    if (m_Options.silent) {
        Log("reply withheld (--silent)");
        return;
    }
    std::size_t backlog = 0;
    for (const auto& s : m_Out) {
        backlog += s.bytes.size() - s.sent;
    }
    if (backlog > kMaxBacklog) {
        Log("reply dropped: " + std::to_string(backlog) + " bytes not yet taken by the host");
        return;
    }
    if (m_Options.shortReply && reply.size() >= DisplaySim::kReplyLength) {
        reply.resize(DisplaySim::kReplyLength - 1);
    }
    Log("reply " + HexBytes(reply));
    // The display cannot answer before the query's last byte has been on the wire.
    auto start = readAt + std::chrono::milliseconds(m_Options.replyDelayMs);
    if (m_Options.pacing) {
        start += ByteTime();
    }
    const std::size_t split = m_Options.replySplit;
    if (split == 0 || split >= reply.size()) {
        Schedule(std::move(reply), start);
        return;
    }
    std::vector<std::uint8_t> rest(reply.begin() + static_cast<std::ptrdiff_t>(split), reply.end());
    reply.resize(split);
    Schedule(std::move(reply), start);
    const Segment& first = m_Out.back();
    const auto firstEnd = first.start + first.perByte * static_cast<Clock::rep>(first.bytes.size());
    Schedule(std::move(rest), firstEnd + std::chrono::milliseconds(m_Options.splitPauseMs));
}

// Segments go out in order; one never starts before the previous one has ended.
void PtyServer::Schedule(std::vector<std::uint8_t> bytes, Clock::time_point start) {
    Segment segment;
    segment.perByte = m_Options.pacing ? ByteTime() : Clock::duration::zero();
    if (!m_Out.empty()) {
        const Segment& last = m_Out.back();
        start =
            std::max(start, last.start + last.perByte * static_cast<Clock::rep>(last.bytes.size()));
    }
    segment.start = start;
    segment.bytes = std::move(bytes);
    m_Out.push_back(std::move(segment));
}

bool PtyServer::WriteDue(Clock::time_point now) {
    while (!m_Out.empty()) {
        Segment& s = m_Out.front();
        std::size_t due = 0;
        if (now >= s.start) {
            due = s.perByte == Clock::duration::zero()
                      ? s.bytes.size()
                      : std::min(s.bytes.size(),
                                 static_cast<std::size_t>((now - s.start) / s.perByte) + 1);
        }
        if (due <= s.sent) {
            return true;
        }
        const ssize_t n = write(m_Master, s.bytes.data() + s.sent, due - s.sent);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                return false;
            }
            // The line is gone for good (cannot happen while we hold the slave): drop it.
            std::fprintf(stderr, "vyx-display-sim: write %s: %s\n", m_SlavePath.c_str(),
                         std::strerror(errno));
            m_Out.pop_front();
            continue;
        }
        s.sent += static_cast<std::size_t>(n);
        if (s.sent < s.bytes.size()) {
            return s.sent >= due;  // a short write means the pty is full
        }
        m_Out.pop_front();
    }
    return true;
}

int PtyServer::PollTimeoutMs(Clock::time_point now, bool blocked) const {
    Clock::time_point next = Clock::time_point::max();
    if (!blocked && !m_Out.empty()) {
        const Segment& s = m_Out.front();
        next = s.start + s.perByte * static_cast<Clock::rep>(s.sent);
    }
    if (m_FloodArmed) {
        next = std::min(next, m_FloodDeadline);
    }
    if (next == Clock::time_point::max()) {
        return -1;
    }
    if (next <= now) {
        return 0;
    }
    // Round up: waking early would only find nothing due and poll again.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now);
    return static_cast<int>(std::min<long long>(wait.count(), 60000));
}

std::uint32_t PtyServer::HostLineRate() const {
    termios tio{};
    if (tcgetattr(m_Master, &tio) != 0) {
        return 0;
    }
    return BpsOf(cfgetospeed(&tio));
}

// 10 bits a byte: start bit, 8 data bits, stop bit.
PtyServer::Clock::duration PtyServer::ByteTime() const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10'000'000'000LL / static_cast<long long>(m_Sim.ListenRate())));
}

void PtyServer::Log(const std::string& line) {
    if (m_Options.plain) {
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    }
}

void PtyServer::Draw() {
    if (m_Options.plain) {
        return;
    }
    std::string where = m_SlavePath;
    for (const auto& link : m_Links) {
        where += " <- " + link;
    }
    // Redraw in place from the top left; each line clears what a longer one left.
    std::string screen = "\x1b[H";
    for (const char ch : RenderScreen(m_Sim, {where, m_HostOpens > 0})) {
        screen += ch == '\n' ? std::string("\x1b[K\n") : std::string(1, ch);
    }
    std::fputs(screen.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace vyx::sim
