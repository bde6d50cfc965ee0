// The serial device on Windows: a COM port opened for overlapped transfers. The watcher
// waits on WaitCommEvent with an event of its own, together with the opening's wake
// event; every transfer has its own record and event, so a read and a write can be
// under way at the same time.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "serial/SerialDevice.h"

namespace vyx {

namespace {

using Clock = std::chrono::steady_clock;

// Driver queue sizes asked for at open, each way.
constexpr DWORD kDriverQueueSize = 4096;
// Failed waits in a row after which the device counts as lost.
constexpr int kFailedWaitsLimit = 100;

std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n != 0 && text != nullptr ? std::string(text, n) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) {
        message = "system error";
    }
    return message + " (error " + std::to_string(code) + ")";
}

// The kind of a failure at opening or later. Access denied and a sharing violation
// mean another opener holds the port only where CreateFile meets them: later, the same
// codes come from a device that went away (see IsGone).
SerialError::Kind KindOfCode(const char* call, DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_NAME:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NOT_READY:
            return SerialError::Kind::NoDevice;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return std::string_view(call) == "CreateFile" ? SerialError::Kind::Busy
                                                          : SerialError::Kind::Other;
        default:
            return SerialError::Kind::Other;
    }
}

SerialError CodeError(const char* call, const std::string& path, DWORD code) {
    return {KindOfCode(call, code), call, path, static_cast<int>(code), SystemMessage(code)};
}

// Codes with which a removed adapter or a closed far end fails every later call.
bool IsGone(DWORD code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_INVALID_HANDLE || code == ERROR_NOT_READY ||
           code == ERROR_BAD_COMMAND || code == ERROR_GEN_FAILURE ||
           code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_DEVICE_REMOVED ||
           code == ERROR_BROKEN_PIPE || code == ERROR_DEV_NOT_EXIST;
}

// Milliseconds to `deadline`, rounded up so that a pause never ends early.
DWORD MillisLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 60'000 ? 60'000 : static_cast<DWORD>(left);
}

// The members the display's line needs, and no others: handshake lines, DTR and RTS
// control, parity checking and the error and end-of-file characters stay as the device
// reported them.
void ApplyLineState(DCB& dcb, std::uint32_t rate) {
    dcb.BaudRate = rate;
    dcb.fOutX = 0;  // a 0x13 from the display must never stall our output
    dcb.fInX = 0;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0;
    dcb.XoffChar = 0;
}

bool LineStateTaken(const DCB& want, const DCB& got) {
    return got.BaudRate == want.BaudRate && got.ByteSize == want.ByteSize &&
           got.Parity == want.Parity && got.StopBits == want.StopBits && got.fOutX == 0 &&
           got.fInX == 0;
}

