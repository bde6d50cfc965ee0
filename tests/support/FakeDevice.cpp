#include "tests/support/FakeDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace vyx::test {

namespace {
using Clock = std::chrono::steady_clock;
class FakeDevice;

// A watcher that is woken leaves its loop after one more wait at most; it may finish a
// drain, but more than this many waits after the wake-up without reading a byte in
// between means it spins.
constexpr int kWaitsAfterWakeAllowed = 3;
}  // namespace

// One lock for the line and all its devices: the fake is not about speed.
struct FakeLine::State {
    mutable std::mutex lock;
    std::condition_variable changed;

    std::string path;
    FakeDevice* open = nullptr;  // the opening that is open, if any
    std::deque<std::uint8_t> input;
    Bytes written;
    std::optional<std::size_t> stallAfter;  // bytes still taken before the stall
    std::optional<SerialError> failNextOpen;
    bool failNextPrepare = false;
    std::vector<std::uint32_t> openedRates;
    std::vector<std::chrono::milliseconds> writeBounds;
    std::vector<std::string> violations;

    // Records and reports a broken promise; the caller holds `lock`.
    void Violation(const std::string& what) {
        violations.push_back(what);
        ADD_FAILURE() << "FakeDevice contract: " << what;
    }
};

namespace {

class FakeDevice final : public SerialDevice {
  public:
    FakeDevice(std::shared_ptr<FakeLine::State> state, std::string path, std::uint32_t rate,
               ErrorReport report, bool failPrepare)
        : m_State(std::move(state)),
          m_Path(std::move(path)),
          m_Rate(rate),
          m_Report(std::move(report)),
          m_FailPrepare(failPrepare) {}

    ~FakeDevice() override {
        std::lock_guard lock(m_State->lock);
        if (!m_Closed) {
            m_State->Violation("an opening of " + m_Path + " was released without Close");
            if (m_State->open == this) {
                m_State->open = nullptr;
            }
        }
    }

    const std::string& Path() const override { return m_Path; }
    std::uint32_t BaudRate() const override { return m_Rate; }

    bool PrepareWait() override {
        {
            std::lock_guard lock(m_State->lock);
            Check("PrepareWait");
            if (!m_FailPrepare) {
                return true;
            }
        }
        m_Report({SerialError::Kind::Other, "poll", m_Path, 0, "wait cannot be set up"});
        return false;
    }

    WaitResult WaitReadable() override {
        std::unique_lock lock(m_State->lock);
        EnterWait("WaitReadable", FakeLine::Blocked::WaitReadable);
        m_State->changed.wait(lock, [&] { return m_Woken || m_Lost || !m_State->input.empty(); });
        LeaveWait();
        if (m_Woken) {
            return WaitResult::Woken;
        }
        return m_Lost ? WaitResult::Lost : WaitResult::Readable;
    }

    bool Pause(std::chrono::milliseconds pause) override {
        std::unique_lock lock(m_State->lock);
        EnterWait("Pause", FakeLine::Blocked::Pause);
        const bool woken = m_State->changed.wait_for(lock, pause, [&] { return m_Woken; });
        LeaveWait();
        return !woken;
    }

    void WaitForWake() override {
        std::unique_lock lock(m_State->lock);
        EnterWait("WaitForWake", FakeLine::Blocked::WaitForWake);
        m_State->changed.wait(lock, [&] { return m_Woken; });
        LeaveWait();
    }

    void Wake() override {
        {
            std::lock_guard lock(m_State->lock);
            m_Woken = true;
        }
        m_State->changed.notify_all();
    }
    bool WakeRequested() const override {
        std::lock_guard lock(m_State->lock);
        return m_Woken;
    }
    bool Lost() const override {
        std::lock_guard lock(m_State->lock);
        return m_Lost;
    }

