#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/Notify.h"
#include "serial/SerialPort.h"

namespace vyx::cli {

// Wakes a waiting command thread whenever the serial watcher reports a drain or a
// queued chunk.
// PostMessage runs on the watcher; Wait runs on the command thread. The counter and
// the condition variable are the only state the two share, guarded by m_Lock.
class DrainSignal final : public NotifyWindow {
  public:
    bool PostMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) override;

    // Number of drains reported so far; read before looking at the queue.
    std::uint64_t Generation();
    // Blocks until a drain after `seen` is reported or `deadline` passes; false on timeout.
    bool WaitPast(std::uint64_t seen, std::chrono::steady_clock::time_point deadline);

  private:
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::uint64_t m_Generation = 0;  // guarded by m_Lock
};

// One opening of the display's port for one command: opens, sends frames, waits for the
// information reply, closes. Every failure is told on standard error in one line (and
// a hint) naming the port and the reason.
class DisplayPort {
  public:
    DisplayPort();
    ~DisplayPort();
    DisplayPort(const DisplayPort&) = delete;
    DisplayPort& operator=(const DisplayPort&) = delete;

    // 1 when the port is open at `baud`; 0 after telling why it is not.
    int Open(const std::string& portName, std::uint32_t baud);
    // Closes the port; the line settings stay as they were set.
    void Close();
    // Writes the bytes; returns when they are out. Returns the count written.
    std::uint32_t Send(std::span<const std::uint8_t> bytes);

    // Empties the receive queue, then sends the information query (in this order, so a
    // fast reply is never discarded) and waits until at least 22 bytes are queued.
    // Returns the bytes taken (all that were queued, at most 1024), or nullopt on timeout.
    std::optional<std::vector<std::uint8_t>> QueryInformation(std::chrono::milliseconds timeout);

    // How many bytes the last QueryInformation had when it gave up.
    std::int32_t BytesAtTimeout() const { return m_BytesAtTimeout; }
    std::uint32_t Baud() const { return m_Baud; }
    // "COM4 (/dev/ttyS3)" or the device path, for messages.
    const std::string& Describe() const { return m_Description; }

  private:
    bool WaitForBytes(std::int32_t count, std::chrono::steady_clock::time_point deadline);
    std::vector<std::uint8_t> TakeQueued();

    DrainSignal m_Signal;  // before m_Port: its watcher is joined before the signal goes
    SerialPort m_Port;
    std::uint32_t m_Baud = 0;
    std::int32_t m_BytesAtTimeout = 0;
    std::string m_Description;
};

// "COM4 (/dev/ttyS3)", "COM4 (/home/u/.config/vyx-utility/ports/COM4 -> /dev/ttyUSB0)"
// or the device path as given.
std::string DescribePort(const std::string& portName);

}  // namespace vyx::cli
