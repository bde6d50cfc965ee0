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
#include <condition_variable>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

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

class SerialPortTest : public ::testing::Test {
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

TEST_F(SerialPortTest, WritesReachTheFarEndAndReceivedBytesAreQueuedAndNotified) {
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
TEST_F(SerialPortTest, ThousandOpenCloseCyclesLeaveDescriptorsAndThreadsUnchanged) {
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

TEST_F(SerialPortTest, SecondOpenOfAnOpenDeviceFailsUntilTheFirstCloses) {
    ASSERT_EQ(Open(), 1);
    const int descriptors = test::OpenDescriptorCount();
    SerialPort other;
    EXPECT_EQ(other.OpenPort(m_Pty.SlavePath(), 9600, 4), 0);
    EXPECT_EQ(other.m_bConnected.load(), 0);
    EXPECT_EQ(other.RunningWatchers(), 0);
    EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
    m_Port.ClosePort();
    EXPECT_EQ(other.OpenPort(m_Pty.SlavePath(), 9600, 4), 1);
}

// Names that cannot be opened as a serial port fail cleanly and leak nothing.
TEST_F(SerialPortTest, UnopenableNamesFailWithoutLeaks) {
    const int descriptors = test::OpenDescriptorCount();
    const int threads = test::ThreadCount();
    for (const char* name : {"/dev/null", "/nonexistent/ttyUSB0", "COM0", "COMX"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(m_Port.OpenPort(name, 9600, 1), 0);
        EXPECT_EQ(m_Port.m_bConnected.load(), 0);
        EXPECT_EQ(m_Port.RunningWatchers(), 0);
        EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
        EXPECT_EQ(test::ThreadCount(), threads);
        const std::uint8_t byte = 0x41;
        EXPECT_EQ(m_Port.WriteComm(&byte, 1), 0u);
    }
    // An unsupported rate is refused before anything is opened.
    EXPECT_EQ(Open(12345), 0);
    EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
}

class LineStateTest : public SerialPortTest, public ::testing::WithParamInterface<std::uint32_t> {};

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
TEST_F(SerialPortTest, ReceivedXoffDoesNotStallWriting) {
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

// Also reopens after each close, with a new watcher receiving.
TEST_F(SerialPortTest, NotificationsCarryThePortNumber) {
    std::size_t posted = 0;
    for (const std::uint16_t number :
         {std::uint16_t{1}, std::uint16_t{3}, std::uint16_t{10}, std::uint16_t{20}}) {
        ASSERT_EQ(Open(9600, number), 1);
        ASSERT_TRUE(m_Pty.Write(std::vector<std::uint8_t>{0x06}));
        ASSERT_TRUE(m_Window.WaitForCount(++posted, 5s));
        EXPECT_EQ(m_Window.Messages().back().wParam, number);
        EXPECT_EQ(TakeAll(m_Port.m_QueueRead), std::vector<std::uint8_t>{0x06});
        m_Port.ClosePort();
        EXPECT_EQ(m_Port.RunningWatchers(), 0);
    }
    EXPECT_EQ(m_Port.SuccessfulOpens(), 4u);
}

// More than one chunk waiting: 3000 bytes wait in the driver while the watcher is held
// up in its previous notification; they are taken as 2068 + 932 in one drain and
// announced once, with the last position of the 932-byte chunk.
TEST_F(SerialPortTest, MoreThanAChunkWaitingArrivesInChunksWithOneNotification) {
    std::mutex lock;
    std::condition_variable changed;
    bool release = false;
    m_Window.SetOnPost([&] {
        std::unique_lock hold(lock);
        changed.wait(hold, [&] { return release; });
    });
    ASSERT_EQ(Open(115200, 7), 1);
    ASSERT_TRUE(m_Pty.Write(std::vector<std::uint8_t>{0xAA}));
    ASSERT_TRUE(m_Window.WaitForCount(1, 5s));  // the watcher is now held in its post

    const auto burst = Pattern(3000, 1);
    ASSERT_TRUE(m_Pty.Write(burst));
    ASSERT_TRUE(Eventually([&] { return InputWaiting(m_Pty.SlaveHoldFd()) == 3000; }));
    {
        std::lock_guard hold(lock);
        release = true;
    }
    changed.notify_all();

    ASSERT_TRUE(m_Window.WaitForCount(2, 5s));
    auto expected = std::vector<std::uint8_t>{0xAA};
    expected.insert(expected.end(), burst.begin(), burst.end());
    EXPECT_EQ(TakeAll(m_Port.m_QueueRead), expected);
    const auto messages = m_Window.Messages();
    EXPECT_EQ(messages[1].lParam, 3000 - 2068 - 1);
    m_Port.ClosePort();
    EXPECT_EQ(m_Window.Count(), 2u);
}

// The bound is generous on purpose: this proves the wake-up, not the speed.
TEST_F(SerialPortTest, ClosePortEndsAWaitingOrPausingWatcherPromptly) {
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

// A close that comes during a drain (here: in its gathering pause, made long so the drain
// cannot end by itself first) still ends that drain with its empty read and its one
// WM_COMM_READ, keeps what was queued, and ends the watcher without waiting the pause out.
TEST_F(SerialPortTest, CloseDuringADrainStillAnnouncesItOnce) {
    m_Port.m_GatherPause = 60s;
    ASSERT_EQ(Open(9600, 5), 1);
    const auto bytes = Pattern(3);
    ASSERT_TRUE(m_Pty.Write(bytes));
    ASSERT_TRUE(Eventually([&] { return m_Port.m_QueueRead.GetCount() == 3; }));
    EXPECT_EQ(m_Window.Count(), 0u);  // the drain is still under way

    const auto start = Clock::now();
    m_Port.ClosePort();
    EXPECT_LT(Clock::now() - start, 5s);  // far below the pause: the close cut it short
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    const auto messages = m_Window.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, WM_COMM_READ);
    EXPECT_EQ(messages[0].wParam, 5u);
    EXPECT_EQ(messages[0].lParam, 2);
    EXPECT_EQ(TakeAll(m_Port.m_QueueRead), bytes);
}

// A close while the watcher waits for input ends it without a notification: after one
// announced drain the watcher is back in its wait when the port closes.
TEST_F(SerialPortTest, CloseWhileTheWatcherWaitsPostsNothing) {
    ASSERT_EQ(Open(), 1);
    ASSERT_TRUE(m_Pty.Write(std::vector<std::uint8_t>{0x06}));
    ASSERT_TRUE(m_Window.WaitForCount(1, 5s));
    m_Port.ClosePort();
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    EXPECT_EQ(m_Window.Count(), 1u);
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
TEST_F(SerialPortTest, OpenDiscardsWhatAnEarlierUserLeftEitherWay) {
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

// A hang-up (here: the pseudo-terminal's master closes) must not make the watcher spin.
TEST_F(SerialPortTest, FarEndVanishingCausesNoBusyLoopAndCloseStillWorks) {
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

TEST_F(SerialPortTest, WriteToAStalledPeerReturnsWithinItsBoundWithThePartialCount) {
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
TEST_F(SerialPortTest, ClosePortCancelsAWriteInProgress) {
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
TEST_F(SerialPortTest, CloseRightAfterEachWriteLosesNoFrame) {
    for (std::uint32_t i = 0; i < 200; ++i) {
        ASSERT_EQ(Open(115200), 1);
        const auto frame = Pattern(40, i);
        ASSERT_EQ(Write(frame), frame.size());
        m_Port.ClosePort();
        ASSERT_EQ(m_Pty.Read(frame.size(), 2s), frame) << "frame " << i;
    }
}

// Fills the queue to exactly 8191 bytes, then sends one more: that one-byte chunk does
// not fit, so the overflow path runs.
TEST_F(SerialPortTest, OverflowShowsTheMessageClearsAndReopensOnTheSameSettings) {
    const int threads = test::ThreadCount();
    ASSERT_EQ(Open(38400, 6), 1);
    ASSERT_TRUE(m_Pty.Write(Pattern(ReceiveQueue::kCapacity)));
    ASSERT_TRUE(
        Eventually([&] { return m_Port.m_QueueRead.GetCount() == ReceiveQueue::kCapacity; }));
    ASSERT_TRUE(m_Pty.Write(std::vector<std::uint8_t>{0x42}));
    ASSERT_TRUE(m_Box.WaitForShown(1, 5s));
    EXPECT_EQ(m_Box.Texts(), std::vector<std::string>{"m_QueueRead FULL!"});
    // The box is up: the watcher waits for the operator, the port is still open.
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);
    EXPECT_EQ(m_Port.SuccessfulOpens(), 1u);

    ASSERT_EQ(m_Box.DismissAll(), 1);
    ASSERT_TRUE(Eventually([&] { return m_Port.SuccessfulOpens() == 2u; }));
    ASSERT_TRUE(Eventually([&] { return m_Port.RunningWatchers() == 1; }));
    ASSERT_TRUE(Eventually([&] { return test::ThreadCount() == threads + 1; }));
    EXPECT_EQ(m_Port.m_QueueRead.GetCount(), 0);
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);
    EXPECT_EQ(m_Port.m_PortName, m_Pty.SlavePath());
    EXPECT_EQ(m_Port.m_PortNumber, 6);
    EXPECT_EQ(m_Port.LastGoodBaudRate(), 38400u);
    termios tio{};
    ASSERT_EQ(tcgetattr(m_Pty.SlaveHoldFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B38400));

    // The new watcher receives and notifies.
    const std::size_t before = m_Window.Count();
    const auto reply = Pattern(22, 9);
    ASSERT_TRUE(m_Pty.Write(reply));
    ASSERT_TRUE(m_Window.WaitForCount(before + 1, 5s));
    EXPECT_EQ(TakeAll(m_Port.m_QueueRead), reply);
    EXPECT_EQ(m_Window.Messages().back().wParam, 6u);
    m_Port.ClosePort();
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    // A joined thread may stay listed in /proc for a moment after its join.
    EXPECT_TRUE(Eventually([&] { return test::ThreadCount() == threads; }));
}

// The window goes on writing while the watcher closes and reopens the port after an
// overflow: each write either goes out whole or returns 0, never reaches a released
// descriptor (TSan sees the device's locking), and writing works after the reopen.
TEST_F(SerialPortTest, WritesDuringTheOverflowReopenAreSafe) {
    ASSERT_EQ(Open(115200), 1);
    std::atomic<bool> writing{true};
    std::atomic<int> oddCounts{0};
    std::thread window([&] {
        const auto frame = Pattern(5);
        while (writing.load()) {
            const std::uint32_t n = Write(frame);
            if (n != 0 && n != frame.size()) {
                ++oddCounts;
            }
        }
    });
    std::thread farEnd([&] {
        while (writing.load()) {
            m_Pty.ReadUntilQuiet(1ms, 20ms);
        }
    });
    ASSERT_TRUE(m_Pty.Write(Pattern(ReceiveQueue::kCapacity + 1)));
    ASSERT_TRUE(m_Box.WaitForShown(1, 5s));
    m_Box.DismissAll();
    ASSERT_TRUE(Eventually([&] { return m_Port.SuccessfulOpens() == 2u; }));
    ASSERT_TRUE(Eventually([&] { return m_Port.RunningWatchers() == 1; }));
    writing = false;
    window.join();
    farEnd.join();
    EXPECT_EQ(oddCounts.load(), 0);
    m_Pty.ReadUntilQuiet(20ms, 2s);  // frames of the last writes
    const auto frame = Pattern(7, 3);
    EXPECT_EQ(Write(frame), frame.size());
    EXPECT_EQ(m_Pty.Read(frame.size(), 2s), frame);
}

// The operator presses "Close" while "m_QueueRead FULL!" is up: ClosePort must not wait
// for the box, and a later dismissal neither closes nor reopens anything, even when the
// port object is already gone.
TEST_F(SerialPortTest, CloseWhileTheOverflowMessageIsUpDoesNotDeadlock) {
    test::TestMessageBox box;
    {
        SerialPort port;
        port.m_pAppMessageBox = &box;
        ASSERT_EQ(port.OpenPort(m_Pty.SlavePath(), 9600, 2), 1);
        ASSERT_TRUE(m_Pty.Write(Pattern(ReceiveQueue::kCapacity + 1)));
        ASSERT_TRUE(box.WaitForShown(1, 5s));
        port.ClosePort();
        EXPECT_EQ(port.RunningWatchers(), 0);
        EXPECT_EQ(port.m_bConnected.load(), 0);
        EXPECT_EQ(port.SuccessfulOpens(), 1u);
        EXPECT_EQ(port.m_QueueRead.GetCount(), 0);
    }
    EXPECT_EQ(box.DismissAll(), 1);
    // The device is free again: nothing reopened it.
    ASSERT_EQ(Open(), 1);
}

// Dismissal and the owner's close race each other; whichever wins, the end state is a
// closed port with no watcher and no leaked thread. Run under TSan to check the locking.
TEST_F(SerialPortTest, DismissalRacingCloseEndsClosedWithoutWatchers) {
    const int threads = test::ThreadCount();
    for (int round = 0; round < 20; ++round) {
        test::TestMessageBox box;
        m_Port.m_pAppMessageBox = &box;
        ASSERT_EQ(Open(115200), 1);
        ASSERT_TRUE(m_Pty.Write(Pattern(ReceiveQueue::kCapacity + 1)));
        ASSERT_TRUE(box.WaitForShown(1, 5s)) << "round " << round;
        std::thread operatorThread([&] { box.DismissAll(); });
        m_Port.ClosePort();
        operatorThread.join();
        m_Port.ClosePort();  // a reopen that won the race is closed here
        EXPECT_EQ(m_Port.RunningWatchers(), 0);
        EXPECT_EQ(m_Port.m_bConnected.load(), 0);
        m_Port.m_pAppMessageBox = &m_Box;
        m_Pty.ReadUntilQuiet(1ms, 10ms);
    }
    // A joined thread may stay listed in /proc for a moment after its join.
    EXPECT_TRUE(Eventually([&] { return test::ThreadCount() == threads; }));
}
}  // namespace
}  // namespace vyx
