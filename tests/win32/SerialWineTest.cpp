// The Windows serial device end to end, under Wine: COM4 is a pseudo-terminal whose far
// end is tests/winehost/WineComPeer.cpp (see its header for the frames it answers).
// scripts/test-windows starts this program through the peer; on its own it has no port.
//
// VYX_WINE_PORT names the port (default COM4); VYX_WINE_MODEM_SHIM=1 says that the
// modem-line ioctls are answered, so that a pending wait stays pending.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComName.h"
#include "serial/SerialDevice.h"
#include "serial/SerialPort.h"
#include "tests/support/SerialFakes.h"

namespace vyx {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kPortNumber = 4;

std::string PortName() {
    const char* name = std::getenv("VYX_WINE_PORT");
    return name != nullptr && *name != '\0' ? name : "COM4";
}

bool ModemShim() {
    const char* shim = std::getenv("VYX_WINE_MODEM_SHIM");
    return shim != nullptr && std::string(shim) == "1";
}

Bytes Frame(char cmd, const Bytes& data) {
    Bytes f;
    f.reserve(data.size() + 5);
    f.push_back(0x02);
    f.push_back(static_cast<std::uint8_t>(data.size() + 1));
    f.push_back(static_cast<std::uint8_t>(cmd));
    for (const std::uint8_t b : data) {
        f.push_back(b);
    }
    f.push_back(0x03);
    std::uint8_t bcc = 0;
    for (std::size_t i = 1; i < f.size(); ++i) {
        bcc = static_cast<std::uint8_t>(bcc ^ f[i]);
    }
    f.push_back(bcc);
    return f;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
    }
    return b;
}

// The port as the dialog uses it: opened by its COM name, notifying a window.
class SerialPortOverWine : public ::testing::TestWithParam<std::uint32_t> {
  protected:
    void SetUp() override {
        m_Port.m_hNotifyWnd = &m_Window;
        m_Port.m_hChunkNotifyWnd = &m_Chunks;
        ASSERT_EQ(m_Port.OpenPort(PortName(), GetParam(), kPortNumber), 1);
    }
    void TearDown() override { m_Port.ClosePort(); }

    // Writes `out` and returns the next `count` received bytes (fewer on time-out).
    Bytes RoundTrip(const Bytes& out, std::size_t count) {
        EXPECT_EQ(m_Port.WriteComm(out.data(), static_cast<std::uint32_t>(out.size())), out.size());
        return Take(count);
    }

    Bytes Take(std::size_t count) {
        test::Eventually(
            [&] { return static_cast<std::size_t>(m_Port.m_QueueRead.GetCount()) >= count; }, 10s);
        Bytes got;
        std::uint8_t byte = 0;
        while (got.size() < count && m_Port.m_QueueRead.GetByte(byte) == 1) {
            got.push_back(byte);
        }
        return got;
    }

    test::RecordingWindow m_Window;
    test::RecordingWindow m_Chunks;
    SerialPort m_Port;
};

TEST_P(SerialPortOverWine, AFrameComesBackByteForByte) {
    // Every byte value but the frame's own controls, so that nothing on the way may
    // translate, drop or add one (CR, LF, XON, XOFF, 0x00, 0xFF included).
    Bytes data;
    for (int v = 0; v < 256; v += 9) {
        data.push_back(static_cast<std::uint8_t>(v));
    }
    data.insert(data.end(), {0x0D, 0x0A, 0x11, 0x13, 0x00, 0xFF, 0x7F, 0x80});
    const Bytes frame = Frame('E', data);
    EXPECT_EQ(RoundTrip(frame, frame.size()), frame);
    ASSERT_TRUE(m_Window.WaitForCount(1, 5s));
    EXPECT_EQ(m_Window.Messages().front().message, WM_COMM_READ);
    EXPECT_EQ(m_Window.Messages().front().wParam, kPortNumber);
}

TEST_P(SerialPortOverWine, TheLineIsTheDisplaysAndTheHandshakeStaysAsFound) {
    // The far end started at 1200 7E2 with XON/XOFF and RTS/CTS; only the latter stays.
    const std::string want =
        std::to_string(GetParam()) + " cs8 -parenb -cstopb -ixon -ixoff crtscts raw";
    const Bytes reply = RoundTrip(Frame('L', {}), want.size() + 5);
    EXPECT_EQ(reply, Frame('L', Text(want)));
}

TEST_P(SerialPortOverWine, TheInformationQueryGetsTheDisplaysReply) {
    const Bytes query{0x02, 0x01, 0x44, 0x03, 0x46};
    const Bytes reply{0x02, 0x12, 'D', 'V', '1',  '.',  '2',  '3',  0,    0,    0,
                      0,    0,    0,   0,   0x01, 0x02, 0x03, 0x01, 0x00, 0x03, 0x00};
    EXPECT_EQ(RoundTrip(query, reply.size()), reply);
}

