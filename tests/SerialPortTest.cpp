// SerialPort's own logic on FakeDevice: queueing and notifying, chunks, closing a waiting
// watcher or a stalled write, a lost device, the overflow's close and reopen, errors as
// values. Nothing here needs the operating system's serial devices; the termios device
// itself is tested on pseudo-terminals (TermiosDeviceTest.cpp).

#include "serial/SerialPort.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FakeDevice.h"
#include "tests/support/SerialFakes.h"

namespace vyx {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::FakeLine;
using Bytes = std::vector<std::uint8_t>;
using Kind = SerialError::Kind;
using Clock = std::chrono::steady_clock;

Bytes Pattern(std::size_t count, std::uint32_t seed = 0) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
    }
    return bytes;
}

Bytes TakeAll(ReceiveQueue& queue) {
    Bytes out;
    std::uint8_t byte = 0;
    while (queue.GetByte(byte) == 1) {
        out.push_back(byte);
    }
    return out;
}

// The failures a port reported to its owner's sink, from any thread.
class RecordingSink {
  public:
    DiagnosticSink Sink() {
        return [this](const SerialError& e) {
            std::lock_guard lock(m_Lock);
            m_Errors.push_back(e);
        };
    }
    std::vector<SerialError> Errors() {
        std::lock_guard lock(m_Lock);
        return m_Errors;
    }

  private:
    std::mutex m_Lock;
    std::vector<SerialError> m_Errors;
};

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_Port.m_hNotifyWnd = &m_Window;
        m_Port.m_pAppMessageBox = &m_Box;
        m_Port.SetDiagnosticSink(m_Sink.Sink());
    }
    void TearDown() override {
        m_Port.ClosePort();
        EXPECT_EQ(m_Line.OpenNow(), 0);
    }

    int Open(std::uint32_t rate = 9600, std::uint16_t number = 4) {
        return m_Port.OpenPort(m_Line.Path(), rate, number);
    }
    std::uint32_t Write(const Bytes& bytes) {
        return m_Port.WriteComm(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }

    // Declared first, so that it outlives the port and its devices.
    FakeLine m_Line;
    test::RecordingWindow m_Window;
    test::TestMessageBox m_Box;
    RecordingSink m_Sink;
    SerialPort m_Port{m_Line.Opener()};
};

TEST_F(SerialPortTest, WritesGoOutAndReceivedBytesAreQueuedAndNotified) {
    ASSERT_EQ(Open(9600, 3), 1);
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);
    EXPECT_EQ(m_Port.RunningWatchers(), 1);
    EXPECT_EQ(m_Port.LastGoodBaudRate(), 9600u);
    EXPECT_EQ(m_Line.OpenedRates(), std::vector<std::uint32_t>{9600});

    const Bytes frame{0x02, 0x01, 0x44, 0x03, 0x46};
    EXPECT_EQ(Write(frame), frame.size());
    EXPECT_EQ(m_Line.TakeWritten(), frame);

    const Bytes reply = Pattern(37);
    ASSERT_TRUE(m_Line.Arrive(reply));
    ASSERT_TRUE(m_Window.WaitForCount(1, 5s));
    const auto message = m_Window.Messages().front();
    EXPECT_EQ(message.message, WM_COMM_READ);
    EXPECT_EQ(message.wParam, 3u);
    EXPECT_EQ(message.lParam, 36);  // last position of the 37-byte chunk
    EXPECT_EQ(TakeAll(m_Port.m_QueueRead), reply);

    m_Port.ClosePort();
    EXPECT_EQ(m_Port.m_bConnected.load(), 0);
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    EXPECT_EQ(m_Line.OpenNow(), 0);
    EXPECT_EQ(Write(frame), 0u);  // not open: the released device is not touched
    EXPECT_TRUE(m_Sink.Errors().empty());
}

// Twice the bytes' time on the line (10 bits a byte) plus a second for the driver.
TEST_F(SerialPortTest, EachWriteIsBoundedByTwiceItsLineTimePlusASecond) {
    struct Case {
        std::uint32_t rate;
        std::size_t count;
        std::chrono::milliseconds bound;
    };
    const Case cases[] = {{9600, 5, 1010ms},
                          {9600, 40, 1082ms},
                          {115200, 46, 1006ms},
                          {19200, 65536, 69266ms},
                          {115200, 1, 1000ms}};
    for (const Case& c : cases) {
        ASSERT_EQ(Open(c.rate), 1);
        EXPECT_EQ(Write(Bytes(c.count, 0x20)), c.count);
        m_Port.ClosePort();
        ASSERT_FALSE(m_Line.WriteBounds().empty());
        EXPECT_EQ(m_Line.WriteBounds().back(), c.bound) << c.rate << " baud, " << c.count;
    }
}