    std::uint32_t BytesWaiting() override {
        std::lock_guard lock(m_State->lock);
        Check("BytesWaiting");
        return m_Lost || m_Closed ? 0 : static_cast<std::uint32_t>(m_State->input.size());
    }

    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t maxCount) override {
        std::lock_guard lock(m_State->lock);
        Check("Read");
        if (buffer == nullptr || maxCount == 0) {
            m_State->Violation("Read into no buffer");
            return 0;
        }
        if (m_Lost || m_Closed) {
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(maxCount, m_State->input.size());
        std::copy_n(m_State->input.begin(), n, buffer);
        m_State->input.erase(m_State->input.begin(),
                             m_State->input.begin() + static_cast<std::ptrdiff_t>(n));
        if (n != 0) {
            m_WaitsAfterWake = 0;  // progress: a drain being finished, not a spin
        }
        m_State->changed.notify_all();
        return static_cast<std::uint32_t>(n);
    }

    std::uint32_t Write(const std::uint8_t* bytes, std::uint32_t count,
                        std::chrono::milliseconds bound) override {
        std::unique_lock lock(m_State->lock);
        Check("Write");
        if (bytes == nullptr || count == 0) {
            m_State->Violation("empty Write");
            return 0;
        }
        if (m_Writing) {
            m_State->Violation("two Writes at once on " + m_Path);
        }
        m_State->writeBounds.push_back(bound);
        if (m_Woken || m_Lost || m_Closed) {
            return 0;
        }
        m_Writing = true;
        const auto deadline = Clock::now() + bound;
        std::uint32_t done = 0;
        while (done < count) {
            std::size_t take = count - done;
            if (m_State->stallAfter) {
                take = std::min(take, *m_State->stallAfter);
                *m_State->stallAfter -= take;
            }
            m_State->written.insert(m_State->written.end(), bytes + done, bytes + done + take);
            done += static_cast<std::uint32_t>(take);
            m_State->changed.notify_all();
            if (done == count) {
                break;
            }
            // Stalled: wait for the far end, the bound, or a close.
            m_Stalled = true;
            m_State->changed.notify_all();
            const bool moved = m_State->changed.wait_until(lock, deadline, [&] {
                return m_Woken || m_Lost || !m_State->stallAfter || *m_State->stallAfter > 0;
            });
            m_Stalled = false;
            if (!moved || m_Woken || m_Lost) {
                break;
            }
        }
        m_Writing = false;
        m_State->changed.notify_all();
        return done;
    }

    void Close() override {
        std::unique_lock lock(m_State->lock);
        m_Woken = true;
        m_State->changed.notify_all();
        if (m_Closed) {
            return;
        }
        // Like the termios device: a write under way is woken and waited for.
        m_State->changed.wait(lock, [&] { return !m_Writing; });
        if (m_Blocked != FakeLine::Blocked::Nowhere) {
            m_State->Violation("Close while the watcher still waits: the wake-up was not honoured");
        }
        m_Closed = true;
        if (m_State->open == this) {
            m_State->open = nullptr;
        }
        m_State->changed.notify_all();
    }

    // The line's side; the caller holds the lock.
    void MarkLost(const std::string& call) {
        if (m_Lost) {
            return;
        }
        m_Lost = true;
        m_LostCall = call;
        m_State->changed.notify_all();
    }
    std::optional<SerialError> TakeLossReport() {
        if (!m_Lost || m_LossReported) {
            return std::nullopt;
        }
        m_LossReported = true;
        return SerialError{SerialError::Kind::Lost, m_LostCall, m_Path, 0, "device lost"};
    }
    bool LostLocked() const { return m_Lost; }
    const ErrorReport& Report() const { return m_Report; }
    FakeLine::Blocked BlockedIn() const { return m_Blocked; }
    bool WriteStalled() const { return m_Stalled; }

  private:
    // The caller holds the lock.
    void Check(const char* call) {
        if (m_Closed) {
            m_State->Violation(std::string(call) + " after Close");
        }
    }
    void EnterWait(const char* call, FakeLine::Blocked where) {
        Check(call);
        if (m_Blocked != FakeLine::Blocked::Nowhere) {
            m_State->Violation(std::string(call) + " while another wait is under way");
        }
        if (m_Woken && ++m_WaitsAfterWake > kWaitsAfterWakeAllowed) {
            m_State->Violation(std::string(call) + " again and again after the wake-up");
        }
        m_Blocked = where;
        m_State->changed.notify_all();
    }
    void LeaveWait() { m_Blocked = FakeLine::Blocked::Nowhere; }

    const std::shared_ptr<FakeLine::State> m_State;
    const std::string m_Path;
    const std::uint32_t m_Rate;
    const ErrorReport m_Report;
    const bool m_FailPrepare;

    // All guarded by m_State->lock.
    bool m_Closed = false;
    bool m_Woken = false;
    bool m_Lost = false;
    bool m_LossReported = false;
    std::string m_LostCall;
    bool m_Writing = false;
    bool m_Stalled = false;
    int m_WaitsAfterWake = 0;
    FakeLine::Blocked m_Blocked = FakeLine::Blocked::Nowhere;
};

}  // namespace

FakeLine::FakeLine(std::string path) : m_State(std::make_shared<State>()) {
    m_State->path = std::move(path);
}

FakeLine::~FakeLine() = default;

void FakeLine::SetPath(std::string path) {
    std::lock_guard lock(m_State->lock);
    m_State->path = std::move(path);
}

const std::string& FakeLine::Path() const {
    return m_State->path;  // set before any opening; not changed while the port runs
}

