// The termios device, driven through SerialPort against real pseudo-terminals: line
// state, exclusive opening, descriptors, hang-ups, stalled peers and the errors it
// reports. The port's own logic is tested on FakeDevice (SerialPortTest.cpp).

#include "serial/SerialPort.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/PtyPair.h"
#include "tests/support/SerialFakes.h"

namespace vyx {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::PtyPair;
using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> Pattern(std::size_t count, std::uint32_t seed = 0) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
    }
    return bytes;
}

std::vector<std::uint8_t> TakeAll(ReceiveQueue& queue) {
    std::vector<std::uint8_t> out;
    std::uint8_t byte = 0;
    while (queue.GetByte(byte) == 1) {
        out.push_back(byte);
    }
    return out;
}

int InputWaiting(int fd) {
    int n = 0;
    ioctl(fd, FIONREAD, &n);
    return n;
}

class TermiosDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_Pty.ok());
        // Sanitizer runtimes start a background thread with the first thread created; get
        // that done before any test takes its thread count.
        std::thread([] {}).join();
        m_Port.m_hNotifyWnd = &m_Window;
        m_Port.m_pAppMessageBox = &m_Box;
    }

    int Open(std::uint32_t rate = 9600, std::uint16_t number = 4) {
        return m_Port.OpenPort(m_Pty.SlavePath(), rate, number);
    }

    std::uint32_t Write(const std::vector<std::uint8_t>& bytes) {
        return m_Port.WriteComm(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }

    PtyPair m_Pty;
    test::RecordingWindow m_Window;
    test::TestMessageBox m_Box;
    SerialPort m_Port;
};

TEST_F(TermiosDeviceTest, WritesReachTheFarEndAndReceivedBytesAreQueuedAndNotified) {
    ASSERT_EQ(Open(9600, 3), 1);
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);
    EXPECT_EQ(m_Port.RunningWatchers(), 1);
    EXPECT_EQ(m_Port.LastGoodBaudRate(), 9600u);

    const auto frame = std::vector<std::uint8_t>{0x02, 0x01, 0x44, 0x03, 0x46};
    EXPECT_EQ(Write(frame), frame.size());
    EXPECT_EQ(m_Pty.Read(frame.size(), 2s), frame);

    const auto reply = Pattern(37);
    ASSERT_TRUE(m_Pty.Write(reply));
    ASSERT_TRUE(m_Window.WaitForCount(1, 5s));
    const auto message = m_Window.Messages().front();
    EXPECT_EQ(message.message, WM_COMM_READ);
    EXPECT_EQ(message.wParam, 3u);
    EXPECT_EQ(message.lParam, 36);  // last position of the 37-byte chunk
    EXPECT_EQ(TakeAll(m_Port.m_QueueRead), reply);

    m_Port.ClosePort();
    EXPECT_EQ(m_Port.m_bConnected.load(), 0);
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    EXPECT_EQ(Write(frame), 0u);  // not open: nothing written, no descriptor touched
}

// Opening and closing must leave nothing behind: no descriptor (device, eventfd), no
// thread. Every tenth port goes away through its destructor instead of ClosePort.
TEST_F(TermiosDeviceTest, ThousandOpenCloseCyclesLeaveDescriptorsAndThreadsUnchanged) {
    const int descriptors = test::OpenDescriptorCount();
    const int threads = test::ThreadCount();
    for (int i = 0; i < 1000; ++i) {
        if (i % 10 == 0) {
            SerialPort scoped;
            ASSERT_EQ(scoped.OpenPort(m_Pty.SlavePath(), 9600, 4), 1) << "cycle " << i;
            continue;
        }
        ASSERT_EQ(Open(), 1) << "cycle " << i;
        m_Port.ClosePort();
    }
    EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
    // A joined thread may stay listed in /proc for a moment after its join.
    EXPECT_TRUE(Eventually([&] { return test::ThreadCount() == threads; }));
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
}

TEST_F(TermiosDeviceTest, SecondOpenOfAnOpenDeviceFailsUntilTheFirstCloses) {
    ASSERT_EQ(Open(), 1);
    const int descriptors = test::OpenDescriptorCount();
    SerialPort other;
    EXPECT_EQ(other.OpenPort(m_Pty.SlavePath(), 9600, 4), 0);
    // Refused by the open itself (TIOCEXCL) or, for root, by the lock.
    EXPECT_EQ(other.LastError().kind, SerialError::Kind::Busy) << other.LastError().Line();
    EXPECT_EQ(other.LastError().path, m_Pty.SlavePath());
    EXPECT_EQ(other.m_bConnected.load(), 0);
    EXPECT_EQ(other.RunningWatchers(), 0);
    EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
    m_Port.ClosePort();
    EXPECT_EQ(other.OpenPort(m_Pty.SlavePath(), 9600, 4), 1);
}