// Also reopens after each close, with a new watcher receiving.
TEST_F(SerialPortTest, NotificationsCarryThePortNumber) {
    std::size_t posted = 0;
    for (const std::uint16_t number :
         {std::uint16_t{1}, std::uint16_t{3}, std::uint16_t{10}, std::uint16_t{20}}) {
        ASSERT_EQ(Open(9600, number), 1);
        ASSERT_TRUE(m_Line.Arrive(Bytes{0x06}));
        ASSERT_TRUE(m_Window.WaitForCount(++posted, 5s));
        EXPECT_EQ(m_Window.Messages().back().wParam, number);
        EXPECT_EQ(TakeAll(m_Port.m_QueueRead), Bytes{0x06});
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
    ASSERT_TRUE(m_Line.Arrive(Bytes{0xAA}));
    ASSERT_TRUE(m_Window.WaitForCount(1, 5s));  // the watcher is now held in its post

    const Bytes burst = Pattern(3000, 1);
    ASSERT_TRUE(m_Line.Arrive(burst));
    {
        std::lock_guard hold(lock);
        release = true;
    }
    changed.notify_all();

    ASSERT_TRUE(m_Window.WaitForCount(2, 5s));
    Bytes expected{0xAA};
    expected.insert(expected.end(), burst.begin(), burst.end());
    EXPECT_EQ(TakeAll(m_Port.m_QueueRead), expected);
    EXPECT_EQ(m_Window.Messages()[1].lParam, 3000 - 2068 - 1);
    // Joins the watcher, which may still be in the hook that uses this test's locals.
    m_Port.ClosePort();
    EXPECT_EQ(m_Window.Count(), 2u);
}

TEST_F(SerialPortTest, ClosePortEndsAWaitingOrPausingWatcher) {
    ASSERT_EQ(Open(), 1);
    ASSERT_TRUE(m_Line.WaitUntilBlocked(FakeLine::Blocked::WaitReadable, 5s));
    m_Port.ClosePort();
    EXPECT_EQ(m_Port.RunningWatchers(), 0);

    // A pause long enough that only the wake-up can end it in time.
    m_Port.m_GatherPause = std::chrono::hours(1);
    ASSERT_EQ(Open(), 1);
    ASSERT_TRUE(m_Line.Arrive(Bytes{1}));
    ASSERT_TRUE(m_Line.WaitUntilBlocked(FakeLine::Blocked::Pause, 5s));
    m_Port.ClosePort();
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    EXPECT_EQ(m_Port.m_QueueRead.GetCount(), 1);
}

// A close that comes during a drain (here: in its gathering pause, made long so the drain
// cannot end by itself first) still ends that drain with its empty read and its one
// WM_COMM_READ, keeps what was queued, and ends the watcher without waiting the pause out.
TEST_F(SerialPortTest, CloseDuringADrainStillAnnouncesItOnce) {
    m_Port.m_GatherPause = 60s;
    ASSERT_EQ(Open(9600, 5), 1);
    const auto bytes = Pattern(3);
    ASSERT_TRUE(m_Line.Arrive(bytes));
    ASSERT_TRUE(m_Line.WaitUntilBlocked(FakeLine::Blocked::Pause, 5s));
    EXPECT_EQ(m_Port.m_QueueRead.GetCount(), 3);
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
    ASSERT_TRUE(m_Line.Arrive(Bytes{0x06}));
    ASSERT_TRUE(m_Window.WaitForCount(1, 5s));
    ASSERT_TRUE(m_Line.WaitUntilBlocked(FakeLine::Blocked::WaitReadable, 5s));
    m_Port.ClosePort();
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    EXPECT_EQ(m_Window.Count(), 1u);
}

// The watcher cannot set up its wait: the port stays open and writable but unwatched,
// and says so in the application's message box.
TEST_F(SerialPortTest, WatcherThatCannotWaitLeavesThePortOpenAndUnwatched) {
    m_Line.FailNextPrepareWait();
    ASSERT_EQ(m_Port.OpenPort(m_Line.Path(), 9600, 5), 1);
    ASSERT_TRUE(m_Box.WaitForShown(1, 5s));
    EXPECT_EQ(m_Box.Texts(),
              std::vector<std::string>{"Error while creating ThreadWatchComm, " + m_Line.Path()});
    m_Box.DismissAll();
    ASSERT_TRUE(Eventually([&] { return m_Port.RunningWatchers() == 0; }));
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);
    EXPECT_EQ(m_Port.LastError().call, "poll");

    const Bytes frame{0x02, 0x02, 0x34, 0x00, 0x03, 0x35};
    EXPECT_EQ(Write(frame), frame.size());
    EXPECT_EQ(m_Line.TakeWritten(), frame);
    ASSERT_TRUE(m_Line.Arrive(Bytes{0x41}));
    m_Port.ClosePort();
    EXPECT_EQ(m_Port.m_bConnected.load(), 0);
    EXPECT_EQ(m_Port.m_QueueRead.GetCount(), 0);  // nothing was received
    EXPECT_EQ(m_Window.Count(), 0u);
}

