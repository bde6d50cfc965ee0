// The real vyx-display-sim process on a real pseudo-terminal. The host side opens the
// link with plain termios. Every wait is for an event (a log line, bytes, end of
// file) with a deadline; nothing sleeps.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef VYX_DISPLAY_SIM_PATH
#error "VYX_DISPLAY_SIM_PATH must name the vyx-display-sim executable"
#endif

namespace vyx::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(10);

const Bytes kQuery = {0x02, 0x01, 0x44, 0x03, 0x46};

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// A scratch folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        char templ[] = "/tmp/vyx-sim-test-XXXXXX";
        m_Path = mkdtemp(templ) ? templ : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_Path, ec);
    }
    const std::string& path() const { return m_Path; }

  private:
    std::string m_Path;
};

// How the simulator is started, beyond its arguments.
struct Start {
    std::string portsDir;      // $VYX_PORTS_DIR ("": unset)
    int stdoutFd = -1;         // its standard output (-1: the log pipe)
    bool mergeStderr = false;  // standard error to the log pipe too
    int pipeSize = 0;          // capacity of the log pipe (0: the system's)
    bool groupLeader = false;  // started as a process group leader, as job control does
};

Start WithPorts(const std::string& portsDir) {
    Start start;
    start.portsDir = portsDir;
    return start;
}