// A manual-reset, unsignalled, unnamed event.
HANDLE NewEvent() {
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

class Win32Device final : public SerialDevice {
  public:
    struct Handles {
        HANDLE comm = INVALID_HANDLE_VALUE;
        HANDLE wake = nullptr;   // set once by Wake() and never reset: the signal is sticky
        HANDLE wait = nullptr;   // the watcher's WaitCommEvent
        HANDLE read = nullptr;   // the watcher's ReadFile
        HANDLE write = nullptr;  // the window's WriteFile
    };

    Win32Device(std::string path, std::uint32_t rate, const Handles& handles, ErrorReport report)
        : m_Path(std::move(path)), m_Rate(rate), m_Report(std::move(report)), m_H(handles) {}
    ~Win32Device() override { Close(); }
    Win32Device(const Win32Device&) = delete;
    Win32Device& operator=(const Win32Device&) = delete;

    const std::string& Path() const override { return m_Path; }
    std::uint32_t BaudRate() const override { return m_Rate; }

    bool PrepareWait() override;
    WaitResult WaitReadable() override;
    bool Pause(std::chrono::milliseconds pause) override;
    void WaitForWake() override;
    void Wake() override;
    bool WakeRequested() const override { return m_WakeRequested.load(); }
    bool Lost() const override { return m_Lost.load(); }
    std::uint32_t BytesWaiting() override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t maxCount) override;
    std::uint32_t Write(const std::uint8_t* bytes, std::uint32_t count,
                        std::chrono::milliseconds bound) override;
    void Close() override;

  private:
    void MarkLost(const char* call, DWORD code);
    // A failed call: the device is lost when the code says so, else one diagnostic.
    void Failed(const char* call, DWORD code);
    // ClearCommError's count of received bytes; the caller holds m_UseLock.
    std::uint32_t InputWaiting();
    // Waits for the wake event until `deadline`; true if woken.
    bool WaitWakeUntil(Clock::time_point deadline);
    // Waits for `transfer` to finish or the wake event; when woken or at `deadline`,
    // cancels it. Then waits for the driver to let go of the record and returns the
    // count it transferred; `finished` tells whether it ran to its end.
    DWORD Finish(OVERLAPPED& transfer, HANDLE event, Clock::time_point deadline, const char* call,
                 bool& finished);

    const std::string m_Path;
    const std::uint32_t m_Rate;
    const ErrorReport m_Report;  // called from any thread; the port's report is made for that

    // The handles stay valid while any operation holds m_UseLock shared; Close takes it
    // exclusively, so a write under way (woken first) never sees a released handle.
    std::shared_mutex m_UseLock;
    Handles m_H;            // guarded by m_UseLock (released only under the exclusive lock)
    bool m_Closed = false;  // same

    // Failed waits in a row; used by the watcher alone (the one caller of WaitReadable).
    int m_FailedWaits = 0;

    std::mutex m_WriteLock;  // one write at a time, on the one write record
    std::atomic<bool> m_WakeRequested{false};
    std::atomic<bool> m_Lost{false};
    // A write gave up with bytes still queued: the close discards the output queue too.
    std::atomic<bool> m_OutputStuck{false};
};

void Win32Device::MarkLost(const char* call, DWORD code) {
    // Reported once per opening; later calls stay quiet.
    if (!m_Lost.exchange(true)) {
        m_Report({SerialError::Kind::Lost, call, m_Path, static_cast<int>(code),
                  "device lost (" + SystemMessage(code) + ")"});
    }
}

void Win32Device::Failed(const char* call, DWORD code) {
    if (IsGone(code)) {
        MarkLost(call, code);
    } else if (!m_Lost.load()) {
        m_Report(CodeError(call, m_Path, code));
    }
}

bool Win32Device::PrepareWait() {
    std::shared_lock use(m_UseLock);
    if (m_Closed) {
        return false;
    }
    if (m_WakeRequested.load()) {
        return true;  // closing: the watcher leaves at its loop test
    }
    if (!SetCommMask(m_H.comm, EV_RXCHAR)) {
        m_Report(CodeError("SetCommMask", m_Path, GetLastError()));
        return false;
    }
    return true;
}

std::uint32_t Win32Device::InputWaiting() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_H.comm, &errors, &status)) {
        Failed("ClearCommError", GetLastError());
        return 0;
    }
    return status.cbInQue;
}

