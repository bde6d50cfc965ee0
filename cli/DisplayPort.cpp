#include "cli/DisplayPort.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "cli/Console.h"
#include "cli/DeviceAccess.h"
#include "cli/Formatting.h"
#include "cli/OpenFailure.h"
#include "cli/Output.h"
#include "protocol/Frame.h"
#include "protocol/Report.h"
#include "serial/ComName.h"

namespace vyx::cli {

namespace {

// The local time of day, to the microsecond, for the trace.
std::chrono::microseconds LocalTimeOfDay() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto fraction =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()) %
        std::chrono::seconds(1);
    // localtime's result is one static object: the ports of a run on several ports
    // trace from their own threads, so it is read under a lock.
    static std::mutex localTimeLock;
    std::lock_guard<std::mutex> hold(localTimeLock);
    const std::tm* local = std::localtime(&seconds);
    if (local == nullptr) {
        return fraction;
    }
    return std::chrono::hours(local->tm_hour) + std::chrono::minutes(local->tm_min) +
           std::chrono::seconds(local->tm_sec) + fraction;
}

}  // namespace

void WatcherMessages::Show(const std::string& text, std::function<void()> onDismissed) {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Lines.push_back(text);
    }
    // Nobody is there to dismiss it: counted as dismissed at once, as on standard error.
    if (onDismissed) {
        onDismissed();
    }
}

std::vector<std::string> WatcherMessages::TakeLines() {
    std::lock_guard<std::mutex> hold(m_Lock);
    return std::exchange(m_Lines, {});
}

bool DrainSignal::PostMessage(std::uint32_t message, std::uint64_t /*wParam*/,
                              std::int64_t /*lParam*/) {
    if (message == WM_COMM_READ || message == WM_COMM_CHUNK || message == WM_COMM_LOST) {
        {
            std::lock_guard<std::mutex> hold(m_Lock);
            ++m_Generation;
        }
        m_Changed.notify_all();
    }
    return true;
}

std::uint64_t DrainSignal::Generation() {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Generation;
}

bool DrainSignal::WaitPast(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> hold(m_Lock);
    return m_Changed.wait_until(hold, deadline, [&] { return m_Generation != seen; });
}

std::string DescribePort(const std::string& portName) {
    const auto device = ResolvePortName(portName);
    if (!device || *device == portName) {
        return portName;
    }
    std::error_code error;
    const auto target = std::filesystem::read_symlink(*device, error);
    if (error) {
        return portName + " (" + *device + ")";
    }
    return portName + " (" + *device + " -> " + target.string() + ")";
}

DisplayPort::DisplayPort() {
    m_Port.m_hNotifyWnd = &m_Signal;
    // Woken after every chunk too, so a complete reply ends the wait without waiting
    // for the watcher's gathering pauses.
    m_Port.m_hChunkNotifyWnd = &m_Signal;
    // A command waits for a count of bytes, not for a window's batch: nothing to gather.
    m_Port.m_GatherPause = std::chrono::milliseconds(0);
    // Every failure is told once, in vyxctl's own line built from LastError(); the
    // port's default sink would print the library's line beside it.
    m_Port.SetDiagnosticSink([](const SerialError&) {});
    m_Port.m_pAppMessageBox = &m_Messages;
}

DisplayPort::~DisplayPort() {
    Close();
}

int DisplayPort::Open(const std::string& portName, std::uint32_t baud) {
    m_Description = DescribePort(portName);
    m_Baud = baud;
    const auto number = static_cast<std::uint16_t>(ComNumber(portName));
    if (m_Port.OpenPort(portName, baud, number) == 1) {
        return 1;
    }
    const SerialError error = m_Port.LastError();
    const OpenFailure failure = DescribeOpenFailure(error, LookUpDeviceAccess(error.path));
    m_LastFailure = "cannot open " + m_Description + ": " + failure.reason;
    Fail(m_LastFailure, failure.hint);
    return 0;
}