// vyx-display-sim (normally --plain) with its log on a pipe.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args, const std::string& portsDir = "")
        : SimProcess(std::move(args), WithPorts(portsDir)) {}
    SimProcess(std::vector<std::string> args, const Start& start) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        if (start.pipeSize > 0) {
            fcntl(out[0], F_SETPIPE_SZ, start.pipeSize);
        }
        const std::string portsDir = start.portsDir;
        m_Pid = fork();
        if (m_Pid == 0) {
            dup2(start.stdoutFd >= 0 ? start.stdoutFd : out[1], STDOUT_FILENO);
            if (start.mergeStderr) {
                dup2(out[1], STDERR_FILENO);
            }
            if (start.groupLeader) {
                setpgid(0, 0);
            }
            if (!portsDir.empty()) {
                setenv("VYX_PORTS_DIR", portsDir.c_str(), 1);
            }
            std::vector<char*> argv;
            std::string path = VYX_DISPLAY_SIM_PATH;
            argv.push_back(path.data());
            for (auto& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        m_Out = out[0];
        m_PidFd = static_cast<int>(syscall(SYS_pidfd_open, m_Pid, 0));
    }
    ~SimProcess() {
        if (m_Pid > 0) {
            kill(m_Pid, SIGKILL);
            waitpid(m_Pid, nullptr, 0);
        }
        for (const int fd : {m_Out, m_PidFd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    // Waits for the process to end; its exit status, or -1 on deadline (or a signal).
    int WaitExit(Clock::time_point deadline) {
        pollfd p{m_PidFd, POLLIN, 0};
        if (m_PidFd < 0 || poll(&p, 1, MsLeft(deadline)) <= 0) {
            return -1;
        }
        int status = 0;
        if (waitpid(m_Pid, &status, 0) != m_Pid) {
            return -1;
        }
        m_Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int sig) const { kill(m_Pid, sig); }
    pid_t pid() const { return m_Pid; }
    // Everything logged until end of file or the deadline.
    std::string Rest(Clock::time_point deadline) {
        std::string all;
        for (std::string line = NextLine(deadline); !line.empty(); line = NextLine(deadline)) {
            all += line + "\n";
        }
        return all + m_Buffer;
    }

    // Next log line, or "" at end of file or deadline.
    std::string NextLine(Clock::time_point deadline) {
        while (true) {
            const auto nl = m_Buffer.find('\n');
            if (nl != std::string::npos) {
                std::string line = m_Buffer.substr(0, nl);
                m_Buffer.erase(0, nl + 1);
                m_Lines.push_back(line);
                return line;
            }
            pollfd p{m_Out, POLLIN, 0};
            if (poll(&p, 1, MsLeft(deadline)) <= 0) {
                return "";
            }
            char chunk[512];
            const ssize_t n = read(m_Out, chunk, sizeof chunk);
            if (n <= 0) {
                return "";
            }
            m_Buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // Reads log lines until one starts with `prefix`; returns it, or "" on deadline.
    std::string WaitFor(const std::string& prefix) {
        const auto deadline = Clock::now() + kDeadline;
        for (std::string line = NextLine(deadline); Clock::now() < deadline || !line.empty();
             line = NextLine(deadline)) {
            if (line.rfind(prefix, 0) == 0) {
                return line;
            }
            if (line.empty() && Clock::now() >= deadline) {
                break;
            }
        }
        return "";
    }
    // SIGTERM, then the log to its end; returns the exit status (-1 on deadline).
    int Stop() {
        kill(m_Pid, SIGTERM);
        const auto deadline = Clock::now() + kDeadline;
        while (!NextLine(deadline).empty()) {
        }
        int status = 0;
        // EOF on the log means the process has closed its stdout, i.e. is exiting.
        const pid_t done = Clock::now() < deadline ? waitpid(m_Pid, &status, 0) : 0;
        if (done != m_Pid) {
            return -1;
        }
        m_Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const auto& l : m_Lines) {
            n += l.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return n;
    }

  private:
    pid_t m_Pid = -1;
    int m_Out = -1;
    int m_PidFd = -1;
    std::string m_Buffer;
    std::vector<std::string> m_Lines;
};

// The host's end: the link opened and configured like a serial port.
class HostLine {
  public:
    HostLine(const std::string& path, speed_t speed) {
        m_Fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (m_Fd < 0 || tcgetattr(m_Fd, &tio) != 0) {
            return;
        }
        cfmakeraw(&tio);
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tcsetattr(m_Fd, TCSANOW, &tio);
        tcflush(m_Fd, TCIOFLUSH);
    }
    ~HostLine() {
        if (m_Fd >= 0) {
            close(m_Fd);
        }
    }
    bool ok() const { return m_Fd >= 0; }
    int fd() const { return m_Fd; }
    bool Write(const Bytes& bytes) const {
        return write(m_Fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Writes all bytes, waiting for room as long as the deadline allows.
    bool WriteAll(const Bytes& bytes) {
        const auto deadline = Clock::now() + kDeadline;
        for (std::size_t done = 0; done < bytes.size();) {
            pollfd p{m_Fd, POLLOUT, 0};
            if (poll(&p, 1, MsLeft(deadline)) <= 0) {
                return false;
            }
            const ssize_t n = write(m_Fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno != EAGAIN) {
                return false;
            }
            done += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        return true;
    }
    // Sets the host's side of the line: speed and number of stop bits.
    bool Set(speed_t speed, bool twoStopBits = false) const {
        termios tio{};
        if (tcgetattr(m_Fd, &tio) != 0) {
            return false;
        }
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tio.c_cflag = twoStopBits ? (tio.c_cflag | CSTOPB) : (tio.c_cflag & ~tcflag_t{CSTOPB});
        return tcsetattr(m_Fd, TCSANOW, &tio) == 0;
    }
    // Nothing arrives for `pause`: the line is idle that long (the pause is the input
    // under test, not a wait for something to happen). False if a byte came.
    bool Idle(std::chrono::milliseconds pause) {
        pollfd p{m_Fd, POLLIN, 0};
        return poll(&p, 1, static_cast<int>(pause.count())) == 0;
    }
    // Reads until `count` bytes have come or the deadline passed.
    Bytes Read(std::size_t count) {
        Bytes got;
        const auto deadline = Clock::now() + kDeadline;
        while (got.size() < count) {
            pollfd p{m_Fd, POLLIN, 0};
            if (poll(&p, 1, MsLeft(deadline)) <= 0) {
                break;
            }
            std::uint8_t buf[4096];
            const ssize_t n = read(m_Fd, buf, std::min(sizeof buf, count - got.size()));
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                break;  // hung up: the line stays readable for ever, nothing more comes
            }
            if (n > 0) {
                got.insert(got.end(), buf, buf + n);
            }
        }
        return got;
    }

  private:
    int m_Fd = -1;
};

// The reply of a display with firmware "V1.0", settings 0, 0, 0 and the given rate index.
Bytes ExpectedReply(std::uint8_t rateIndex) {
    Bytes r{0x02, 0x12, 'D', 'V', '1', '.', '0', 0,         0,    0,   0,
            0,    0,    0,   0,   0,   0,   0,   rateIndex, 0x00, 0x03};
    std::uint8_t bcc = 0;
    for (std::size_t i = 1; i < r.size(); ++i) {
        bcc = static_cast<std::uint8_t>(bcc ^ r[i]);
    }
    r.push_back(bcc);
    return r;
}

TEST(SimProcess, AnswersAQueryOnTheLinkAndRemovesTheLinkAtExit) {
    TempDir dir;
    const std::string link = dir.path() + "/x";
    SimProcess sim({"--plain", "--link", link});
    ASSERT_NE(sim.WaitFor("ready"), "");
    {
        HostLine host(link, B9600);
        ASSERT_TRUE(host.ok());
        ASSERT_TRUE(host.Write(kQuery));
        EXPECT_EQ(host.Read(22), ExpectedReply(0));
    }
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Count("bye"), 1);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
}

TEST(SimProcess, WrongRateIsNoiseAndRateCommandHoldsAcrossReopening) {
    TempDir dir;
    const std::string link = dir.path() + "/x";
    SimProcess sim({"--plain", "--link", link});
    ASSERT_NE(sim.WaitFor("ready"), "");
    {
        HostLine host(link, B19200);
        ASSERT_TRUE(host.Write(kQuery));
        EXPECT_NE(sim.WaitFor("noise 5 bytes at 19200 bps"), "");
    }
    {
        HostLine host(link, B9600);
        ASSERT_TRUE(host.Write({0x02, 0x02, 0x33, 0x04, 0x03, 0x36}));
        EXPECT_NE(sim.WaitFor("frame 3 04"), "");
    }
    {
        HostLine host(link, B115200);
        ASSERT_TRUE(host.Write(kQuery));
        EXPECT_EQ(host.Read(22), ExpectedReply(4));
        EXPECT_NE(sim.WaitFor("reply"), "");
    }
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Count("reply"), 1) << "the query at the wrong rate was answered";
    EXPECT_EQ(sim.Count("open"), 3);
}

// A host drains a rate frame and switches its side at once; a pseudo-terminal's drain
// does not wait for the simulator, which may read the frame only after the switch (here
// it is held stopped meanwhile). The frame went out at the old rate, so it still takes,
// and the query sent after it at the new rate is answered at the new rate.
TEST(SimProcess, ARateFrameReadOnlyAfterTheHostSwitchedStillTakes) {
    TempDir dir;
    const std::string link = dir.path() + "/x";
    SimProcess sim({"--plain", "--no-pacing", "--link", link});
    ASSERT_NE(sim.WaitFor("ready"), "");
    HostLine host(link, B9600);
    ASSERT_TRUE(host.Write(kQuery));
    ASSERT_EQ(host.Read(22), ExpectedReply(0));  // the display has heard the host at 9600
    ASSERT_EQ(kill(sim.pid(), SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(waitpid(sim.pid(), &status, WUNTRACED), sim.pid());
    ASSERT_TRUE(WIFSTOPPED(status));
    const bool written =
        host.Write({0x02, 0x02, 0x33, 0x04, 0x03, 0x36}) && host.Set(B115200) && host.Write(kQuery);
    ASSERT_EQ(kill(sim.pid(), SIGCONT), 0);
    ASSERT_TRUE(written);
    EXPECT_EQ(host.Read(22), ExpectedReply(4));
    EXPECT_NE(sim.WaitFor("frame 3 04"), "");
}

TEST(SimProcess, RepliesArePacedAtTheLineRate) {
    TempDir dir;
    const std::string link = dir.path() + "/x";
    SimProcess sim({"--plain", "--link", link});
    ASSERT_NE(sim.WaitFor("ready"), "");
    HostLine host(link, B9600);
    const auto sent = Clock::now();
    ASSERT_TRUE(host.Write(kQuery));
    ASSERT_EQ(host.Read(22).size(), 22u);
    // Byte i of the reply is complete on the wire i + 1 byte times after the query was
    // read (10 bits a byte), so the last of 22 takes 22 * 10 / 9600 s. A lower bound
    // only, so a slow machine cannot fail it.
    EXPECT_GE(Clock::now() - sent, std::chrono::microseconds(22 * 10 * 1000000 / 9600));
}

TEST(SimProcess, ShortSplitAndSilentReplies) {
    TempDir dir;
    {
        const std::string link = dir.path() + "/short";
        SimProcess sim({"--plain", "--no-pacing", "--short-reply", "--link", link});
        ASSERT_NE(sim.WaitFor("ready"), "");
        HostLine host(link, B9600);
        ASSERT_TRUE(host.Write(kQuery));
        Bytes first = host.Read(21);
        ASSERT_TRUE(host.Write(kQuery));
        const Bytes second = host.Read(21);
        // Had a 22nd byte been sent, the second reply would start one byte late.
        Bytes expected = ExpectedReply(0);
        expected.pop_back();
        EXPECT_EQ(first, expected);
        EXPECT_EQ(second, expected);
    }
    {
        const std::string link = dir.path() + "/split";
        SimProcess sim({"--plain", "--no-pacing", "--reply-split", "5", "--split-pause", "80",
                        "--link", link});
        ASSERT_NE(sim.WaitFor("ready"), "");
        HostLine host(link, B9600);
        ASSERT_TRUE(host.Write(kQuery));
        const Bytes head = host.Read(5);
        const auto afterHead = Clock::now();
        const Bytes tail = host.Read(17);
        EXPECT_GE(Clock::now() - afterHead, std::chrono::milliseconds(60));
        Bytes all = head;
        all.insert(all.end(), tail.begin(), tail.end());
        EXPECT_EQ(all, ExpectedReply(0));
    }
    {
        const std::string link = dir.path() + "/silent";
        SimProcess sim({"--plain", "--silent", "--link", link});
        ASSERT_NE(sim.WaitFor("ready"), "");
        HostLine host(link, B9600);
        ASSERT_TRUE(host.Write(kQuery));
        EXPECT_NE(sim.WaitFor("reply withheld"), "");
    }
}

TEST(SimProcess, FloodSurvivesTheHostsPurgeAtOpening) {
    TempDir dir;
    const std::string link = dir.path() + "/x";
    SimProcess sim({"--plain", "--no-pacing", "--flood", "9000", "--link", link});
    ASSERT_NE(sim.WaitFor("ready"), "");
    HostLine host(link, B9600);  // opens, configures, flushes
    EXPECT_NE(sim.WaitFor("flood 9000"), "");
    EXPECT_EQ(host.Read(9000).size(), 9000u);
}

TEST(SimProcess, ExclusiveUseEndsWithTheHostsLastClose) {
    TempDir dir;
    const std::string link = dir.path() + "/x";
    SimProcess sim({"--plain", "--link", link});
    ASSERT_NE(sim.WaitFor("ready"), "");
    {
        HostLine host(link, B9600);
        ASSERT_EQ(ioctl(host.fd(), TIOCEXCL), 0);
        ASSERT_NE(sim.WaitFor("open"), "");
    }  // closed without TIOCNXCL, as a crashed host would
    ASSERT_NE(sim.WaitFor("close"), "");
    // Root may open an exclusive tty anyway, so look at the flag itself.
    HostLine next(link, B9600);
    ASSERT_TRUE(next.ok());
    int exclusive = -1;
    ASSERT_EQ(ioctl(next.fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ASSERT_TRUE(next.Write(kQuery));
    EXPECT_EQ(next.Read(22), ExpectedReply(0));
}

TEST(SimProcess, ComLinkInThePortsFolder) {
    TempDir dir;
    const std::string ports = dir.path() + "/ports";  // made by the simulator
    SimProcess sim({"--plain", "--com", "7"}, ports);
    ASSERT_NE(sim.WaitFor("ready"), "");
    const std::string link = ports + "/COM7";
    {
        HostLine host(link, B9600);
        ASSERT_TRUE(host.ok());
        ASSERT_TRUE(host.Write(kQuery));
        EXPECT_EQ(host.Read(22).size(), 22u);
    }
    EXPECT_EQ(sim.Stop(), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

std::string LinkTarget(const std::string& path) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(path, ec);
    return ec ? "" : target.string();
}

// A link or file the user made is never lost: refused unless --replace, which takes a
// link over and puts it back at exit. Only a dangling link to a /dev/pts entry (an
// earlier run that could not clean up) is replaced unasked.
TEST(SimProcess, ExistingLinksAreRefusedOrTakenOverAndPutBack) {
    enum class Existing { UserLink, StaleLink, File };
    struct Case {
        const char* name;
        bool com;
        Existing existing;
        bool replace;
        int refusedWith;  // exit status when refused, -1 when it serves
    };
    const Case cases[] = {
        {"user's COM4 link", true, Existing::UserLink, false, 2},
        {"user's --link", false, Existing::UserLink, false, 2},
        {"user's COM4 link, --replace", true, Existing::UserLink, true, -1},
        {"user's --link, --replace", false, Existing::UserLink, true, -1},
        {"stale link of an earlier run", true, Existing::StaleLink, false, -1},
        {"a file, even with --replace", false, Existing::File, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string ports = dir.path() + "/ports";
        ASSERT_EQ(mkdir(ports.c_str(), 0755), 0);
        const std::string path = c.com ? ports + "/COM4" : dir.path() + "/x";
        const std::string userTarget = "/dev/ttyUSB0";
        switch (c.existing) {
            case Existing::UserLink:
                ASSERT_EQ(symlink(userTarget.c_str(), path.c_str()), 0);
                break;
            case Existing::StaleLink:
                ASSERT_EQ(symlink("/dev/pts/987654", path.c_str()), 0);
                break;
            case Existing::File:
                std::ofstream(path) << "mine";
                break;
        }
        std::vector<std::string> args = {"--plain"};
        if (c.com) {
            args.insert(args.end(), {"--com", "4"});
        } else {
            args.insert(args.end(), {"--link", path});
        }
        if (c.replace) {
            args.push_back("--replace");
        }
        Start start = WithPorts(ports);
        start.mergeStderr = true;
        SimProcess sim(args, start);
        if (c.refusedWith >= 0) {
            EXPECT_EQ(sim.WaitExit(Clock::now() + kDeadline), c.refusedWith);
            const std::string said = sim.Rest(Clock::now() + kDeadline);
            EXPECT_NE(said.find(path), std::string::npos) << said;
            if (c.existing == Existing::UserLink) {
                EXPECT_NE(said.find("--replace"), std::string::npos) << said;
                EXPECT_EQ(LinkTarget(path), userTarget);
            } else {
                std::ifstream in(path);
                std::string content;
                in >> content;
                EXPECT_EQ(content, "mine");
            }
            continue;
        }
        ASSERT_NE(sim.WaitFor("ready"), "");
        EXPECT_EQ(LinkTarget(path).rfind("/dev/pts/", 0), 0u) << LinkTarget(path);
        {
            HostLine host(path, B9600);
            ASSERT_TRUE(host.ok());
            ASSERT_TRUE(host.Write(kQuery));
            EXPECT_EQ(host.Read(22), ExpectedReply(0));
        }
        EXPECT_EQ(sim.Stop(), 0);
        if (c.existing == Existing::UserLink) {
            EXPECT_EQ(LinkTarget(path), userTarget) << "the user's link was not put back";
        } else {
            struct stat st {};
            EXPECT_NE(lstat(path.c_str(), &st), 0) << "stale link left behind";
        }
    }
}

// Output nobody takes: a log pipe that is never read, or a terminal paused as by
// Ctrl-S. The display still answers, counts what it dropped, and stops on SIGTERM.
class StalledOutput {
  public:
    explicit StalledOutput(bool terminal) : m_Terminal(terminal) {
        if (terminal) {
            m_Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (m_Master < 0 || grantpt(m_Master) != 0 || unlockpt(m_Master) != 0) {
                return;
            }
            m_Slave = open(ptsname(m_Master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        }
    }
    ~StalledOutput() {
        for (const int fd : {m_Master, m_Slave}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    std::vector<std::string> Args(const std::string& link) const {
        std::vector<std::string> args = {"--link", link};
        if (!m_Terminal) {
            args.insert(args.begin(), "--plain");
        }
        return args;
    }
    Start HowToStart() const {
        Start start;
        start.stdoutFd = m_Slave;
        start.pipeSize = 4096;
        return start;
    }
    // Waits until the simulator is serving, then lets its output back up.
    bool ReadyThenStall(SimProcess& sim) {
        if (!m_Terminal) {
            return !sim.WaitFor("ready").empty();  // and from now on nobody reads
        }
        const bool ready = ReadTerminalUntil("host closed");
        return ready && tcflow(m_Slave, TCOOFF) == 0;
    }
    // Takes the output up again and waits for what says how much was dropped.
    bool ResumeAndFindDropCount(SimProcess& sim) {
        if (!m_Terminal) {
            return sim.WaitFor("dropped ").find(" log lines") != std::string::npos;
        }
        return tcflow(m_Slave, TCOON) == 0 && ReadTerminalUntil(" updates dropped");
    }

  private:
    bool ReadTerminalUntil(const std::string& text) {
        const auto deadline = Clock::now() + kDeadline;
        while (m_Screen.find(text) == std::string::npos) {
            pollfd p{m_Master, POLLIN, 0};
            if (poll(&p, 1, MsLeft(deadline)) <= 0) {
                return false;
            }
            char buf[4096];
            const ssize_t n = read(m_Master, buf, sizeof buf);
            if (n > 0) {
                m_Screen.append(buf, static_cast<std::size_t>(n));
            }
        }
        m_Screen.erase(0, m_Screen.find(text) + text.size());
        return true;
    }

    bool m_Terminal;
    int m_Master = -1;
    int m_Slave = -1;
    std::string m_Screen;
};

TEST(SimProcess, StalledOutputNeverStallsTheDisplay) {
    // Each junk byte gives three characters of log or a redraw: far more than the pipe,
    // the terminal and the simulator's own queue hold.
    const Bytes junk(std::size_t{32} * 1024, 'x');
    for (const bool terminal : {false, true}) {
        for (const bool resume : {false, true}) {
            SCOPED_TRACE(std::string(terminal ? "paused terminal" : "unread pipe") +
                         (resume ? ", taken up again" : ", SIGTERM"));
            TempDir dir;
            const std::string link = dir.path() + "/x";
            StalledOutput out(terminal);
            SimProcess sim(out.Args(link), out.HowToStart());
            ASSERT_TRUE(out.ReadyThenStall(sim));
            HostLine host(link, B9600);
            ASSERT_TRUE(host.ok());
            for (std::size_t at = 0; at < junk.size(); at += 512) {
                ASSERT_TRUE(
                    host.WriteAll(Bytes(junk.begin() + long(at), junk.begin() + long(at) + 512)));
            }
            ASSERT_TRUE(host.WriteAll(kQuery));
            EXPECT_EQ(host.Read(22), ExpectedReply(0));
            if (resume) {
                EXPECT_TRUE(out.ResumeAndFindDropCount(sim));
            } else {
                sim.Signal(SIGTERM);
                EXPECT_EQ(sim.WaitExit(Clock::now() + kDeadline), 0) << "did not stop on SIGTERM";
            }
        }
    }
}

// A host that asked and went away without reading: what was not sent yet is dropped,
// and the next host hears only its own answers.
TEST(SimProcess, RepliesToAHostThatHasGoneAreDropped) {
    TempDir dir;
    const std::string link = dir.path() + "/x";
    SimProcess sim({"--plain", "--link", link});  // paced: 50 replies take over a second
    ASSERT_NE(sim.WaitFor("ready"), "");
    {
        HostLine first(link, B9600);
        Bytes queries;
        for (int i = 0; i < 50; ++i) {
            queries.insert(queries.end(), kQuery.begin(), kQuery.end());
        }
        ASSERT_TRUE(first.WriteAll(queries));
        ASSERT_NE(sim.WaitFor("reply"), "");
    }
    ASSERT_NE(sim.WaitFor("close"), "");
    HostLine next(link, B9600);
    ASSERT_TRUE(next.Write({0x02, 0x02, 0x34, 0x09, 0x03, 0x3C}));  // command set 9
    ASSERT_TRUE(next.Write(kQuery));
    Bytes expected = ExpectedReply(0);
    expected[15] = 0x09;
    expected[21] ^= 0x09;
    EXPECT_EQ(next.Read(22), expected);
}

// The line as a wire would carry it: framing and speed judged in both directions, and a
// frame cut short by a pause given up.
TEST(SimProcess, LineFramingRateAndPausesAsOnAWire) {
    {
        SCOPED_TRACE("two stop bits");
        TempDir dir;
        const std::string link = dir.path() + "/x";
        SimProcess sim({"--plain", "--no-pacing", "--link", link});
        ASSERT_NE(sim.WaitFor("ready"), "");
        HostLine host(link, B9600);
        ASSERT_TRUE(host.Set(B9600, true));
        ASSERT_TRUE(host.Write(kQuery));
        EXPECT_NE(sim.WaitFor("noise 5 bytes at 9600 bps 8N2"), "");
        ASSERT_TRUE(host.Set(B9600, false));
        ASSERT_TRUE(host.Write(kQuery));
        EXPECT_EQ(host.Read(22), ExpectedReply(0));
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_EQ(sim.Count("reply"), 1) << "the query with two stop bits was answered";
    }
    {
        SCOPED_TRACE("host switched its rate while a reply was pending");
        TempDir dir;
        const std::string link = dir.path() + "/x";
        SimProcess sim({"--plain", "--reply-delay", "1000", "--link", link});
        ASSERT_NE(sim.WaitFor("ready"), "");
        HostLine host(link, B9600);
        ASSERT_TRUE(host.Write(kQuery));
        ASSERT_NE(sim.WaitFor("reply"), "");  // taken at 9600, answer still to come
        ASSERT_TRUE(host.Set(B19200));
        const Bytes got = host.Read(22);
        ASSERT_EQ(got.size(), 22u);
        EXPECT_EQ(std::count(got.begin(), got.end(), 0x02), 0) << "a frame start came through";
        EXPECT_NE(got, ExpectedReply(0));
        EXPECT_NE(sim.WaitFor("garbled"), "");
    }
    {
        SCOPED_TRACE("a pause after a cut-off frame");
        TempDir dir;
        const std::string link = dir.path() + "/x";
        SimProcess sim({"--plain", "--no-pacing", "--link", link});
        ASSERT_NE(sim.WaitFor("ready"), "");
        HostLine host(link, B9600);
        // A character, then a frame start whose length would take in the query below.
        ASSERT_TRUE(host.Write({'a', 0x02, 0x12, 0x44}));
        ASSERT_NE(sim.WaitFor("chars 61"), "");                  // the simulator has read them
        ASSERT_TRUE(host.Idle(std::chrono::milliseconds(100)));  // 20 characters: 21 ms
        ASSERT_TRUE(host.Write(kQuery));
        EXPECT_EQ(host.Read(22), ExpectedReply(0));
        EXPECT_NE(sim.WaitFor("rejected 02 12 44"), "");
    }
}

// Session and controlling terminal of a process, from /proc/PID/stat.
struct ProcessTerminal {
    pid_t session = -1;
    unsigned long tty = 0;  // tty_nr as the kernel encodes it
};

ProcessTerminal TerminalOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = all.rfind(')');
    ProcessTerminal t;
    if (close == std::string::npos) {
        return t;
    }
    std::istringstream fields(all.substr(close + 1));
    std::string state;
    long ppid = 0;
    long group = 0;
    long session = 0;
    fields >> state >> ppid >> group >> session >> t.tty;
    t.session = static_cast<pid_t>(session);
    return t;
}

unsigned long EncodedDevice(dev_t dev) {
    const unsigned long minorPart = minor(dev);
    return (minorPart & 0xff) | (static_cast<unsigned long>(major(dev)) << 8) |
           ((minorPart & ~0xfful) << 12);
}

// The one child of `pid` (the serving process when the simulator had to fork), or -1.
pid_t OnlyChild(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    long child = -1;
    long more = -1;
    in >> child >> more;
    return more == -1 ? static_cast<pid_t>(child) : -1;
}

// --own-terminal: the pseudo-terminal becomes the controlling terminal of the simulator's
// own session, whether it was started as a group leader (it then forks and the process
// started stays in charge of stopping) or not. Bytes that the line turns into signals
// while a host leaves ISIG on (ETX is ^C) do not stop it; SIGTERM does, link removed.
TEST(SimProcess, OwnTerminalTakesTheLineAsItsControllingTerminal) {
    for (const bool groupLeader : {false, true}) {
        SCOPED_TRACE(groupLeader ? "started as a group leader" : "started as a plain child");
        TempDir dir;
        const std::string link = dir.path() + "/x";
        Start start;
        start.groupLeader = groupLeader;
        SimProcess sim({"--plain", "--own-terminal", "--link", link}, start);
        ASSERT_NE(sim.WaitFor("ready"), "");
        struct stat st {};
        ASSERT_EQ(stat(link.c_str(), &st), 0);
        const pid_t server = groupLeader ? OnlyChild(sim.pid()) : sim.pid();
        ASSERT_GT(server, 0);
        const ProcessTerminal t = TerminalOf(server);
        EXPECT_EQ(t.session, server);
        EXPECT_EQ(t.tty, EncodedDevice(st.st_rdev));
        {
            HostLine host(link, B9600);
            ASSERT_TRUE(host.ok());
            termios tio{};
            ASSERT_EQ(tcgetattr(host.fd(), &tio), 0);
            tio.c_lflag |= ISIG | NOFLSH;  // the signal must not take the reply's bytes
            ASSERT_EQ(tcsetattr(host.fd(), TCSANOW, &tio), 0);
            // The reply's ETX now reaches the host as SIGINT to the terminal's owner
            // instead of as a byte: the rest of each reply still arrives.
            for (int round = 0; round < 2; ++round) {
                ASSERT_TRUE(host.Write(kQuery));
                EXPECT_NE(sim.WaitFor("reply"), "") << "round " << round;
                EXPECT_EQ(host.Read(21).size(), 21u) << "round " << round;
            }
        }
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_EQ(sim.Count("bye"), 1);
        EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
    }
}

}  // namespace
}  // namespace vyx::sim