SerialDevice::WaitResult Win32Device::WaitReadable() {
    std::shared_lock use(m_UseLock);
    if (m_Closed || m_WakeRequested.load()) {
        return WaitResult::Woken;
    }
    if (m_Lost.load()) {
        return WaitResult::Lost;
    }
    // Bytes that came after the last drain's empty read may have raised their event
    // before this wait began; they are read now rather than left for the next byte.
    if (InputWaiting() > 0) {
        return WaitResult::Readable;
    }
    if (m_Lost.load()) {
        return WaitResult::Lost;  // the count could not be read: the device is gone
    }
    OVERLAPPED transfer{};
    transfer.hEvent = m_H.wait;
    ResetEvent(m_H.wait);
    DWORD events = 0;
    if (!WaitCommEvent(m_H.comm, &events, &transfer)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) {
            if (m_WakeRequested.load()) {
                return WaitResult::Woken;  // the wake cleared the mask just before the wait
            }
            // A wait that fails outright fails again at once: stop using the device
            // rather than spin on it.
            MarkLost("WaitCommEvent", code);
            return WaitResult::Lost;
        }
        const HANDLE both[2] = {m_H.wait, m_H.wake};
        const DWORD which = WaitForMultipleObjects(2, both, FALSE, INFINITE);
        if (which != WAIT_OBJECT_0) {
            // Woken: Wake() cleared the event mask, which ends the wait; the cancel
            // covers a driver that ignores that. The record must stay until it is done.
            CancelIoEx(m_H.comm, &transfer);
        }
        DWORD unused = 0;
        if (!GetOverlappedResult(m_H.comm, &transfer, &unused, TRUE)) {
            const DWORD failure = GetLastError();
            // Cancels are normal (a close, or Wine on a line without modem status);
            // other failures that keep coming mean the device will not recover.
            if (failure != ERROR_OPERATION_ABORTED &&
                (IsGone(failure) || ++m_FailedWaits >= kFailedWaitsLimit)) {
                MarkLost("WaitCommEvent", failure);
                return WaitResult::Lost;
            }
            events = 0;  // no event bits
        } else {
            m_FailedWaits = 0;
        }
        if (which != WAIT_OBJECT_0) {
            return WaitResult::Woken;
        }
    }
    if ((events & EV_RXCHAR) != 0) {
        return WaitResult::Readable;
    }
    // Any other end of the wait (a mask change, a cancel by the driver) is only a cue
    // to test the loop condition and wait again.
    return WaitResult::Woken;
}

bool Win32Device::WaitWakeUntil(Clock::time_point deadline) {
    std::shared_lock use(m_UseLock);
    if (m_Closed || m_WakeRequested.load()) {
        return true;
    }
    // Looped on the clock: a timed wait may end a tick before its time.
    while (true) {
        const DWORD left = deadline == Clock::time_point::max() ? INFINITE : MillisLeft(deadline);
        if (left == 0) {
            return false;
        }
        const DWORD rc = WaitForSingleObject(m_H.wake, left);
        if (rc != WAIT_TIMEOUT) {
            return true;  // a failed wait counts as woken, so a caller never spins on it
        }
    }
}

bool Win32Device::Pause(std::chrono::milliseconds pause) {
    return !WaitWakeUntil(Clock::now() + pause);
}

void Win32Device::WaitForWake() {
    WaitWakeUntil(Clock::time_point::max());
}

void Win32Device::Wake() {
    m_WakeRequested.store(true);
    std::shared_lock use(m_UseLock);
    if (!m_Closed) {
        SetEvent(m_H.wake);
        // No watched events: a WaitCommEvent under way ends at once with no event bits.
        SetCommMask(m_H.comm, 0);
    }
}

std::uint32_t Win32Device::BytesWaiting() {
    std::shared_lock use(m_UseLock);
    if (m_Closed || m_Lost.load()) {
        return 0;
    }
    return InputWaiting();
}

DWORD Win32Device::Finish(OVERLAPPED& transfer, HANDLE event, Clock::time_point deadline,
                          const char* call, bool& finished) {
    const HANDLE both[2] = {event, m_H.wake};
    DWORD which = WAIT_TIMEOUT;
    // Looped on the clock: one wait is capped, and a timed wait may end a tick early.
    do {
        which = WaitForMultipleObjects(2, both, FALSE, MillisLeft(deadline));
    } while (which == WAIT_TIMEOUT && Clock::now() < deadline);
    finished = which == WAIT_OBJECT_0;
    if (!finished) {
        CancelIoEx(m_H.comm, &transfer);
    }
    DWORD count = 0;
    while (!GetOverlappedResult(m_H.comm, &transfer, &count, TRUE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_IO_INCOMPLETE) {
            continue;
        }
        finished = false;
        if (code != ERROR_OPERATION_ABORTED) {
            // The error state must be cleared, or the device refuses every later transfer.
            DWORD errors = 0;
            ClearCommError(m_H.comm, &errors, nullptr);
            Failed(call, code);
        }
        break;  // `count` holds what was transferred before the failure
    }
    return count;
}

