#include "serial/SerialPort.h"

#include <array>
#include <system_error>

#include "serial/ComName.h"
#include "serial/SerialDevice.h"

namespace vyx {

// The state of one message box the watcher waits on. It is shared with the box's
// dismissal callback, which may run after the port (or even the watcher) is gone.
struct SerialPort::BoxWait {
    std::mutex lock;
    std::condition_variable changed;
    bool dismissed = false;  // the operator closed the box
    bool abandoned = false;  // the port is being closed: stop waiting for the operator
};

// The latest failure and where failures go. Shared with each opening's report function,
// so a device that reports late never reaches a port that is gone.
struct SerialPort::ErrorLog {
    mutable std::mutex lock;  // protects both members
    SerialError last;
    DiagnosticSink sink;
};

namespace {

// Received bytes: how many wait, then one read of at most maxCount.
std::uint32_t ReadFrom(SerialDevice& device, std::uint8_t* buffer, std::uint32_t maxCount) {
    if (device.BytesWaiting() == 0) {
        return 0;
    }
    return device.Read(buffer, maxCount);
}

// 2 x (count x 10 / baud) seconds plus 1 s: twice the time the bytes take on the line
// (10 bits a byte) and a second for the driver.
std::chrono::milliseconds WriteBound(std::uint32_t count, std::uint32_t baudRate) {
    const std::uint64_t lineMs =
        static_cast<std::uint64_t>(count) * 10U * 1000U / (baudRate == 0 ? 1U : baudRate);
    return std::chrono::milliseconds(static_cast<std::int64_t>(2 * lineMs + 1000));
}

}  // namespace

SerialPort::SerialPort() : SerialPort(DeviceOpener{}) {}

SerialPort::SerialPort(DeviceOpener opener)
    : m_OpenDevice(std::move(opener)), m_Errors(std::make_shared<ErrorLog>()) {}

SerialPort::~SerialPort() {
    // The watcher holds this object: end it and wait for it before the members go.
    ClosePort();
}

// ---------------------------------------------------------------------------------
// Set-up and failures

void SerialPort::SetDeviceOpener(DeviceOpener opener) {
    std::lock_guard lock(m_StateLock);
    m_OpenDevice = std::move(opener);
}

void SerialPort::SetDiagnosticSink(DiagnosticSink sink) {
    std::lock_guard lock(m_Errors->lock);
    m_Errors->sink = std::move(sink);
}

SerialError SerialPort::LastError() const {
    std::lock_guard lock(m_Errors->lock);
    return m_Errors->last;
}

void SerialPort::Report(ErrorLog& log, const SerialError& error) {
    DiagnosticSink sink;
    {
        std::lock_guard lock(log.lock);
        log.last = error;
        sink = log.sink;
    }
    if (sink) {
        sink(error);
    } else {
        PrintToStderr(error);
    }
}

// ---------------------------------------------------------------------------------
// Serialising OpenPort/ClosePort

void SerialPort::EnterFromOwner() {
    std::unique_lock lock(m_StateLock);
    // A watcher may be showing "m_QueueRead FULL!" or waiting for the gate to reopen;
    // tell it the port is being closed so it ends instead of making us wait.
    if (m_hComm) {
        m_hComm->Wake();
    }
    if (m_PendingBox) {
        std::lock_guard box(m_PendingBox->lock);
        m_PendingBox->abandoned = true;
        m_PendingBox->changed.notify_all();
    }
    m_StateCv.notify_all();
    m_StateCv.wait(lock, [this] { return !m_Busy; });
    m_Busy = true;
}

bool SerialPort::EnterFromWatcher(SerialDevice& device) {
    std::unique_lock lock(m_StateLock);
    m_StateCv.wait(lock, [&] { return !m_Busy || device.WakeRequested(); });
    if (device.WakeRequested()) {
        return false;  // the owner is closing this opening; it may be joining us
    }
    m_Busy = true;
    return true;
}

void SerialPort::Leave() {
    {
        std::lock_guard lock(m_StateLock);
        m_Busy = false;
    }
    m_StateCv.notify_all();
}

void SerialPort::JoinRetired() {
    if (m_RetiredWatcher.joinable() && m_RetiredWatcher.get_id() != std::this_thread::get_id()) {
        m_RetiredWatcher.join();
    }
}

// ---------------------------------------------------------------------------------
// Open and close

int SerialPort::OpenPort(const std::string& portName, std::uint32_t baudRate,
                         std::uint16_t portNumber) {
    EnterFromOwner();
    const int result = OpenLocked(portName, baudRate, portNumber);
    Leave();
    return result;
}

void SerialPort::ClosePort() {
    EnterFromOwner();
    CloseLocked();
    Leave();
}

int SerialPort::OpenLocked(const std::string& portName, std::uint32_t baudRate,
                           std::uint16_t portNumber) {
    // Opening an open port reopens it: never two watchers, never a leaked device.
    CloseLocked();
    // The overflow path reopens with the same values while the window thread may read
    // these fields: assign only on a change, so that path never writes them.
    if (m_PortNumber != portNumber) {
        m_PortNumber = portNumber;
    }
    if (m_PortName != portName) {
        m_PortName = portName;
    }
    {
        std::lock_guard lock(m_Errors->lock);
        m_Errors->last = SerialError{};
    }
    const std::optional<std::string> path = ResolvePortName(portName);
    if (!path) {
        Report(*m_Errors, {SerialError::Kind::NotAPortName, "open", portName, 0,
                           "not a port name (COMn or a device path)"});
        return 0;
    }
    std::shared_ptr<SerialDevice> device = OpenDevice(*path, baudRate);
    if (!device) {
        return 0;
    }
    {
        std::lock_guard lock(m_StateLock);
        m_hComm = device;
    }
    // Before the thread starts: the watcher runs only while the flag is 1.
    m_bConnected.store(1);
    m_RunningWatchers.fetch_add(1);
    try {
        m_hThreadWatchComm =
            std::thread(&SerialPort::ThreadWatchComm, this, device, portNumber, portName);
    } catch (const std::system_error& e) {
        m_RunningWatchers.fetch_sub(1);
        Report(*m_Errors,
               {SerialError::Kind::Other, "pthread_create", *path, e.code().value(), e.what()});
        CloseLocked();
        return 0;
    }
    m_LastGoodBaudRate.store(baudRate);
    m_SuccessfulOpens.fetch_add(1);
    return 1;
}

std::shared_ptr<SerialDevice> SerialPort::OpenDevice(const std::string& path,
                                                     std::uint32_t baudRate) {
    DeviceOpener opener;
    {
        std::lock_guard lock(m_StateLock);
        opener = m_OpenDevice;
    }
    // The device reports into the shared log, never into `this`: it may report on any
    // thread, and its last reference may outlive a call under way on it.
    SerialDevice::ErrorReport report = [errors = m_Errors](const SerialError& error) {
        Report(*errors, error);
    };
    std::shared_ptr<SerialDevice> device =
        opener ? opener(path, baudRate, report) : SerialDevice::Open(path, baudRate, report);
    if (!device && !LastError().Failed()) {
        // An opener that failed without saying why still leaves a reason to read.
        Report(*m_Errors, {SerialError::Kind::Other, "open", path, 0, "the device did not open"});
    }
    return device;
}

void SerialPort::CloseLocked() {
    std::shared_ptr<SerialDevice> device;
    {
        std::lock_guard lock(m_StateLock);
        device = std::move(m_hComm);
        m_hComm.reset();
        m_bConnected.store(0);
        if (device) {
            device->Wake();  // ends the watcher's wait or pause at once
        }
        if (m_PendingBox) {
            std::lock_guard box(m_PendingBox->lock);
            m_PendingBox->abandoned = true;
            m_PendingBox->changed.notify_all();
        }
    }
    m_StateCv.notify_all();
    JoinRetired();
    if (m_hThreadWatchComm.joinable()) {
        if (m_hThreadWatchComm.get_id() == std::this_thread::get_id()) {
            // The overflow path closes from the watcher, which cannot wait for itself;
            // it ends right after, and the next closer joins it.
            m_RetiredWatcher = std::move(m_hThreadWatchComm);
        } else {
            m_hThreadWatchComm.join();
        }
    }
    // Only now, with no watcher and no writer left on it, is the device released.
    if (device) {
        {
            std::unique_lock lock(m_StateLock);
            m_StateCv.wait(lock, [this] { return m_Writers == 0; });
        }
        device->Close();
    }
}

// ---------------------------------------------------------------------------------
// Transfers

std::uint32_t SerialPort::WriteComm(const std::uint8_t* bytes, std::uint32_t count) {
    if (bytes == nullptr || count == 0) {
        return 0;
    }
    // Our own reference: a close on another thread cancels the write and then waits
    // for it before the descriptor is released, so it is never a reused one.
    std::shared_ptr<SerialDevice> device;
    {
        std::lock_guard lock(m_StateLock);
        if (!m_hComm || m_bConnected.load() != 1) {
            return 0;
        }
        device = m_hComm;
        ++m_Writers;
    }
    const std::uint32_t written =
        device->Write(bytes, count, WriteBound(count, device->BaudRate()));
    {
        std::lock_guard lock(m_StateLock);
        --m_Writers;
    }
    m_StateCv.notify_all();
    return written;
}

std::uint32_t SerialPort::ReadComm(std::uint8_t* buffer, std::uint32_t maxCount) {
    std::shared_ptr<SerialDevice> device;
    {
        std::lock_guard lock(m_StateLock);
        device = m_hComm;
    }
    if (!device || buffer == nullptr) {
        return 0;
    }
    return ReadFrom(*device, buffer, maxCount);
}

bool SerialPort::DeviceLost() {
    std::lock_guard lock(m_StateLock);
    return m_hComm && m_hComm->Lost();
}

// ---------------------------------------------------------------------------------
// The watcher

void SerialPort::ThreadWatchComm(const std::shared_ptr<SerialDevice>& device,
                                 std::uint16_t portNumber, const std::string& portName) {
    struct Running {
        std::atomic<int>& count;
        ~Running() { count.fetch_sub(1); }
    } running{m_RunningWatchers};

    if (!device->PrepareWait()) {
        // The port stays marked connected: writes still work, nothing is received.
        ShowAndWait("Error while creating ThreadWatchComm, " + portName, *device);
        return;
    }
    // The watcher's one chunk buffer, on its own stack: nothing allocated per chunk.
    std::array<std::uint8_t, kChunkSize> chunk{};
    // lParam of WM_COMM_READ: position of the last byte of the latest non-empty chunk.
    // Before any such chunk it is -1, a position no chunk can have.
    std::int64_t lastPosition = -1;

    while (m_bConnected.load() == 1 && !device->WakeRequested()) {
        const SerialDevice::WaitResult wait = device->WaitReadable();
        m_WatcherWakeups.fetch_add(1);
        if (wait == SerialDevice::WaitResult::Woken) {
            continue;
        }
        if (wait == SerialDevice::WaitResult::Lost) {
            // Nothing more will come from a dead device: park until ClosePort.
            if (NotifyWindow* listener = m_hChunkNotifyWnd) {
                listener->PostMessage(WM_COMM_LOST, portNumber, 0);
            }
            device->WaitForWake();
            m_WatcherWakeups.fetch_add(1);
            continue;
        }
        std::uint32_t n = 0;
        do {
            // A close under way discards the input: the drain's next read finds nothing.
            const bool closing = device->WakeRequested() || m_bConnected.load() != 1;
            n = closing ? 0 : ReadFrom(*device, chunk.data(), kChunkSize);
            if (n >= static_cast<std::uint32_t>(ReceiveQueue::kSlots - m_QueueRead.GetCount())) {
                HandleOverflow(device);
                return;
            }
            for (std::uint32_t i = 0; i < n; ++i) {
                m_QueueRead.PutByte(chunk[i]);
            }
            if (n != 0) {
                lastPosition = static_cast<std::int64_t>(n) - 1;
                if (NotifyWindow* listener = m_hChunkNotifyWnd) {
                    listener->PostMessage(WM_COMM_CHUNK, portNumber, lastPosition);
                }
            }
            // Gathers a burst into one drain; a close ends the pause at once.
            device->Pause(m_GatherPause);
            m_WatcherWakeups.fetch_add(1);
        } while (n != 0);
        // Every drain is announced, also one that a close cut short: the window only
        // counts the queue. The loop test then ends the watcher; a close that came while
        // it waited ends it there, without a notification.
        if (NotifyWindow* window = m_hNotifyWnd) {
            window->PostMessage(WM_COMM_READ, portNumber, lastPosition);
        }
    }
}

void SerialPort::HandleOverflow(const std::shared_ptr<SerialDevice>& device) {
    const bool dismissed = ShowAndWait("m_QueueRead FULL!", *device);
    // Everything queued is lost, and the chunk just read with it.
    m_QueueRead.Clear();
    if (!dismissed || !EnterFromWatcher(*device)) {
        return;  // the port was closed meanwhile: neither close nor reopen it
    }
    bool ours = false;
    {
        std::lock_guard lock(m_StateLock);
        ours = m_hComm == device;
    }
    if (ours && m_bConnected.load() == 1) {
        const std::string name = m_PortName;
        const std::uint16_t number = m_PortNumber;
        CloseLocked();
        OpenLocked(name, m_LastGoodBaudRate.load(), number);
    }
    Leave();
}

bool SerialPort::ShowAndWait(const std::string& text, SerialDevice& device) {
    auto wait = std::make_shared<BoxWait>();
    {
        std::lock_guard lock(m_StateLock);
        if (device.WakeRequested()) {
            wait->abandoned = true;  // already closing: show the box, but do not wait
        } else {
            m_PendingBox = wait;
        }
    }
    static StderrMessageBox stderrBox;
    AppMessageBox* box = m_pAppMessageBox != nullptr ? m_pAppMessageBox : &stderrBox;
    box->Show(text, [wait] {
        std::lock_guard lock(wait->lock);
        wait->dismissed = true;
        wait->changed.notify_all();
    });
    bool dismissed = false;
    {
        std::unique_lock lock(wait->lock);
        wait->changed.wait(lock, [&] { return wait->dismissed || wait->abandoned; });
        dismissed = wait->dismissed && !wait->abandoned;
    }
    std::lock_guard lock(m_StateLock);
    if (m_PendingBox == wait) {
        m_PendingBox.reset();
    }
    return dismissed;
}

}  // namespace vyx
