#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "protocol/InformationFrame.h"
#include "serial/Notify.h"
#include "serial/SerialPort.h"

namespace vyx::cli {

// Wakes a waiting command thread whenever the serial watcher reports a drain, a
// queued chunk or the loss of the device.
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

// What came of an information query.
struct InformationOutcome {
    enum class Kind {
        Reply,         // `frame` is a well-formed information frame
        NoValidFrame,  // the wait ended without one; `bytesSeen` bytes arrived
        DeviceLost,    // the device hung up or went away while waiting
        NotSent,       // the query did not reach the port (already told)
    };
    Kind kind = Kind::NoValidFrame;
    protocol::InformationFrame frame{};
    std::size_t bytesSeen = 0;
    // Baud-rate code of the last valid frame passed over for naming another rate.
    std::optional<std::uint8_t> otherRate;
};

// The watcher's messages ("m_QueueRead FULL!"), kept until the command thread tells
// them: the watcher runs beside the command thread, and the command's streams belong to
// that thread alone (a port's own buffers in a run on several ports).
// Show runs on the watcher; TakeLines on the command thread; m_Lock guards m_Lines.
class WatcherMessages final : public AppMessageBox {
  public:
    void Show(const std::string& text, std::function<void()> onDismissed) override;
    std::vector<std::string> TakeLines();

  private:
    std::mutex m_Lock;
    std::vector<std::string> m_Lines;  // guarded by m_Lock
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
    // Writes the bytes; returns when they are out. False when they did not all go out
    // (the write gave up at its bound, or failed), after telling so on standard error.
    bool Send(std::span<const std::uint8_t> bytes);

    // Empties the receive queue, then sends the information query (in this order, so a
    // fast reply is never discarded) and scans what arrives for a valid information
    // frame until `timeout` passes or the device is lost. With `baudCode`, a frame whose
    // baud-rate field names another rate is passed over (a late answer to an earlier
    // query at another rate).
    InformationOutcome QueryInformation(std::chrono::microseconds timeout,
                                        std::optional<std::uint8_t> baudCode = std::nullopt);

    // Dumps every byte written and every byte taken from the receive queue on `out`
    // (nullptr: no dump), one timestamped hex and ASCII line per 16 bytes.
    void SetTrace(std::ostream* out) { m_Trace = out; }

    std::uint32_t Baud() const { return m_Baud; }
    // "COM4 (/dev/ttyS3)" or the device path, for messages.
    const std::string& Describe() const { return m_Description; }
    // The line last told of a failed opening or sending (without "vyxctl: "), or empty:
    // for a caller that reports the failure elsewhere too (apply's JSON).
    const std::string& LastFailure() const { return m_LastFailure; }

  private:
    std::vector<std::uint8_t> TakeQueued();
    void TellWatcherMessages();
    void Trace(char direction, std::span<const std::uint8_t> bytes);

    WatcherMessages m_Messages;  // before m_Port, as m_Signal
    DrainSignal m_Signal;        // before m_Port: its watcher is joined before the signal goes
    SerialPort m_Port;
    std::uint32_t m_Baud = 0;
    std::string m_Description;
    std::ostream* m_Trace = nullptr;
    std::string m_LastFailure;
};

// "COM4 (/dev/ttyS3)", "COM4 (/home/u/.config/vyx-utility/ports/COM4 -> /dev/ttyUSB0)"
// or the device path as given.
std::string DescribePort(const std::string& portName);

}  // namespace vyx::cli
