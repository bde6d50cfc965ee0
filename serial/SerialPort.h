#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serial/Notify.h"
#include "serial/ReceiveQueue.h"
#include "serial/SerialDevice.h"
#include "serial/SerialError.h"

namespace vyx {

// The link to the display: opens a serial device at a rate with 8 data bits, no
// parity, one stop bit and no XON/XOFF, writes byte blocks, and runs one watcher
// thread per opening that queues every received byte in m_QueueRead and posts
// WM_COMM_READ to m_hNotifyWnd after each drain.
//
// Threads: the owner's (window) thread calls OpenPort, ClosePort and WriteComm; the
// watcher calls ReadComm, and on queue overflow ClosePort and OpenPort itself. Those
// two are serialised against each other. ClosePort ends the watcher and waits for it
// (unless called on the watcher) before the device is released; so does the destructor.
//
// WM_COMM_READ: wParam is the port number given to OpenPort; lParam the position of the
// last byte of the latest non-empty chunk this watcher read, -1 before any.
//
// States (m_bConnected, watchers running):
//
//   Closed (0, none) --OpenPort 1--> Open and watched (1, one)
//   Open and watched --watcher cannot wait on the device--> Open and unwatched (1, none):
//       writes still work, nothing is received; only ClosePort leads on
//   Open and watched --a chunk does not fit, box dismissed--> the watcher closes (Closed)
//       and reopens with the same name, rate and number: Open and watched with a new
//       watcher, or Closed when the reopen fails (no message; LastError() says why)
//   Open and watched --device lost--> still 1; the watcher parks, writes return 0
//   any --ClosePort, OpenPort 0, destructor--> Closed
//
// Failures: every failure (the open's, and a lost device, a failed read or write while
// open) is kept as LastError() and passed to the diagnostic sink, which by default
// prints SerialError::Line() on standard error.
class SerialPort {
  public:
    static constexpr std::uint32_t kChunkSize = 2068;  // largest read of the watcher
    static constexpr int kGatherPauseMs = 15;          // pause after every read
    static constexpr std::uint32_t kDriverQueueSize = 4096;

    SerialPort();
    // Opens its devices with `opener` instead of the platform's SerialDevice::Open.
    explicit SerialPort(DeviceOpener opener);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // 1 when the device is open, configured and watched; 0 otherwise (nothing left open).
    // `portName` is resolved with ResolvePortName ("COM4" or a device path).
    int OpenPort(const std::string& portName, std::uint32_t baudRate, std::uint16_t portNumber);
    // Marks the port closed, ends and joins the watcher, discards pending input and
    // releases the device. Safe to call when not connected.
    void ClosePort();
    // Blocks until the bytes are out or the write bound passes; returns the count
    // written, 0 when the port is not open or the device is gone.
    std::uint32_t WriteComm(const std::uint8_t* bytes, std::uint32_t count);
    // Returns at once with what has arrived, 0 to maxCount bytes. Watcher only.
    std::uint32_t ReadComm(std::uint8_t* buffer, std::uint32_t maxCount);

    // Replaces the device opener (nullptr: the platform's), for the next OpenPort.
    void SetDeviceOpener(DeviceOpener opener);
    // Where failures are reported (nullptr: PrintToStderr). Called on the thread that
    // met the failure (the watcher's included), never with a lock of the port held.
    void SetDiagnosticSink(DiagnosticSink sink);
    // The latest failure since the latest opening began (the overflow's reopen included);
    // Kind::NoError when there was none. Readable from any thread; after OpenPort returned 0
    // it says why; after a short WriteComm it names a lost device or a failed write call
    // (a write that only ran out of time leaves none).
    SerialError LastError() const;

    // Number of watcher threads currently running (0 or 1 outside transitions).
    int RunningWatchers() const { return m_RunningWatchers.load(); }
    // Baud rate of the latest OpenPort that returned 1 (0 before any).
    std::uint32_t LastGoodBaudRate() const { return m_LastGoodBaudRate.load(); }
    // Number of OpenPort calls that returned 1, the overflow path's reopen included.
    std::uint32_t SuccessfulOpens() const { return m_SuccessfulOpens.load(); }
    // Times a watcher returned from a blocking wait (on the device or in its pause);
    // lets tests see that a dead device does not make the watcher spin.
    std::uint64_t WatcherWakeups() const { return m_WatcherWakeups.load(); }
    // True when the open device has hung up or vanished: writes then return 0 at once
    // and the watcher waits only for ClosePort.
    bool DeviceLost();

