// The real vyx-display-sim process on a real pseudo-terminal. The host side opens the
// link with plain termios. Every wait is for an event (a log line, bytes, end of
// file) with a deadline; nothing sleeps.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

// vyx-display-sim --plain with its log on a pipe.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args, const std::string& portsDir = "") {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        m_Pid = fork();
        if (m_Pid == 0) {
            dup2(out[1], STDOUT_FILENO);
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
    }
    ~SimProcess() {
        if (m_Pid > 0) {
            kill(m_Pid, SIGKILL);
            waitpid(m_Pid, nullptr, 0);
        }
        if (m_Out >= 0) {
            close(m_Out);
        }
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
    bool Write(const Bytes& bytes) {
        return write(m_Fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
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

}  // namespace
}  // namespace vyx::sim