// Names that cannot be opened as a serial port fail cleanly, leak nothing, and leave
// an error that names the call, the path and the system's code.
TEST_F(TermiosDeviceTest, UnopenableNamesFailWithoutLeaksAndSayWhy) {
    using Kind = SerialError::Kind;
    struct Case {
        const char* name;
        std::uint32_t rate;
        Kind kind;
        const char* call;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"/dev/null", 9600, Kind::NotASerialDevice, "isatty", ENOTTY,
         "Inappropriate ioctl for device"},
        {"/nonexistent/ttyUSB0", 9600, Kind::NoDevice, "open", ENOENT, "No such file or directory"},
        {"COM0", 9600, Kind::NotAPortName, "open", 0, "not a port name (COMn or a device path)"},
        {"COMX", 9600, Kind::NotAPortName, "open", 0, "not a port name (COMn or a device path)"},
        // An unsupported rate is refused before anything is opened.
        {"", 12345, Kind::BadSetting, "cfsetospeed", 0, "unsupported baud rate 12345"},
    };
    std::vector<SerialError> reported;
    m_Port.SetDiagnosticSink([&](const SerialError& e) { reported.push_back(e); });
    const int descriptors = test::OpenDescriptorCount();
    const int threads = test::ThreadCount();
    for (const Case& c : cases) {
        const std::string name = *c.name != 0 ? c.name : m_Pty.SlavePath();
        SCOPED_TRACE(name);
        reported.clear();
        EXPECT_EQ(m_Port.OpenPort(name, c.rate, 1), 0);
        EXPECT_EQ(m_Port.m_bConnected.load(), 0);
        EXPECT_EQ(m_Port.RunningWatchers(), 0);
        EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
        EXPECT_EQ(test::ThreadCount(), threads);
        const std::uint8_t byte = 0x41;
        EXPECT_EQ(m_Port.WriteComm(&byte, 1), 0u);

        const SerialError error = m_Port.LastError();
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_EQ(error.call, c.call);
        EXPECT_EQ(error.path, name);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.message, c.message);
        // Reported once, to the sink only, as the same value.
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0].Line(), error.Line());
    }
    // A good opening starts with no error.
    ASSERT_EQ(Open(), 1);
    EXPECT_FALSE(m_Port.LastError().Failed());
}

// Without a sink of the owner's, each failure is the one line it always was.
TEST_F(TermiosDeviceTest, DefaultSinkPrintsOneLineOnStandardError) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(m_Port.OpenPort("/nonexistent/ttyUSB0", 9600, 1), 0);
    EXPECT_EQ(m_Port.OpenPort("COMX", 9600, 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "open /nonexistent/ttyUSB0: No such file or directory\n"
              "open COMX: not a port name (COMn or a device path)\n");
}

class LineStateTest : public TermiosDeviceTest,
                      public ::testing::WithParamInterface<std::uint32_t> {};