TEST_P(SerialPortOverWine, MoreThanTheDriverQueueArrivesWholeInChunksOfAtMost2068) {
    constexpr std::size_t kBurst = 5000;
    const Bytes got = RoundTrip(Frame('B', {kBurst >> 8, kBurst & 0xFF}), kBurst);
    EXPECT_EQ(got, Pattern(kBurst));
    const auto chunks = m_Chunks.Messages();
    ASSERT_GE(chunks.size(), 3U);  // 5000 bytes cannot come in fewer reads of 2068
    std::int64_t total = 0;
    for (const auto& chunk : chunks) {
        EXPECT_LE(chunk.lParam + 1, static_cast<std::int64_t>(SerialPort::kChunkSize));
        total += chunk.lParam + 1;
    }
    EXPECT_EQ(total, static_cast<std::int64_t>(kBurst));
}

TEST_P(SerialPortOverWine, ReopeningAfterCloseWorksAndLosesNoFrameWrittenBeforeIt) {
    // The frame is written, the port closed at once and opened again: the reply still
    // comes, so the close discarded nothing that was on its way out.
    const Bytes frame = Frame('E', Text("before close"));
    ASSERT_EQ(m_Port.WriteComm(frame.data(), static_cast<std::uint32_t>(frame.size())),
              frame.size());
    m_Port.ClosePort();
    EXPECT_EQ(m_Port.RunningWatchers(), 0);
    ASSERT_EQ(m_Port.OpenPort(PortName(), GetParam(), kPortNumber), 1);
    // The reply may have arrived while the port was closed (then the open purged it),
    // so ask again: the far end must still be in step.
    const Bytes again = Frame('E', Text("after reopen"));
    Bytes got = RoundTrip(again, again.size());
    if (got != again) {
        got.insert(got.end(), again.begin(), again.end());
    }
    EXPECT_EQ(Bytes(got.end() - static_cast<std::ptrdiff_t>(again.size()), got.end()), again);
    EXPECT_EQ(m_Port.RunningWatchers(), 1);
}

TEST_P(SerialPortOverWine, AnOverflowReopensTheSamePortFromTheWatcher) {
    test::TestMessageBox box;
    m_Port.m_pAppMessageBox = &box;
    // More than the queue holds, and nothing taken from it.
    constexpr std::size_t kBurst = 9000;
    const Bytes burst = Frame('B', {kBurst >> 8, kBurst & 0xFF});
    ASSERT_EQ(m_Port.WriteComm(burst.data(), static_cast<std::uint32_t>(burst.size())),
              burst.size());
    ASSERT_TRUE(box.WaitForShown(1, 10s));
    EXPECT_EQ(box.Texts().front(), "m_QueueRead FULL!");
    box.DismissAll();
    ASSERT_TRUE(test::Eventually([&] { return m_Port.SuccessfulOpens() == 2U; }, 10s));
    ASSERT_TRUE(test::Eventually([&] { return m_Port.RunningWatchers() == 1; }, 10s));
    EXPECT_EQ(m_Port.m_bConnected.load(), 1);
    // The reopened port still talks: after whatever of the burst came late, the echo.
    const Bytes frame = Frame('E', Text("after the overflow"));
    ASSERT_EQ(m_Port.WriteComm(frame.data(), static_cast<std::uint32_t>(frame.size())),
              frame.size());
    Bytes got;
    const bool echoed = test::Eventually(
        [&] {
            std::uint8_t byte = 0;
            while (m_Port.m_QueueRead.GetByte(byte) == 1) {
                got.push_back(byte);
            }
            return got.size() >= frame.size() &&
                   Bytes(got.end() - static_cast<std::ptrdiff_t>(frame.size()), got.end()) == frame;
        },
        10s);
    EXPECT_TRUE(echoed);
    EXPECT_EQ(box.Texts().size(), 1U);
}

TEST_P(SerialPortOverWine, AnIdleWatcherWaitsWithoutWakingUp) {
    // One round trip, so the watcher is back in its wait; then a second of silence.
    const Bytes frame = Frame('E', Text("idle"));
    ASSERT_EQ(RoundTrip(frame, frame.size()), frame);
    ASSERT_TRUE(m_Window.WaitForCount(1, 5s));
    const std::uint64_t before = m_Port.WatcherWakeups();
    std::this_thread::sleep_for(1s);  // the measurement window, not a synchronisation
    const std::uint64_t wakeups = m_Port.WatcherWakeups() - before;
    std::printf("[ figure   ] watcher wake-ups in one idle second: %llu\n",
                static_cast<unsigned long long>(wakeups));
    if (!ModemShim()) {
        GTEST_SKIP() << "without the modem-line shim Wine cancels every pending wait";
    }
    EXPECT_LE(wakeups, 2U);
}

INSTANTIATE_TEST_SUITE_P(Rates, SerialPortOverWine, ::testing::Values(9600U, 115200U));