DeviceOpener FakeLine::Opener() {
    return [state = m_State](
               const std::string& path, std::uint32_t rate,
               const SerialDevice::ErrorReport& report) -> std::shared_ptr<SerialDevice> {
        std::optional<SerialError> failure;
        std::shared_ptr<FakeDevice> device;
        {
            std::lock_guard lock(state->lock);
            if (state->failNextOpen) {
                failure = std::move(state->failNextOpen);
                state->failNextOpen.reset();
                failure->path = path;
            } else if (path != state->path) {
                failure =
                    SerialError{SerialError::Kind::NoDevice, "open", path, 0, "no such device"};
            } else if (state->open != nullptr) {
                failure = SerialError{SerialError::Kind::Busy, "flock", path, 0,
                                      "held by another opening"};
            } else {
                device =
                    std::make_shared<FakeDevice>(state, path, rate, report, state->failNextPrepare);
                state->failNextPrepare = false;
                state->open = device.get();
                state->input.clear();  // stale input of an earlier user
                state->openedRates.push_back(rate);
                state->changed.notify_all();
            }
        }
        if (failure) {
            report(*failure);
        }
        return device;
    };
}

bool FakeLine::Arrive(const Bytes& bytes) {
    std::lock_guard lock(m_State->lock);
    FakeDevice* device = m_State->open;
    if (device == nullptr || device->LostLocked()) {
        return false;
    }
    m_State->input.insert(m_State->input.end(), bytes.begin(), bytes.end());
    m_State->changed.notify_all();
    return true;
}

void FakeLine::StallWrites(std::size_t accept) {
    std::lock_guard lock(m_State->lock);
    m_State->stallAfter = accept;
}

void FakeLine::ResumeWrites() {
    {
        std::lock_guard lock(m_State->lock);
        m_State->stallAfter.reset();
    }
    m_State->changed.notify_all();
}

void FakeLine::Lose(const std::string& call) {
    std::optional<SerialError> report;
    SerialDevice::ErrorReport reporter;
    {
        std::lock_guard lock(m_State->lock);
        FakeDevice* device = m_State->open;
        if (device == nullptr) {
            return;
        }
        device->MarkLost(call);
        report = device->TakeLossReport();
        reporter = device->Report();
    }
    // Outside the lock, as a device reports: the port's sink may take its own locks.
    if (report && reporter) {
        reporter(*report);
    }
}

void FakeLine::FailNextOpen(SerialError error) {
    std::lock_guard lock(m_State->lock);
    m_State->failNextOpen = std::move(error);
}

void FakeLine::FailNextPrepareWait() {
    std::lock_guard lock(m_State->lock);
    m_State->failNextPrepare = true;
}

FakeLine::Bytes FakeLine::TakeWritten(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_State->lock);
    m_State->changed.wait_for(lock, timeout, [&] { return m_State->written.size() >= count; });
    const std::size_t n = std::min(count, m_State->written.size());
    Bytes out(m_State->written.begin(), m_State->written.begin() + static_cast<std::ptrdiff_t>(n));
    m_State->written.erase(m_State->written.begin(),
                           m_State->written.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

FakeLine::Bytes FakeLine::TakeWritten() {
    std::lock_guard lock(m_State->lock);
    Bytes out;
    out.swap(m_State->written);
    return out;
}

bool FakeLine::WaitUntilBlocked(Blocked where, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_State->lock);
    return m_State->changed.wait_for(lock, timeout, [&] {
        const FakeDevice* device = m_State->open;
        return device != nullptr && device->BlockedIn() == where;
    });
}

bool FakeLine::WaitUntilWriteStalled(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_State->lock);
    return m_State->changed.wait_for(lock, timeout, [&] {
        const FakeDevice* device = m_State->open;
        return device != nullptr && device->WriteStalled();
    });
}

bool FakeLine::WaitUntilInputTaken(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_State->lock);
    return m_State->changed.wait_for(lock, timeout, [&] { return m_State->input.empty(); });
}

std::vector<std::uint32_t> FakeLine::OpenedRates() const {
    std::lock_guard lock(m_State->lock);
    return m_State->openedRates;
}

int FakeLine::OpenNow() const {
    std::lock_guard lock(m_State->lock);
    return m_State->open != nullptr ? 1 : 0;
}

std::vector<std::chrono::milliseconds> FakeLine::WriteBounds() const {
    std::lock_guard lock(m_State->lock);
    return m_State->writeBounds;
}

std::vector<std::string> FakeLine::Violations() const {
    std::lock_guard lock(m_State->lock);
    return m_State->violations;
}

}  // namespace vyx::test