    // Fields, as the rest of the program knows them.
    std::string m_PortName;                     // name given to the latest OpenPort
    std::atomic<std::int32_t> m_bConnected{0};  // 1 while open; the watcher runs while 1
    std::uint16_t m_PortNumber = 0;             // wParam of WM_COMM_READ
    ReceiveQueue m_QueueRead;                   // received bytes the window has not taken
    NotifyWindow* m_hNotifyWnd = nullptr;       // receiver of WM_COMM_READ; set by the owner
    // Optional receiver of WM_COMM_CHUNK after every queued chunk, and of WM_COMM_LOST
    // when the device is lost; nullptr: none. The
    // dialog does not use it; the command-line tool does, to end its wait early.
    NotifyWindow* m_hChunkNotifyWnd = nullptr;
    // Pause after every read of the watcher, gathering a burst into one drain and so one
    // WM_COMM_READ. Set before OpenPort. An owner that acts on WM_COMM_CHUNK gathers
    // nothing and may set it to zero: a drain then still ends at the first empty read.
    std::chrono::milliseconds m_GatherPause{kGatherPauseMs};
    AppMessageBox* m_pAppMessageBox = nullptr;  // watcher's messages; nullptr: standard error

  private:
    struct BoxWait;
    struct ErrorLog;

    // Records `error` as LastError and passes it to the sink.
    static void Report(ErrorLog& log, const SerialError& error);

    // Gate that serialises OpenPort/ClosePort between the window thread and the
    // overflow path. The window side wakes the current opening before it queues for
    // the gate, so a watcher waiting in its message box or for the gate gives up
    // instead of holding the window thread (which may be joining it) forever.
    void EnterFromOwner();
    bool EnterFromWatcher(SerialDevice& device);
    void Leave();

    std::shared_ptr<SerialDevice> OpenDevice(const std::string& path, std::uint32_t baudRate);
    int OpenLocked(const std::string& portName, std::uint32_t baudRate, std::uint16_t portNumber);
    void CloseLocked();
    void JoinRetired();

    // The references are to std::thread's own copies, which live as long as the thread.
    void ThreadWatchComm(const std::shared_ptr<SerialDevice>& device, std::uint16_t portNumber,
                         const std::string& portName);
    void HandleOverflow(const std::shared_ptr<SerialDevice>& device);
    // Shows `text` in the application message box and blocks until it is dismissed or
    // the opening is woken by a close; true when dismissed.
    bool ShowAndWait(const std::string& text, SerialDevice& device);

    // m_StateLock protects m_hComm, m_Busy, m_PendingBox, m_Writers and m_OpenDevice; it
    // is never held while joining a thread or blocking on the device.
    std::mutex m_StateLock;
    std::condition_variable m_StateCv;
    std::shared_ptr<SerialDevice> m_hComm;
    bool m_Busy = false;
    std::shared_ptr<BoxWait> m_PendingBox;
    // WriteComm calls inside their device's Write: a close waits for them (they give up
    // once woken) so that no device sees a write after its Close.
    int m_Writers = 0;
    DeviceOpener m_OpenDevice;
    // Shared with every opening's report function, which the device may call on any thread.
    std::shared_ptr<ErrorLog> m_Errors;

    // Touched only by the thread that holds the gate (m_Busy), or the destructor.
    std::thread m_hThreadWatchComm;
    // A watcher that closed and reopened the port itself cannot join itself; the next
    // gate holder on another thread joins it (it ends right after leaving the gate).
    std::thread m_RetiredWatcher;

    std::atomic<int> m_RunningWatchers{0};
    std::atomic<std::uint32_t> m_LastGoodBaudRate{0};
    std::atomic<std::uint32_t> m_SuccessfulOpens{0};
    std::atomic<std::uint64_t> m_WatcherWakeups{0};
};

}  // namespace vyx
