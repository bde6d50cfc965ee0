#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/SerialError.h"

namespace vyx {

// One opening of an operating-system serial device, configured for the display's line:
// the given rate, 8 data bits, no parity, one stop bit, no software flow control, raw.
// Each platform implements it in its own file (serial/posix/ for termios).
//
// Besides the device the opening owns a wake signal. Wake() is sticky: once called,
// every wait of the opening returns at once, and a write under way gives up. That is
// how a close reaches the watcher and a blocked writer without polling.
//
// Threads: the watcher calls WaitReadable, Pause, WaitForWake, BytesWaiting and Read;
// the window thread calls Write; Wake and Close come from either. Close waits for a
// write under way to give up before the descriptor is released.
//
// What its user (SerialPort) promises in turn, and the tests' FakeDevice checks: no call
// but Wake, Close and the accessors after Close; one Write and one wait at a time; once
// woken, the watcher leaves its waits (none is still blocked at Close, none is repeated
// again and again); every opening is closed before it is released.
//
// Failures are reported through the ErrorReport given at opening, from whichever thread
// met them; a lost device once per opening.
class SerialDevice {
  public:
    enum class WaitResult {
        Readable,  // received bytes are waiting
        Woken,     // Wake() was called
        Lost,      // the far end hung up or the device went away
    };

    virtual ~SerialDevice() = default;

    using ErrorReport = std::function<void(const SerialError&)>;

    // The platform's device: opens `path` exclusively and sets the line state. nullptr
    // when that fails, after `report` was told once why; nothing is left open. The
    // opening keeps `report` for the failures it meets later.
    static std::shared_ptr<SerialDevice> Open(const std::string& path, std::uint32_t baudRate,
                                              ErrorReport report);

    virtual const std::string& Path() const = 0;
    virtual std::uint32_t BaudRate() const = 0;

    // Checks that the watcher's wait can be set up; false (with a diagnostic) if not.
    virtual bool PrepareWait() = 0;
    // Blocks until bytes arrive, the opening is woken, or the device is lost.
    virtual WaitResult WaitReadable() = 0;
    // Waits `pause` unless woken first; true when the whole pause passed.
    virtual bool Pause(std::chrono::milliseconds pause) = 0;
    // Blocks until the opening is woken (used once the device is lost).
    virtual void WaitForWake() = 0;

    // Ends every wait now and later, and makes a write under way give up.
    virtual void Wake() = 0;
    virtual bool WakeRequested() const = 0;
    // True once a hang-up or a vanished device was seen.
    virtual bool Lost() const = 0;

    // Number of received bytes waiting in the driver; 0 when unknown.
    virtual std::uint32_t BytesWaiting() = 0;
    // Returns at once with up to maxCount received bytes (0 when none or lost).
    virtual std::uint32_t Read(std::uint8_t* buffer, std::uint32_t maxCount) = 0;
    // Writes all bytes and waits until they are out, but gives up at `bound` (or when
    // woken): pending output is then discarded. Returns the count that went out.
    virtual std::uint32_t Write(const std::uint8_t* bytes, std::uint32_t count,
                                std::chrono::milliseconds bound) = 0;

    // Wakes, waits for a write under way to return, discards pending input (and pending
    // output only when a write gave up), and releases the device. Idempotent.
    virtual void Close() = 0;
};

// How a port opens its device; SerialDevice::Open unless its owner passes another (the
// tests' FakeDevice). Same contract as SerialDevice::Open.
using DeviceOpener = std::function<std::shared_ptr<SerialDevice>(
    const std::string& path, std::uint32_t baudRate, SerialDevice::ErrorReport report)>;

}  // namespace vyx