// The device itself, for what the port does not show: the write bound, a close during
// a write, a lost device.
class Win32DeviceOverWine : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto path = ResolvePortName(PortName());
        ASSERT_TRUE(path.has_value());
        m_Device = SerialDevice::Open(*path, 115200, [this](const SerialError& error) {
            const std::lock_guard lock(m_ErrorsLock);
            m_Errors.push_back(error);
        });
        ASSERT_NE(m_Device, nullptr);
        ASSERT_TRUE(m_Device->PrepareWait());
        // The far end may still be silent from an earlier test: go on once it answers.
        const Bytes ready = Frame('E', Text("ready"));
        ASSERT_TRUE(Send(ready));
        const Bytes got = Receive(ready.size());
        ASSERT_EQ(got, ready);
    }
    void TearDown() override {
        if (m_Device) {
            m_Device->Close();
        }
    }

    // Reads until `count` bytes came or the device stopped being readable; a watchdog
    // wakes the device after `timeout`, which then ends every wait.
    Bytes Receive(std::size_t count, std::chrono::milliseconds timeout = 10s) {
        std::mutex lock;
        std::condition_variable finished;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock held(lock);
            if (!finished.wait_for(held, timeout, [&] { return done; })) {
                m_Device->Wake();
            }
        });
        Bytes got;
        std::uint8_t buffer[SerialPort::kChunkSize];
        while (got.size() < count) {
            m_LastWait = m_Device->WaitReadable();
            if (m_LastWait == SerialDevice::WaitResult::Lost || m_Device->WakeRequested()) {
                break;
            }
            const std::uint32_t n = m_Device->Read(buffer, sizeof buffer);
            got.insert(got.end(), buffer, buffer + n);
        }
        {
            std::lock_guard held(lock);
            done = true;
        }
        finished.notify_all();
        watchdog.join();
        return got;
    }

    bool Send(const Bytes& bytes) {
        return m_Device->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), 5s) ==
               bytes.size();
    }

    // Before the device: they outlive it, whose report they are.
    std::mutex m_ErrorsLock;  // reports come from the watcher and the writer too
    std::vector<SerialError> m_Errors;
    std::shared_ptr<SerialDevice> m_Device;
    SerialDevice::WaitResult m_LastWait = SerialDevice::WaitResult::Woken;
};

TEST_F(Win32DeviceOverWine, AWriteTheLineDoesNotTakeEndsAtItsBoundAndCountsWhatLeft) {
    const Bytes silence = Frame('S', {0x09, 0xC4});  // 2500 ms
    ASSERT_TRUE(Send(silence));
    ASSERT_EQ(Receive(silence.size()), silence);
    // Far more than a pseudo-terminal buffers: the write cannot finish while unread.
    const Bytes flood(1 << 20, 'U');
    const auto start = Clock::now();
    const std::uint32_t sent =
        m_Device->Write(flood.data(), static_cast<std::uint32_t>(flood.size()), 500ms);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 2000ms) << "the write outlived its bound";
    EXPECT_LT(sent, flood.size());
    EXPECT_FALSE(m_Device->Lost());
}

TEST_F(Win32DeviceOverWine, CloseEndsAWriteUnderWayAndWaitsForIt) {
    const Bytes silence = Frame('S', {0x09, 0xC4});  // 2500 ms
    ASSERT_TRUE(Send(silence));
    ASSERT_EQ(Receive(silence.size()), silence);
    const Bytes flood(1 << 20, 'U');
    std::atomic<bool> writing{false};
    std::atomic<std::uint32_t> sent{0};
    const auto start = Clock::now();
    std::thread writer([&] {
        writing.store(true);
        sent.store(m_Device->Write(flood.data(), static_cast<std::uint32_t>(flood.size()), 60s));
    });
    ASSERT_TRUE(test::Eventually([&] { return writing.load(); }));
    m_Device->Close();
    writer.join();
    EXPECT_LT(Clock::now() - start, 2000ms) << "the close waited for the write's bound";
    EXPECT_LT(sent.load(), flood.size());
}

TEST_F(Win32DeviceOverWine, AHungUpFarEndIsALostDevice) {
    const Bytes hangUp = Frame('H', {});
    ASSERT_TRUE(Send(hangUp));
    // Nothing comes: the wait must report the loss, not block or spin.
    EXPECT_TRUE(Receive(1).empty());
    EXPECT_EQ(m_LastWait, SerialDevice::WaitResult::Lost);
    EXPECT_TRUE(m_Device->Lost());
    EXPECT_EQ(m_Device->Write(hangUp.data(), static_cast<std::uint32_t>(hangUp.size()), 1s), 0U);
    // Told once, as a loss, whatever the later calls met.
    const std::lock_guard lock(m_ErrorsLock);
    ASSERT_EQ(m_Errors.size(), 1U);
    EXPECT_EQ(m_Errors[0].kind, SerialError::Kind::Lost) << m_Errors[0].Line();
}

}  // namespace
}  // namespace vyx
