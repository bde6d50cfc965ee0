#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialDevice.h"
#include "serial/SerialError.h"

namespace vyx::test {

// A serial line without an operating system: the test plays the display on one side,
// SerialPort opens FakeDevices on the other through Opener(). It works the same on every
// platform, so the port's own logic is tested without a pseudo-terminal.
//
// Every call on a device checks what SerialPort promises its device (SerialDevice.h) and
// adds a test failure, on whichever thread made the call, when it is broken:
//  - nothing but Wake, Close and the accessors after Close;
//  - one Write at a time, one waiter at a time, never an empty or null transfer;
//  - the wake-up honoured: no wait still blocked when Close comes, and no waiting
//    again and again once woken without reading anything (a watcher that spins);
//  - every opening closed before it is released.
//
// Like the termios device, an opening is exclusive (a second one fails as busy), input
// that arrived before an opening is discarded by it, a lost device is reported once.
class FakeLine {
  public:
    using Bytes = std::vector<std::uint8_t>;

    // Where a device's waiter (the watcher) is blocked, if anywhere.
    enum class Blocked { Nowhere, WaitReadable, Pause, WaitForWake };

    // `path` is what the port is given and passes on: with a '/' it names no COM port.
    explicit FakeLine(std::string path = "fake/serial-line");
    ~FakeLine();
    FakeLine(const FakeLine&) = delete;
    FakeLine& operator=(const FakeLine&) = delete;

    // The opener to give SerialPort. Opens this line's path only; other paths fail as
    // NoDevice. Valid while the line exists.
    DeviceOpener Opener();
    void SetPath(std::string path);
    const std::string& Path() const;

    // --- Scripting (any thread) ---
    // Bytes from the display reach the open device's driver queue, all at once; false
    // (and dropped) when no opening is open.
    bool Arrive(const Bytes& bytes);
    // The device takes `accept` more bytes, then nothing: a write waits until its bound
    // passes or a wake-up, and returns the count taken. ResumeWrites lifts the stall.
    void StallWrites(std::size_t accept);
    void ResumeWrites();
    // The open device goes away: waits say Lost, reads and writes give 0; reported once
    // through the opening's report as a Kind::Lost failure of `call`.
    void Lose(const std::string& call = "read");
    // The next opening fails with `error` (reported by the opener as the real one does).
    void FailNextOpen(SerialError error);
    // The next opening cannot set up its wait: PrepareWait fails (reported as `poll`).
    void FailNextPrepareWait();

    // --- Observation ---
    // Takes `count` written bytes (fewer when they do not come before the timeout).
    Bytes TakeWritten(std::size_t count, std::chrono::milliseconds timeout);
    // Takes everything written so far.
    Bytes TakeWritten();
    // Waits until the open device's waiter is blocked in `where`; false at the timeout.
    bool WaitUntilBlocked(Blocked where, std::chrono::milliseconds timeout);
    // Waits until a write is under way, stalled; false at the timeout.
    bool WaitUntilWriteStalled(std::chrono::milliseconds timeout);
    // Waits until the open device holds no input (the watcher took it); false at timeout.
    bool WaitUntilInputTaken(std::chrono::milliseconds timeout);
    // The baud rate of every successful opening, in order.
    std::vector<std::uint32_t> OpenedRates() const;
    // Openings currently open (0 or 1).
    int OpenNow() const;
    // The bound given to every Write, in order.
    std::vector<std::chrono::milliseconds> WriteBounds() const;
    // Contract violations seen so far (each also failed the test).
    std::vector<std::string> Violations() const;

    struct State;  // shared by the line and its devices

  private:
    std::shared_ptr<State> m_State;
};

}  // namespace vyx::test