std::uint32_t Win32Device::Read(std::uint8_t* buffer, std::uint32_t maxCount) {
    std::shared_lock use(m_UseLock);
    if (m_Closed || m_Lost.load() || maxCount == 0) {
        return 0;
    }
    OVERLAPPED transfer{};
    transfer.hEvent = m_H.read;
    ResetEvent(m_H.read);
    DWORD count = 0;
    if (ReadFile(m_H.comm, buffer, maxCount, &count, &transfer)) {
        return count;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_IO_PENDING) {
        DWORD errors = 0;
        ClearCommError(m_H.comm, &errors, nullptr);
        Failed("ReadFile", code);
        return 0;
    }
    // Under the open's time-outs a read returns at once with what has arrived; the
    // limit only keeps a driver that ignores them from holding the watcher.
    bool finished = false;
    return Finish(transfer, m_H.read, Clock::now() + std::chrono::seconds(5), "ReadFile", finished);
}

std::uint32_t Win32Device::Write(const std::uint8_t* bytes, std::uint32_t count,
                                 std::chrono::milliseconds bound) {
    std::shared_lock use(m_UseLock);
    std::lock_guard one(m_WriteLock);
    if (m_Closed || m_Lost.load() || m_WakeRequested.load() || count == 0) {
        return 0;
    }
    const auto deadline = Clock::now() + bound;
    OVERLAPPED transfer{};
    transfer.hEvent = m_H.write;
    ResetEvent(m_H.write);
    DWORD done = 0;
    // With write time-outs of zero a write completes once the driver has sent it all.
    if (WriteFile(m_H.comm, bytes, count, &done, &transfer)) {
        return done;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_IO_PENDING) {
        DWORD errors = 0;
        ClearCommError(m_H.comm, &errors, nullptr);
        Failed("WriteFile", code);
        return 0;
    }
    bool finished = false;
    done = Finish(transfer, m_H.write, deadline, "WriteFile", finished);
    if (!finished && done < count) {
        // The rest will not go out in time: discard it so it does not reach the display
        // late. `done` counts only what the driver had sent before the cancel.
        m_OutputStuck.store(true);
        PurgeComm(m_H.comm, PURGE_TXABORT | PURGE_TXCLEAR);
    }
    return done;
}

void Win32Device::Close() {
    Wake();
    std::unique_lock use(m_UseLock);
    if (m_Closed) {
        return;
    }
    m_Closed = true;
    // Input only: on a pseudo-terminal's emulation an output purge also discards what
    // the far end has not read yet, and Write already waited until its bytes were out.
    DWORD purge = PURGE_RXABORT | PURGE_RXCLEAR;
    if (m_OutputStuck.load()) {
        purge |= PURGE_TXABORT | PURGE_TXCLEAR;
    }
    PurgeComm(m_H.comm, purge);
    CloseHandle(m_H.comm);
    for (HANDLE event : {m_H.wake, m_H.wait, m_H.read, m_H.write}) {
        CloseHandle(event);
    }
    m_H = Handles{};
}

