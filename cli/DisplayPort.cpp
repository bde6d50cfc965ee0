#include "cli/DisplayPort.h"

#include <array>
#include <filesystem>
#include <system_error>

#include "cli/OpenFailure.h"
#include "cli/Output.h"
#include "cli/StderrCapture.h"
#include "protocol/Frame.h"
#include "protocol/Report.h"
#include "serial/ComName.h"

namespace vyx::cli {

bool DrainSignal::PostMessage(std::uint32_t message, std::uint64_t, std::int64_t) {
    if (message == WM_COMM_READ || message == WM_COMM_CHUNK) {
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

namespace {

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

}  // namespace

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
}

DisplayPort::~DisplayPort() {
    Close();
}

int DisplayPort::Open(const std::string& portName, std::uint32_t baud) {
    m_Description = DescribePort(portName);
    m_Baud = baud;
    const auto number = static_cast<std::uint16_t>(ComNumber(portName));
    StderrCapture libraryDiagnostics;
    if (m_Port.OpenPort(portName, baud, number) == 1) {
        return 1;  // anything the library said is passed on by the capture's destructor
    }
    const std::string libraryLine = FirstLine(libraryDiagnostics.Release());
    const OpenFailure failure =
        DiagnoseOpenFailure(ResolvePortName(portName).value_or(portName), libraryLine);
    Fail("cannot open " + m_Description + ": " + failure.reason, failure.hint);
    return 0;
}

void DisplayPort::Close() {
    if (m_Port.m_bConnected.load() == 1) {
        m_Port.ClosePort();
    }
}

std::uint32_t DisplayPort::Send(std::span<const std::uint8_t> bytes) {
    return m_Port.WriteComm(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

std::optional<std::vector<std::uint8_t>> DisplayPort::QueryInformation(
    std::chrono::milliseconds timeout) {
    std::array<std::uint8_t, protocol::kMainTxBufferSize> frame{};
    const std::size_t length = protocol::BuildInformationQuery(frame);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    m_Port.m_QueueRead.Clear();
    Send(std::span(frame).first(length));
    if (!WaitForBytes(static_cast<std::int32_t>(protocol::kReplyMinimum), deadline)) {
        m_BytesAtTimeout = m_Port.m_QueueRead.GetCount();
        return std::nullopt;
    }
    return TakeQueued();
}

bool DisplayPort::WaitForBytes(std::int32_t count, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        // The generation is read before the count: a drain that lands after the count
        // was read moves the generation on, so the wait below cannot miss it.
        const std::uint64_t seen = m_Signal.Generation();
        if (m_Port.m_QueueRead.GetCount() >= count) {
            return true;
        }
        if (!m_Signal.WaitPast(seen, deadline)) {
            return m_Port.m_QueueRead.GetCount() >= count;
        }
    }
}

std::vector<std::uint8_t> DisplayPort::TakeQueued() {
    // The count is read once; bytes queued after it stay for nobody, as in the dialog.
    const auto count = static_cast<std::size_t>(m_Port.m_QueueRead.GetCount());
    std::vector<std::uint8_t> reply;
    reply.reserve(std::min(count, protocol::kReplyBufferSize));
    std::uint8_t byte = 0;
    while (reply.size() < std::min(count, protocol::kReplyBufferSize) &&
           m_Port.m_QueueRead.GetByte(byte) == 1) {
        reply.push_back(byte);
    }
    return reply;
}

}  // namespace vyx::cli