void DisplayPort::Close() {
    if (m_Port.m_bConnected.load() == 1) {
        m_Port.ClosePort();
    }
    TellWatcherMessages();  // the watcher has ended: nothing more can come
}

void DisplayPort::TellWatcherMessages() {
    for (const std::string& line : m_Messages.TakeLines()) {
        Err() << line << '\n';
    }
}

bool DisplayPort::Send(std::span<const std::uint8_t> bytes) {
    const std::uint32_t sent =
        m_Port.WriteComm(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    Trace('>', bytes.first(std::min<std::size_t>(sent, bytes.size())));
    if (sent == bytes.size()) {
        return true;
    }
    // WriteComm gives up at its bound (twice the wire time plus a second) when the far
    // end takes nothing more; a write that failed outright left its error.
    const SerialError error = m_Port.LastError();
    const std::string why = m_Port.m_bConnected.load() != 1 ? "the port is not open"
                            : m_Port.DeviceLost()           ? "device lost"
                            : error.Failed() && error.call == "write"
                                ? error.Line()
                                : "the far end did not take them in time";
    m_LastFailure = m_Description + ": the bytes did not all reach the port (" +
                    std::to_string(sent) + " of " + std::to_string(bytes.size()) + " sent): " + why;
    Fail(m_LastFailure);
    return false;
}

InformationOutcome DisplayPort::QueryInformation(std::chrono::microseconds timeout,
                                                 std::optional<std::uint8_t> baudCode) {
    std::array<std::uint8_t, protocol::kMainTxBufferSize> query{};
    const std::size_t length = protocol::BuildInformationQuery(query);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    InformationOutcome outcome;
    protocol::InformationScanner scanner;
    if (m_Trace != nullptr) {
        static_cast<void>(TakeQueued());  // traced: what the query passes over
    }
    m_Port.m_QueueRead.Clear();
    if (!Send(std::span(query).first(length))) {
        outcome.kind = InformationOutcome::Kind::NotSent;
        return outcome;
    }
    for (bool waiting = true;;) {
        // The generation is read before the queue: a chunk (or the loss) reported after
        // the queue was emptied moves it on, so the wait below cannot miss it.
        const std::uint64_t seen = m_Signal.Generation();
        auto frame = scanner.Feed(TakeQueued());
        while (frame && baudCode && (*frame)[protocol::kPosBaudRate] != *baudCode) {
            outcome.otherRate = (*frame)[protocol::kPosBaudRate];
            frame = scanner.Next();
        }
        if (frame) {
            outcome.kind = InformationOutcome::Kind::Reply;
            outcome.frame = *frame;
            break;
        }
        if (m_Port.DeviceLost()) {
            outcome.kind = InformationOutcome::Kind::DeviceLost;
            break;
        }
        if (!waiting) {
            outcome.kind = InformationOutcome::Kind::NoValidFrame;
            break;
        }
        // One more look at the queue after the deadline, then give up: bytes that keep
        // coming (noise without a valid frame) do not stretch the wait.
        waiting = std::chrono::steady_clock::now() < deadline && m_Signal.WaitPast(seen, deadline);
    }
    outcome.bytesSeen = scanner.BytesSeen();
    TellWatcherMessages();
    return outcome;
}

std::vector<std::uint8_t> DisplayPort::TakeQueued() {
    std::vector<std::uint8_t> bytes;
    std::uint8_t byte = 0;
    while (m_Port.m_QueueRead.GetByte(byte) == 1) {
        bytes.push_back(byte);
    }
    Trace('<', bytes);
    return bytes;
}

void DisplayPort::Trace(char direction, std::span<const std::uint8_t> bytes) {
    if (m_Trace != nullptr && !bytes.empty()) {
        *m_Trace << TraceLines(LocalTimeOfDay(), direction, bytes) << std::flush;
    }
}

}  // namespace vyx::cli