void CloseAll(const Win32Device::Handles& h) {
    for (HANDLE event : {h.wake, h.wait, h.read, h.write}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
    if (h.comm != INVALID_HANDLE_VALUE) {
        CloseHandle(h.comm);
    }
}

// Reads the line state, changes the display's members and writes it back; false with
// a diagnostic when the device refuses it.
bool ConfigureLine(HANDLE comm, const std::string& path, std::uint32_t baudRate,
                   const SerialDevice::ErrorReport& report) {
    // Every refusal of the line state is a bad setting, whatever code the driver gives.
    auto refused = [&](const char* call, DWORD code) {
        SerialError error = CodeError(call, path, code);
        error.kind = SerialError::Kind::BadSetting;
        report(error);
        return false;
    };
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(comm, &dcb)) {
        // Nothing to keep: start from a cleared record (no handshake, DTR and RTS off).
        dcb = DCB{};
        dcb.DCBlength = sizeof dcb;
        dcb.fBinary = 1;  // the only mode Windows supports
    }
    const DCB reported = dcb;
    ApplyLineState(dcb, baudRate);
    if (!SetCommState(comm, &dcb)) {
        const DWORD code = GetLastError();
        if (code != ERROR_INVALID_PARAMETER) {
            return refused("SetCommState", code);
        }
        // Some drivers refuse equal XON and XOFF characters even with XON/XOFF off;
        // with both directions off the characters are never used, so keep the device's.
        dcb.XonChar = reported.XonChar;
        dcb.XoffChar = reported.XoffChar;
        if (!SetCommState(comm, &dcb)) {
            return refused("SetCommState", GetLastError());
        }
    }
    DCB got{};
    got.DCBlength = sizeof got;
    if (!GetCommState(comm, &got)) {
        return refused("GetCommState", GetLastError());
    }
    if (!LineStateTaken(dcb, got)) {
        report({SerialError::Kind::BadSetting, "SetCommState", path, 0,
                "line state not taken at " + std::to_string(baudRate) + " baud"});
        return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<SerialDevice> SerialDevice::Open(const std::string& path, std::uint32_t baudRate,
                                                 ErrorReport report) {
    if (baudRate == 0) {
        report({SerialError::Kind::BadSetting, "SetCommState", path, 0, "unsupported baud rate 0"});
        return nullptr;
    }
    Win32Device::Handles h;
    // No sharing: a port held by another program (or by us) refuses the open. The handle
    // is not inherited by the programming tool the download hand-off starts.
    h.comm = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
    if (h.comm == INVALID_HANDLE_VALUE) {
        report(CodeError("CreateFile", path, GetLastError()));
        return nullptr;
    }
    auto fail = [&](SerialError error) -> std::shared_ptr<SerialDevice> {
        report(error);
        CloseAll(h);
        return nullptr;
    };
    if (GetFileType(h.comm) != FILE_TYPE_CHAR) {
        SerialError error = CodeError("GetFileType", path, ERROR_BAD_DEVICE);
        error.kind = SerialError::Kind::NotASerialDevice;
        return fail(error);
    }
    // The queue sizes are a request the driver may round or ignore.
    SetCommMask(h.comm, EV_RXCHAR);
    SetupComm(h.comm, kDriverQueueSize, kDriverQueueSize);
    // Input left from an earlier user is stale; output is not ours to discard.
    PurgeComm(h.comm, PURGE_RXABORT | PURGE_RXCLEAR);
    // Reads return at once with what has arrived; writes have no time-out of their own
    // (Write bounds them). Without these a read could wait for bytes: not optional.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    if (!SetCommTimeouts(h.comm, &timeouts)) {
        // The first call that only a serial driver answers: a character device that
        // refuses it (NUL, a console, a printer) is no port.
        SerialError error = CodeError("SetCommTimeouts", path, GetLastError());
        error.kind = SerialError::Kind::NotASerialDevice;
        return fail(error);
    }
    if (!ConfigureLine(h.comm, path, baudRate, report)) {
        CloseAll(h);
        return nullptr;
    }
    h.wake = NewEvent();
    h.wait = NewEvent();
    h.read = NewEvent();
    h.write = NewEvent();
    if (h.wake == nullptr || h.wait == nullptr || h.read == nullptr || h.write == nullptr) {
        return fail(CodeError("CreateEvent", path, GetLastError()));
    }
    return std::make_shared<Win32Device>(path, baudRate, h, std::move(report));
}

}  // namespace vyx