// A lost device parks the watcher (no spinning), fails writes at once, and is reported
// once, as a value the owner can read.
TEST_F(SerialPortTest, LostDeviceParksTheWatcherAndIsReportedOnce) {
    ASSERT_EQ(Open(), 1);
    ASSERT_TRUE(m_Line.WaitUntilBlocked(FakeLine::Blocked::WaitReadable, 5s));
    m_Line.Lose("read");
    ASSERT_TRUE(m_Line.WaitUntilBlocked(FakeLine::Blocked::WaitForWake, 5s));
    const std::uint64_t wakeups = m_Port.WatcherWakeups();
    EXPECT_TRUE(m_Port.DeviceLost());
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);
    EXPECT_EQ(Write(Pattern(20)), 0u);
    EXPECT_FALSE(m_Line.Arrive(Bytes{1}));
    m_Line.Lose("write");  // a second sighting is not reported again

    const SerialError error = m_Port.LastError();
    EXPECT_EQ(error.kind, Kind::Lost);
    EXPECT_EQ(error.call, "read");
    EXPECT_EQ(error.path, m_Line.Path());
    const auto reported = m_Sink.Errors();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].Line(), error.Line());
    EXPECT_EQ(m_Port.WatcherWakeups(), wakeups);  // still parked

    m_Port.ClosePort();
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    EXPECT_EQ(m_Port.m_bConnected.load(), 0);
}

// A close from another thread (the overflow path does this) cancels a write that waits
// for a stalled peer, long before the write's own bound, with the count that went out.
TEST_F(SerialPortTest, ClosePortCancelsAStalledWrite) {
    ASSERT_EQ(Open(9600), 1);
    m_Line.StallWrites(100);
    const Bytes bytes(65536, 0xAA);  // a bound of over two minutes at 9600 baud
    std::atomic<std::uint32_t> written{0};
    std::thread writer([&] { written = Write(bytes); });
    const bool stalled = m_Line.WaitUntilWriteStalled(5s);
    m_Port.ClosePort();
    writer.join();
    ASSERT_TRUE(stalled);
    EXPECT_EQ(written.load(), 100u);
    EXPECT_EQ(m_Line.TakeWritten(), Bytes(100, 0xAA));
}

// Fills the queue to exactly 8191 bytes, then sends one more: that one-byte chunk does
// not fit, so the overflow path runs.
TEST_F(SerialPortTest, OverflowShowsTheMessageClearsAndReopensOnTheSameSettings) {
    ASSERT_EQ(Open(38400, 6), 1);
    ASSERT_TRUE(m_Line.Arrive(Pattern(ReceiveQueue::kCapacity)));
    ASSERT_TRUE(
        Eventually([&] { return m_Port.m_QueueRead.GetCount() == ReceiveQueue::kCapacity; }));
    EXPECT_TRUE(m_Box.Texts().empty());  // 8191 bytes fit
    ASSERT_TRUE(m_Line.Arrive(Bytes{0x42}));
    ASSERT_TRUE(m_Box.WaitForShown(1, 5s));
    EXPECT_EQ(m_Box.Texts(), std::vector<std::string>{"m_QueueRead FULL!"});
    // The box is up: the watcher waits for the operator, the port is still open.
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);
    EXPECT_EQ(m_Port.SuccessfulOpens(), 1u);

    ASSERT_EQ(m_Box.DismissAll(), 1);
    ASSERT_TRUE(Eventually([&] { return m_Port.SuccessfulOpens() == 2u; }));
    ASSERT_TRUE(Eventually([&] { return m_Port.RunningWatchers() == 1; }));
    EXPECT_EQ(m_Port.m_QueueRead.GetCount(), 0);
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);
    EXPECT_EQ(m_Port.m_PortName, m_Line.Path());
    EXPECT_EQ(m_Port.m_PortNumber, 6);
    EXPECT_EQ(m_Port.LastGoodBaudRate(), 38400u);
    EXPECT_EQ(m_Line.OpenedRates(), (std::vector<std::uint32_t>{38400, 38400}));

    // The new watcher receives and notifies.
    const std::size_t before = m_Window.Count();
    const Bytes reply = Pattern(22, 9);
    ASSERT_TRUE(m_Line.Arrive(reply));
    ASSERT_TRUE(m_Window.WaitForCount(before + 1, 5s));
    EXPECT_EQ(TakeAll(m_Port.m_QueueRead), reply);
    EXPECT_EQ(m_Window.Messages().back().wParam, 6u);
    m_Port.ClosePort();
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
}