// The device starts in a cooked state with handshakes the port must keep (CRTSCTS,
// HUPCL) and ones it must remove (XON/XOFF, parity, 7 bits, echo, CR/LF mapping).
TEST_P(LineStateTest, LineStateReadBackFromTheDevice) {
    const int fd = m_Pty.SlaveHoldFd();
    termios before{};
    ASSERT_EQ(tcgetattr(fd, &before), 0);
    before.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    before.c_cflag |= CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
    before.c_iflag |= IXON | IXOFF | IXANY | ICRNL;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ECHO | ICANON | ISIG;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);

    ASSERT_EQ(Open(GetParam()), 1);
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    const std::map<std::uint32_t, speed_t> speeds = {
        {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
    EXPECT_EQ(cfgetospeed(&after), speeds.at(GetParam()));
    EXPECT_EQ(cfgetispeed(&after), speeds.at(GetParam()));
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(after.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(after.c_cflag & (CRTSCTS | HUPCL), before.c_cflag & (CRTSCTS | HUPCL));
    EXPECT_EQ(after.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_EQ(after.c_oflag & OPOST, 0u);
    EXPECT_EQ(after.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(after.c_cc[VMIN], 1);
    EXPECT_EQ(after.c_cc[VTIME], 0);

    // Raw both ways: CR and LF pass unchanged.
    const std::vector<std::uint8_t> crlf = {'\r', '\n', 'A', '\n'};
    EXPECT_EQ(Write(crlf), crlf.size());
    EXPECT_EQ(m_Pty.Read(crlf.size(), 2s), crlf);
}

INSTANTIATE_TEST_SUITE_P(FiveRates, LineStateTest,
                         ::testing::Values(9600u, 19200u, 38400u, 57600u, 115200u));

// The device was left with XON/XOFF on; the port must turn it off, or the display's
// 0x13 would stop our output.
TEST_F(TermiosDeviceTest, ReceivedXoffDoesNotStallWriting) {
    termios tio{};
    ASSERT_EQ(tcgetattr(m_Pty.SlaveHoldFd(), &tio), 0);
    tio.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(tcsetattr(m_Pty.SlaveHoldFd(), TCSANOW, &tio), 0);
    ASSERT_EQ(Open(), 1);
    ASSERT_TRUE(m_Pty.Write(std::vector<std::uint8_t>{0x13}));
    ASSERT_TRUE(m_Window.WaitForCount(1, 5s));
    EXPECT_EQ(TakeAll(m_Port.m_QueueRead), std::vector<std::uint8_t>{0x13});
    const auto frame = Pattern(45);
    EXPECT_EQ(Write(frame), frame.size());
    EXPECT_EQ(m_Pty.Read(frame.size(), 2s), frame);
}

// The bound is generous on purpose: this proves the wake-up, not the speed.
TEST_F(TermiosDeviceTest, ClosePortEndsAWaitingOrPausingWatcherPromptly) {
    ASSERT_EQ(Open(), 1);
    auto start = Clock::now();
    m_Port.ClosePort();  // the watcher is waiting for input
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(m_Port.RunningWatchers(), 0);

    ASSERT_EQ(Open(), 1);
    ASSERT_TRUE(m_Pty.Write(std::vector<std::uint8_t>{1}));
    ASSERT_TRUE(Eventually([&] { return m_Port.m_QueueRead.GetCount() == 1; }));
    start = Clock::now();
    m_Port.ClosePort();  // the watcher is in its gathering pause
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
}

// A hang-up (here: the pseudo-terminal's master closes) must not make the watcher spin.
TEST_F(TermiosDeviceTest, FarEndVanishingCausesNoBusyLoopAndCloseStillWorks) {
    ASSERT_EQ(Open(), 1);
    testing::internal::CaptureStderr();
    m_Pty.CloseMaster();
    ASSERT_TRUE(Eventually([&] { return m_Port.DeviceLost(); }));
    const std::uint64_t wakeups = m_Port.WatcherWakeups();
    // An observation window, not a synchronisation: a spinning watcher would wake up
    // thousands of times in it.
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(m_Port.WatcherWakeups() - wakeups, 3u);
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);

    const auto start = Clock::now();
    const auto frame = Pattern(20);
    EXPECT_EQ(Write(frame), 0u);
    EXPECT_LT(Clock::now() - start, 500ms);
    m_Port.ClosePort();
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    EXPECT_EQ(m_Port.m_bConnected.load(), 0);
    EXPECT_EQ(m_Port.LastError().kind, SerialError::Kind::Lost);
    EXPECT_NE(diagnostics.find(m_Port.LastError().Line()), std::string::npos) << diagnostics;
    std::size_t lines = 0;
    for (std::size_t at = diagnostics.find("device lost"); at != std::string::npos;
         at = diagnostics.find("device lost", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u) << diagnostics;
}

// Fills the far end's input until it takes nothing more, then reads `room` bytes back
// and waits until the pseudo-terminal has moved that much from its internal buffer into
// the far end's read buffer again: only then can the port write `room` more bytes.
void StallFarEnd(PtyPair& pty, std::size_t room) {
    const int fd = pty.SlaveHoldFd();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const std::vector<std::uint8_t> block(1024, 0x55);
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // The far end's read buffer fills from the pseudo-terminal's own buffer a moment
    // later; take its size once it holds steady.
    int full = -1;
    ASSERT_TRUE(Eventually([&] {
        const int now = InputWaiting(pty.MasterFd());
        const bool steady = now > 0 && now == full;
        full = now;
        return steady;
    }));
    ASSERT_EQ(pty.Read(room, 2s).size(), room);
    ASSERT_TRUE(Eventually([&] { return InputWaiting(pty.MasterFd()) == full; }));
}

TEST_F(TermiosDeviceTest, WriteToAStalledPeerReturnsWithinItsBoundWithThePartialCount) {
    ASSERT_EQ(Open(115200), 1);
    StallFarEnd(m_Pty, 2048);
    const auto bytes = Pattern(16384);
    const auto start = Clock::now();
    const std::uint32_t written = Write(bytes);
    const auto elapsed = Clock::now() - start;
    // Bound: 2 x 16384 x 10 / 115200 s + 1 s = 3.84 s; a second's margin for the host.
    EXPECT_LT(elapsed, 4840ms);
    EXPECT_GE(elapsed, 2800ms);  // it did wait for the stalled peer before giving up
    EXPECT_GE(written, 2048u);
    EXPECT_LT(written, bytes.size());
    m_Port.ClosePort();
}

// A close from another thread (the overflow path does this) cancels a write that waits
// for a stalled peer, long before the write's own bound.
TEST_F(TermiosDeviceTest, ClosePortCancelsAWriteInProgress) {
    ASSERT_EQ(Open(9600), 1);
    StallFarEnd(m_Pty, 2048);
    // At 9600 baud the bound of this write is over two minutes.
    const std::vector<std::uint8_t> bytes(65536, 0xAA);
    std::atomic<std::uint32_t> written{0};
    std::thread writer([&] { written = Write(bytes); });
    // The write is under way once its bytes reach the far end (behind the filler).
    const bool underWay = Eventually([&] {
        const auto got = m_Pty.Read(4096, 20ms);
        return std::find(got.begin(), got.end(), 0xAA) != got.end();
    });
    const auto start = Clock::now();
    m_Port.ClosePort();
    writer.join();
    ASSERT_TRUE(underWay);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_GT(written.load(), 0u);
    EXPECT_LT(written.load(), bytes.size());
}

// Closing right after a write never loses the frame: WriteComm waits until the bytes
// are out, and the close does not discard output.
TEST_F(TermiosDeviceTest, CloseRightAfterEachWriteLosesNoFrame) {
    for (std::uint32_t i = 0; i < 200; ++i) {
        ASSERT_EQ(Open(115200), 1);
        const auto frame = Pattern(40, i);
        ASSERT_EQ(Write(frame), frame.size());
        m_Port.ClosePort();
        ASSERT_EQ(m_Pty.Read(frame.size(), 2s), frame) << "frame " << i;
    }
}

// Fills the far end until the pseudo-terminal takes no more from the device side and the
// far end's own read buffer holds steady; what is written beyond that waits in the
// driver. Returns the count written.
std::size_t FillTowardsFarEnd(PtyPair& pty) {
    const int fd = pty.SlaveHoldFd();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const std::vector<std::uint8_t> block(1024, 0x55);
    std::size_t written = 0;
    for (ssize_t n = 0; (n = ::write(fd, block.data(), block.size())) > 0;) {
        written += static_cast<std::size_t>(n);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int last = -1;
    Eventually([&] {
        const int now = InputWaiting(pty.MasterFd());
        const bool steady = now > 0 && now == last;
        last = now;
        return steady;
    });
    return written;
}

struct LeftOver {
    const char* name;
    bool input;   // bytes from the far end that an earlier user did not read
    bool output;  // bytes of an earlier user still in the driver, not yet sent
};

// Whatever an earlier user left in the driver, either way, is gone once the port opens:
// nothing stale reaches the display or the receive queue.
TEST_F(TermiosDeviceTest, OpenDiscardsWhatAnEarlierUserLeftEitherWay) {
    const LeftOver cases[] = {
        {"input", true, false}, {"output", false, true}, {"both", true, true}};
    for (const LeftOver& c : cases) {
        SCOPED_TRACE(c.name);
        const int slave = m_Pty.SlaveHoldFd();
        if (c.input) {
            ASSERT_TRUE(m_Pty.Write(Pattern(10, 1)));
            ASSERT_TRUE(Eventually([&] { return InputWaiting(slave) == 10; }));
        }
        const std::size_t written = c.output ? FillTowardsFarEnd(m_Pty) : 0;
        const std::size_t posted = m_Window.Count();
        ASSERT_EQ(Open(), 1);
        EXPECT_EQ(InputWaiting(slave), 0);
        if (c.output) {
            // The far end gets what had already reached it, not what the driver held.
            const std::size_t arrived = m_Pty.ReadUntilQuiet(100ms, 10s).size();
            EXPECT_LT(arrived, written);
        }

        // The line works both ways, with nothing stale in front of the new bytes.
        const auto frame = Pattern(5, 3);
        EXPECT_EQ(Write(frame), frame.size());
        EXPECT_EQ(m_Pty.ReadUntilQuiet(50ms, 2s), frame);
        ASSERT_TRUE(m_Pty.Write(std::vector<std::uint8_t>{0x06}));
        ASSERT_TRUE(m_Window.WaitForCount(posted + 1, 5s));
        EXPECT_EQ(TakeAll(m_Port.m_QueueRead), std::vector<std::uint8_t>{0x06});
        m_Port.ClosePort();
    }
}

}  // namespace
}  // namespace vyx
