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

#include "protocol/Frame.h"
#include "resources/Lists.h"
#include "serial/ComName.h"
#include "sim/EventLog.h"
#include "sim/Screen.h"

namespace vyx::sim {

namespace {

constexpr auto kFloodFallback = std::chrono::milliseconds(200);
// A host that keeps asking but never reads would make the queue grow without end; a real
// display's transmitter would just overrun. Replies beyond this backlog are dropped.
constexpr std::size_t kMaxBacklog = std::size_t{64} * 1024;

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

std::string ReadLink(const std::string& path) {
    std::array<char, 4096> target{};
    const ssize_t n = readlink(path.c_str(), target.data(), target.size() - 1);
    return n > 0 ? std::string(target.data(), static_cast<std::size_t>(n)) : std::string();
}

// Taken for an earlier simulator's own link only when it points at a /dev/pts entry that
// no longer exists: a live pseudo-terminal may be anybody's (another simulator, socat).
bool IsStaleSimulatorLink(const std::string& target) {
    struct stat st {};
    return target.rfind("/dev/pts/", 0) == 0 && stat(target.c_str(), &st) != 0 && errno == ENOENT;
}

// Makes `path` a link to `target` in one step: a new link under a temporary name, then
// rename over the old one, so that the path is never missing and a failure leaves it be.
bool ReplaceLink(const std::string& target, const std::string& path) {
    const std::string temporary = path + ".vyx-sim-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    return true;
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

// Where the first rate frame in `data` ends (0 when there is none): the one command
// after which a host switches its side of the line.
std::size_t EndOfFirstRateFrame(std::span<const std::uint8_t> data) {
    std::size_t end = 0;
    for (std::size_t index = 0; index < resources::kBaudRates.size(); ++index) {
        std::array<std::uint8_t, protocol::kMainTxBufferSize> frame{};
        const std::size_t n = protocol::BuildBaudRateFrame(frame, static_cast<int>(index));
        const auto at = std::search(data.begin(), data.end(), frame.begin(),
                                    frame.begin() + static_cast<std::ptrdiff_t>(n));
        if (at != data.end()) {
            const std::size_t found = static_cast<std::size_t>(at - data.begin()) + n;
            end = end == 0 ? found : std::min(end, found);
        }
    }
    return end;
}

}  // namespace

PtyServer::PtyServer(const Options& options)
    : m_Options(options), m_Sim(options.baud, options.firmwareVersion, [] {
          return std::chrono::nanoseconds(Clock::now().time_since_epoch());
      }) {}

PtyServer::~PtyServer() {
    RemoveLinks();
    for (int fd : {m_Inotify, m_Signals, m_SlaveHold, m_Master}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::vector<std::string> PtyServer::LinkPaths() const {
    std::vector<std::string> paths;
    if (!m_Options.link.empty()) {
        paths.push_back(m_Options.link);
    }
    if (m_Options.com > 0) {
        paths.push_back(PortsDirectory() + "/COM" + std::to_string(m_Options.com));
    }
    return paths;
}

int PtyServer::CheckLinks(std::string& error) {
    for (const auto& path : LinkPaths()) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            continue;  // free
        }
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is not a link: left alone (choose another path)";
            return 0;
        }
        const std::string target = ReadLink(path);
        if (!m_Options.replace && !IsStaleSimulatorLink(target)) {
            error = path;
            error += " already links to " + target;
            error += ": not replaced (--replace takes it over and puts it back at exit)";
            return 0;
        }
    }
    return 1;
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
    // Taken as our controlling terminal before anyone else can open the line. Its
    // job-control characters (0x1A, 0x1C are text bytes to the display) stop nothing.
    if (m_Options.ownTerminal) {
        if (ioctl(m_SlaveHold, TIOCSCTTY, 0) != 0) {
            error = Failed("ioctl TIOCSCTTY", m_SlavePath);
            return 0;
        }
        for (const int sig : {SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU}) {
            signal(sig, SIG_IGN);
        }
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
    if (m_Options.com > 0) {
        const std::string dir = PortsDirectory();
        if (!MakeDirectories(dir)) {
            error = Failed("mkdir", dir);
            return 0;
        }
    }
    for (const auto& path : LinkPaths()) {
        if (!MakeLink(path, error)) {
            return 0;
        }
    }
    return 1;
}

// CheckLinks() has allowed the path: free, a stale link of ours, or one to take over.
int PtyServer::MakeLink(const std::string& path, std::string& error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        // symlink() never overwrites: whatever appeared meanwhile is left alone.
        if (symlink(m_SlavePath.c_str(), path.c_str()) != 0) {
            error = Failed("symlink", path);
            return 0;
        }
        m_Links.push_back({path, ""});
        return 1;
    }
    if (!S_ISLNK(st.st_mode)) {
        errno = EEXIST;
        error = Failed("symlink", path) + " (not a link, left alone)";
        return 0;
    }
    const std::string old = ReadLink(path);
    const bool stale = IsStaleSimulatorLink(old);
    if (!stale && !m_Options.replace) {
        errno = EEXIST;
        error = Failed("symlink", path) + " (links to " + old + ", left alone)";
        return 0;
    }
    if (!ReplaceLink(m_SlavePath, path)) {
        error = Failed("symlink", path);
        return 0;
    }
    std::fprintf(stderr, "vyx-display-sim: %s %s (it linked to %s)\n",
                 stale ? "replacing the stale link" : "taking over until exit", path.c_str(),
                 old.c_str());
    m_Links.push_back({path, stale ? "" : old});
    return 1;
}

// Touches only links that still point at our pseudo-terminal: another simulator, or the
// user, may have taken the name over meanwhile. A link taken over is put back.
void PtyServer::RemoveLinks() {
    for (const auto& link : m_Links) {
        if (ReadLink(link.path) != m_SlavePath) {
            continue;
        }
        if (link.oldTarget.empty()) {
            unlink(link.path.c_str());
        } else if (!ReplaceLink(link.oldTarget, link.path)) {
            std::fprintf(stderr, "vyx-display-sim: could not put back %s -> %s: %s\n",
                         link.path.c_str(), link.oldTarget.c_str(), std::strerror(errno));
        }
    }
    m_Links.clear();
}

int PtyServer::Run() {
    if (m_Options.plain) {
        std::string where = m_SlavePath;
        for (const auto& link : m_Links) {
            where += " " + link.path;
        }
        Log("ready " + where + " at " + std::to_string(m_Sim.ListenRate()) + " bps");
    } else {
        m_Output.Write("\x1b[?25l\x1b[2J");  // hide the cursor, clear the screen
        Draw();
    }
    while (!m_Stop) {
        const auto now = Clock::now();
        const bool blocked = !WriteDue(now);
        std::array<pollfd, 4> fds{};
        fds[0] = {m_Signals, POLLIN, 0};
        fds[1] = {m_Inotify, POLLIN, 0};
        fds[2] = {m_Master, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
        // Standard output only while something waits for it (a negative fd is skipped).
        fds[3] = {m_Output.Idle() ? -1 : m_Output.Fd(), POLLOUT, 0};
        const int ready = poll(fds.data(), fds.size(), PollTimeoutMs(now, blocked));
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "vyx-display-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        const auto after = Clock::now();
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            // As its controlling terminal the line itself can signal us: a host that
            // leaves ISIG on sends SIGINT with every ETX (0x03). Only a sender stops us.
            if (read(m_Signals, &info, sizeof info) > 0 &&
                !(m_Options.ownTerminal && info.ssi_code == SI_KERNEL)) {
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
        FlushOutput();
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
    // The last words, and what still waits, go out if the output takes them soon; a
    // blocked output does not hold up the exit.
    constexpr auto kLastWords = std::chrono::milliseconds(100);
    m_Output.Drain(kLastWords);
    const bool blocked = !m_Output.Idle();
    FlushOutput();
    if (m_Options.plain) {
        Log("bye");
    } else {
        m_Output.Write("\x1b[?25h\n");
    }
    m_Output.Drain(blocked ? std::chrono::milliseconds(0) : kLastWords);
    return 0;
}

void PtyServer::OnMasterReadable(Clock::time_point now) {
    std::array<std::uint8_t, 4096> buf{};
    const ssize_t n = read(m_Master, buf.data(), buf.size());
    if (n <= 0) {
        return;  // EAGAIN, or EIO while the slave is being reopened: poll again
    }
    if (buf[0] != TIOCPKT_DATA) {
        // A status packet: the host flushed its side of the line (or we did, when the
        // last host left: that one must not start the flood for the next host).
        const bool flushed = (buf[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) != 0;
        if (flushed && m_OwnFlush) {
            m_OwnFlush = false;
        } else if (flushed && m_FloodArmed) {
            StartFlood(now);
        }
        return;
    }
    const std::span<const std::uint8_t> data(buf.data() + 1, static_cast<std::size_t>(n - 1));
    std::vector<Event> events;
    std::vector<Event>* const log = m_Options.plain ? &events : nullptr;
    const LineSettings host = HostLine();
    // A host drains a rate frame and then switches its side to the new rate. On a wire
    // the frame went out at the old rate whatever the host does next; a pseudo-terminal
    // carries no rate, and its tcdrain does not wait for us to read, so a loaded
    // simulator may read the frame only after the switch. When the host's side changed
    // since the last read, the bytes up to the first rate frame are taken at the side it
    // had then, if that side was in step with the display; the rest at the side it has.
    std::size_t earlier = 0;
    if (m_EarlierHost && !(*m_EarlierHost == host) && m_Sim.InStep(*m_EarlierHost)) {
        earlier = EndOfFirstRateFrame(data);
    }
    std::vector<std::uint8_t> reply;
    if (earlier > 0) {
        reply = m_Sim.Feed(data.first(earlier), *m_EarlierHost, log);
    }
    if (earlier < data.size()) {
        const auto rest = m_Sim.Feed(data.subspan(earlier), host, log);
        reply.insert(reply.end(), rest.begin(), rest.end());
    }
    m_EarlierHost = host;
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
    std::vector<inotify_event> events;
    for (ssize_t at = 0; at < n;) {
        inotify_event event{};
        std::memcpy(&event, buf.data() + at, sizeof event);
        at += static_cast<ssize_t>(sizeof event + event.len);
        events.push_back(event);
    }
    for (std::size_t i = 0; i < events.size(); ++i) {
        const inotify_event& event = events[i];
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
                const bool reopened =
                    std::any_of(events.begin() + static_cast<std::ptrdiff_t>(i) + 1, events.end(),
                                [](const inotify_event& e) { return (e.mask & IN_OPEN) != 0; });
                OnHostGone(reopened, now);
            }
            Log("close");
        }
    }
    Draw();
}

// The host's last descriptor has closed: nobody is on the line, so nothing the display
// had still to send reaches anyone. Bytes the host wrote before it closed are taken first
// (their replies are dropped too), unless another host has opened since: its bytes may be
// among them, and must not lose their answer.
void PtyServer::OnHostGone(bool reopened, Clock::time_point now) {
    if (!reopened) {
        for (int i = 0; i < 64; ++i) {  // bounded even if the master stays readable
            pollfd p{m_Master, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0) {
                break;
            }
            OnMasterReadable(now);
        }
    }
    std::size_t unsent = 0;
    for (const auto& s : m_Out) {
        unsent += s.bytes.size() - s.sent;
    }
    m_Out.clear();
    // And what went out but was never read: it would reach the next host.
    m_OwnFlush = tcflush(m_SlaveHold, TCIFLUSH) == 0;
    m_FloodArmed = false;  // a later opening arms it again
    if (unsent > 0) {
        Log("dropped " + std::to_string(unsent) + " bytes not yet sent: the host has gone");
    }
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
        // The display sends at its listening rate: a host set otherwise receives garbage.
        std::vector<std::uint8_t> wire(s.bytes.begin() + static_cast<std::ptrdiff_t>(s.sent),
                                       s.bytes.begin() + static_cast<std::ptrdiff_t>(due));
        const LineSettings host = HostLine();
        if (!m_Sim.InStep(host)) {
            DisplaySim::Garble(wire);
            if (!s.garbled) {
                s.garbled = true;
                Log("garbled: the host is at " + std::to_string(host.rate) + " bps" +
                    (host.framing == Framing{} ? "" : " with other framing") +
                    ", the display sends at " + std::to_string(m_Sim.ListenRate()) + " bps");
            }
        }
        const ssize_t n = write(m_Master, wire.data(), wire.size());
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

// Linux keeps a pseudo-terminal at 8 data bits without parity whatever the host asks,
// but the stop bits it reports are the host's.
LineSettings PtyServer::HostLine() const {
    termios tio{};
    if (tcgetattr(m_Master, &tio) != 0) {
        return {};
    }
    LineSettings line;
    line.rate = BpsOf(cfgetospeed(&tio));
    const tcflag_t size = tio.c_cflag & CSIZE;
    line.framing.dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    line.framing.parity = (tio.c_cflag & PARENB) != 0;
    line.framing.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return line;
}

// 10 bits a byte: start bit, 8 data bits, stop bit.
PtyServer::Clock::duration PtyServer::ByteTime() const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10'000'000'000LL / static_cast<long long>(m_Sim.ListenRate())));
}

// A line that does not fit behind those still waiting is dropped, and the drops are
// reported in a line of their own once the output has taken everything.
void PtyServer::Log(const std::string& line) {
    if (m_Options.plain && !m_Output.Write(line + "\n")) {
        ++m_DroppedLines;
    }
}

// While an earlier drawing is still going out, a new one would only be overtaken by the
// next: it is skipped, counted, and made once the output is idle again.
void PtyServer::Draw() {
    if (m_Options.plain) {
        return;
    }
    if (!m_Output.Idle()) {
        ++m_DroppedDraws;
        m_DrawPending = true;
        return;
    }
    m_DrawPending = false;
    std::string where = m_SlavePath;
    for (const auto& link : m_Links) {
        where += " <- " + link.path;
    }
    // Redraw in place from the top left; each line clears what a longer one left.
    std::string screen = "\x1b[H";
    for (const char ch : RenderScreen(m_Sim, {where, m_HostOpens > 0, m_DroppedDraws})) {
        screen += ch == '\n' ? std::string("\x1b[K\n") : std::string(1, ch);
    }
    m_Output.Write(screen);
}

void PtyServer::FlushOutput() {
    m_Output.Flush();
    if (!m_Output.Idle()) {
        return;
    }
    if (m_DrawPending) {
        Draw();
    }
    if (m_DroppedLines > 0) {
        const std::string note = "dropped " + std::to_string(m_DroppedLines) +
                                 " log lines: standard output was blocked\n";
        if (m_Output.Write(note)) {
            m_DroppedLines = 0;
        }
    }
}

}  // namespace vyx::sim