// The window goes on writing while the watcher closes and reopens the port after an
// overflow: each write either goes out whole or returns 0, and the fake sees no write
// after a Close and never two at once.
TEST_F(SerialPortTest, WritesDuringTheOverflowReopenAreSafe) {
    ASSERT_EQ(Open(115200), 1);
    std::atomic<bool> writing{true};
    std::atomic<int> oddCounts{0};
    std::thread window([&] {
        const Bytes frame = Pattern(5);
        while (writing.load()) {
            const std::uint32_t n = Write(frame);
            if (n != 0 && n != frame.size()) {
                ++oddCounts;
            }
        }
    });
    ASSERT_TRUE(m_Line.Arrive(Pattern(ReceiveQueue::kCapacity + 1)));
    ASSERT_TRUE(m_Box.WaitForShown(1, 5s));
    m_Box.DismissAll();
    ASSERT_TRUE(Eventually([&] { return m_Port.SuccessfulOpens() == 2u; }));
    ASSERT_TRUE(Eventually([&] { return m_Port.RunningWatchers() == 1; }));
    writing = false;
    window.join();
    EXPECT_EQ(oddCounts.load(), 0);
    EXPECT_EQ(m_Line.TakeWritten().size() % 5, 0u);
    const Bytes frame = Pattern(7, 3);
    EXPECT_EQ(Write(frame), frame.size());
    EXPECT_EQ(m_Line.TakeWritten(), frame);
}

// The operator presses "Close" while "m_QueueRead FULL!" is up: ClosePort must not wait
// for the box, and a later dismissal neither closes nor reopens anything, even when the
// port object is already gone.
TEST_F(SerialPortTest, CloseWhileTheOverflowMessageIsUpDoesNotDeadlock) {
    test::TestMessageBox box;
    {
        SerialPort port(m_Line.Opener());
        port.m_pAppMessageBox = &box;
        ASSERT_EQ(port.OpenPort(m_Line.Path(), 9600, 2), 1);
        ASSERT_TRUE(m_Line.Arrive(Pattern(ReceiveQueue::kCapacity + 1)));
        ASSERT_TRUE(box.WaitForShown(1, 5s));
        port.ClosePort();
        EXPECT_EQ(port.RunningWatchers(), 0);
        EXPECT_EQ(port.m_bConnected.load(), 0);
        EXPECT_EQ(port.SuccessfulOpens(), 1u);
        EXPECT_EQ(port.m_QueueRead.GetCount(), 0);
    }
    EXPECT_EQ(box.DismissAll(), 1);
    // The device is free again: nothing reopened it.
    EXPECT_EQ(m_Line.OpenNow(), 0);
    ASSERT_EQ(Open(), 1);
}

// Dismissal and the owner's close race each other; whichever wins, the end state is a
// closed port with no watcher. Run under TSan to check the locking.
TEST_F(SerialPortTest, DismissalRacingCloseEndsClosedWithoutWatchers) {
    for (int round = 0; round < 50; ++round) {
        test::TestMessageBox box;
        m_Port.m_pAppMessageBox = &box;
        ASSERT_EQ(Open(115200), 1);
        ASSERT_TRUE(m_Line.Arrive(Pattern(ReceiveQueue::kCapacity + 1)));
        ASSERT_TRUE(box.WaitForShown(1, 5s)) << "round " << round;
        std::thread operatorThread([&] { box.DismissAll(); });
        m_Port.ClosePort();
        operatorThread.join();
        m_Port.ClosePort();  // a reopen that won the race is closed here
        EXPECT_EQ(m_Port.RunningWatchers(), 0);
        EXPECT_EQ(m_Port.m_bConnected.load(), 0);
        EXPECT_EQ(m_Line.OpenNow(), 0);
        m_Port.m_pAppMessageBox = &m_Box;
    }
}

