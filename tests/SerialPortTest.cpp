#include "serial/SerialPort.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <fcntl.h>
#include <atomic>
#include <cerrno>
#include <chrono>
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

[[maybe_unused]] int InputWaiting(int fd) {
    int n = 0;
    ioctl(fd, FIONREAD, &n);
    return n;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_Pty.ok());
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

}  // namespace
}  // namespace vyx