// A failed opening leaves the call, the path, the OS code and the reason, reported once
// to the owner's sink; the next opening starts clean.
TEST_F(SerialPortTest, FailedOpeningsLeaveTheirErrorAsAValue) {
    SerialPort holder(m_Line.Opener());
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string name;
        Kind kind;
        std::string call;
        int code;
    };
    const std::string path = m_Line.Path();
    const Case cases[] = {
        {"not a port name", [] {}, "COMX", Kind::NotAPortName, "open", 0},
        {"no such device", [] {}, "/dev/fake-elsewhere", Kind::NoDevice, "open", 0},
        {"held by another port", [&] { ASSERT_EQ(holder.OpenPort(path, 9600, 1), 1); }, path,
         Kind::Busy, "flock", 0},
        {"access denied",
         [&] {
             holder.ClosePort();
             m_Line.FailNextOpen({Kind::AccessDenied, "open", "", 13, "Permission denied"});
         },
         path, Kind::AccessDenied, "open", 13},
    };
    std::size_t reported = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        EXPECT_EQ(m_Port.OpenPort(c.name, 9600, 1), 0);
        EXPECT_EQ(m_Port.m_bConnected.load(), 0);
        const SerialError error = m_Port.LastError();
        EXPECT_TRUE(error.Failed());
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_EQ(error.call, c.call);
        EXPECT_EQ(error.path, c.name);
        EXPECT_EQ(error.code, c.code);
        const auto errors = m_Sink.Errors();
        ASSERT_EQ(errors.size(), ++reported);
        EXPECT_EQ(errors.back().Line(), error.Line());
    }
    ASSERT_EQ(Open(), 1);
    EXPECT_FALSE(m_Port.LastError().Failed());
    EXPECT_EQ(m_Sink.Errors().size(), reported);
}

// An opener that fails without a word still leaves a reason to read.
TEST(SerialPortOpenerTest, SilentOpenerFailureStillLeavesAnError) {
    SerialPort port([](const std::string&, std::uint32_t, const SerialDevice::ErrorReport&) {
        return std::shared_ptr<SerialDevice>();
    });
    port.SetDiagnosticSink([](const SerialError&) {});
    EXPECT_EQ(port.OpenPort("/dev/anything", 9600, 1), 0);
    EXPECT_EQ(port.LastError().kind, Kind::Other);
    EXPECT_EQ(port.LastError().call, "open");
    EXPECT_EQ(port.LastError().path, "/dev/anything");
}

// The fake's checks can fail: each broken promise, made directly on a device, is
// reported as a test failure.
TEST(FakeDeviceTest, BrokenPromisesFailTheTest) {
    using Device = std::shared_ptr<SerialDevice>;
    struct Case {
        const char* what;
        std::function<void(Device&)> breakIt;
        const char* violation;
    };
    FakeLine line;
    const std::uint8_t byte = 0x41;
    const Case cases[] = {
        {"write after close",
         [&](Device& d) {
             d->Close();
             d->Write(&byte, 1, 1s);
         },
         "Write after Close"},
        {"read after close",
         [](Device& d) {
             d->Close();
             std::uint8_t b = 0;
             d->Read(&b, 1);
         },
         "Read after Close"},
        {"empty write", [](Device& d) { d->Write(nullptr, 0, 1s); }, "empty Write"},
        {"two writers",
         [&](Device& d) {
             line.StallWrites(0);
             std::thread first([&] { d->Write(&byte, 1, std::chrono::hours(1)); });
             EXPECT_TRUE(line.WaitUntilWriteStalled(5s));
             d->Write(&byte, 1, 0ms);
             line.ResumeWrites();
             first.join();
         },
         "two Writes at once"},
        {"spinning after the wake-up",
         [](Device& d) {
             d->Wake();
             for (int i = 0; i < 4; ++i) {
                 d->WaitReadable();
             }
         },
         "again and again after the wake-up"},
        {"released open", [](Device& d) { d.reset(); }, "released without Close"},
        {"close under a wait",
         [&](Device& d) {
             // The waiter is not woken first, as a port that forgot its wake-up would.
             std::thread waiter([&] { d->Pause(std::chrono::hours(1)); });
             ASSERT_TRUE(line.WaitUntilBlocked(FakeLine::Blocked::Pause, 5s));
             d->Close();
             waiter.join();
         },
         "the wake-up was not honoured"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Device device = line.Opener()(line.Path(), 9600, [](const SerialError&) {});
        ASSERT_NE(device, nullptr);
        ::testing::TestPartResultArray failures;
        {
            ::testing::ScopedFakeTestPartResultReporter intercept(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
            c.breakIt(device);
        }
        if (device) {
            device->Close();
        }
        ASSERT_EQ(failures.size(), 1) << c.what;
        EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find(c.violation),
                  std::string::npos)
            << failures.GetTestPartResult(0).message();
    }
}

}  // namespace
}  // namespace vyx
