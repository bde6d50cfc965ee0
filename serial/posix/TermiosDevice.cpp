// The serial device on POSIX systems: a termios tty, waited on with poll() together
// with an eventfd that serves as the opening's wake signal.

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <system_error>

#include "serial/SerialDevice.h"

namespace vyx {

namespace {

using Clock = std::chrono::steady_clock;

struct RateEntry {
    std::uint32_t rate;
    speed_t speed;
};

constexpr RateEntry kRates[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool SpeedFor(std::uint32_t rate, speed_t& speed) {
    for (const auto& e : kRates) {
        if (e.rate == rate) {
            speed = e.speed;
            return true;
        }
    }
    return false;
}

SerialError::Kind KindOfErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:  // a tty that hung up for good
            return SerialError::Kind::NoDevice;
        case EACCES:
        case EPERM:
            return SerialError::Kind::AccessDenied;
        case EBUSY:
        case EWOULDBLOCK:  // flock: another opener holds the lock
            return SerialError::Kind::Busy;
        case ENOTTY:
            return SerialError::Kind::NotASerialDevice;
        default:
            return SerialError::Kind::Other;
    }
}

SerialError ErrnoError(const std::string& call, const std::string& path, int err) {
    return {KindOfErrno(err), call, path, err, std::system_category().message(err)};
}

// Errors that mean the device is gone: a pseudo-terminal whose master closed reads EIO,
// an unplugged USB adapter ENXIO or ENODEV.
bool IsGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV;
}

// Rounded up: a pause must never end early.
int MillisLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 60'000 ? 60'000 : static_cast<int>(left);
}

// Changes exactly what the display's line needs and leaves the rest (hardware
// handshake, hang-up on close, modem lines) as the device reported it.
void ApplyLineState(termios& tio, speed_t speed) {
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // No XON/XOFF either way: a 0x13 from the display must never stall our output.
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // Turn off all fancy termios tricks, give us a raw channel.
    tio.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // VMIN=1/VTIME=0: an empty non-blocking read says EAGAIN, only a hang-up reads 0.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    // No flow-control characters at all (0 disables them on Linux).
    tio.c_cc[VSTART] = 0;
    tio.c_cc[VSTOP] = 0;
}

bool LineStateTaken(const termios& want, const termios& got) {
    constexpr tcflag_t kFrame = CSIZE | PARENB | CSTOPB | CREAD | CLOCAL;
    constexpr tcflag_t kInput = IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR;
    constexpr tcflag_t kLocal = ECHO | ICANON | ISIG | IEXTEN;
    return cfgetospeed(&got) == cfgetospeed(&want) && cfgetispeed(&got) == cfgetispeed(&want) &&
           (got.c_cflag & kFrame) == (want.c_cflag & kFrame) &&
           (got.c_iflag & kInput) == (want.c_iflag & kInput) &&
           (got.c_lflag & kLocal) == (want.c_lflag & kLocal) && (got.c_oflag & OPOST) == 0;
}

class TermiosDevice final : public SerialDevice {
  public:
    TermiosDevice(std::string path, std::uint32_t rate, int fd, int wakeFd, ErrorReport report)
        : m_Path(std::move(path)),
          m_Rate(rate),
          m_Report(std::move(report)),
          m_Fd(fd),
          m_WakeFd(wakeFd) {}
    ~TermiosDevice() override { Close(); }

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
    void MarkLost(const char* call, int err);
    // FIONREAD on the open descriptor; the caller holds m_UseLock.
    std::uint32_t InputWaiting();
    // Waits for the wake signal only, at most `timeoutMs` (-1: no limit); true if woken.
    bool WaitWake(int timeoutMs);
    // Waits until the driver has sent what it holds, or the deadline; true when empty.
    bool DrainUntil(Clock::time_point deadline, int& left);

    const std::string m_Path;
    const std::uint32_t m_Rate;
    const ErrorReport m_Report;  // called from any thread; the port's report is made for that

    // The descriptors stay valid while any operation holds m_UseLock shared; Close takes
    // it exclusively, so a write under way (woken first) never sees a released descriptor.
    std::shared_mutex m_UseLock;
    int m_Fd;               // guarded by m_UseLock (written only under the exclusive lock)
    int m_WakeFd;           // same
    bool m_Closed = false;  // same

    std::mutex m_WriteLock;  // one write at a time on the device
    std::atomic<bool> m_WakeRequested{false};
    std::atomic<bool> m_Lost{false};
    // A write gave up with bytes still queued: the close discards the output queue too.
    std::atomic<bool> m_OutputStuck{false};
};

void TermiosDevice::MarkLost(const char* call, int err) {
    // Reported once per opening; later calls stay quiet.
    if (!m_Lost.exchange(true)) {
        m_Report({SerialError::Kind::Lost, call, m_Path, err,
                  err != 0 ? "device lost (" + std::system_category().message(err) + ")"
                           : "device lost"});
    }
}

bool TermiosDevice::PrepareWait() {
    std::shared_lock use(m_UseLock);
    if (m_Closed) {
        return false;
    }
    pollfd fds[2] = {{m_Fd, POLLIN, 0}, {m_WakeFd, POLLIN, 0}};
    if (poll(fds, 2, 0) < 0 || (fds[0].revents & POLLNVAL) != 0 ||
        (fds[1].revents & POLLNVAL) != 0) {
        m_Report(ErrnoError("poll", m_Path, errno));
        return false;
    }
    return true;
}

SerialDevice::WaitResult TermiosDevice::WaitReadable() {
    std::shared_lock use(m_UseLock);
    if (m_Closed || m_WakeRequested.load()) {
        return WaitResult::Woken;
    }
    if (m_Lost.load()) {
        return WaitResult::Lost;
    }
    pollfd fds[2] = {{m_Fd, POLLIN, 0}, {m_WakeFd, POLLIN, 0}};
    const int rc = poll(fds, 2, -1);
    if (rc < 0) {
        if (errno == EINTR) {
            return WaitResult::Woken;  // the caller tests its loop condition and waits again
        }
        // A wait that keeps failing would spin; stop using the device instead.
        MarkLost("poll", errno);
        return WaitResult::Lost;
    }
    if (fds[1].revents != 0) {
        return WaitResult::Woken;
    }
    const bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if ((fds[0].revents & POLLIN) != 0 && (!hungUp || InputWaiting() > 0)) {
        return WaitResult::Readable;  // read what is left before a hang-up counts
    }
    if (hungUp) {
        // A hung-up tty reports itself readable for ever; waiting on it again would spin.
        MarkLost("poll", 0);
        return WaitResult::Lost;
    }
    return WaitResult::Woken;
}

bool TermiosDevice::WaitWake(int timeoutMs) {
    std::shared_lock use(m_UseLock);
    if (m_Closed || m_WakeRequested.load()) {
        return true;
    }
    pollfd wake{m_WakeFd, POLLIN, 0};
    int rc = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    while (true) {
        rc = poll(&wake, 1, timeoutMs < 0 ? -1 : MillisLeft(deadline));
        if (rc >= 0 || errno != EINTR) {
            break;
        }
    }
    return rc != 0;  // an error counts as woken, so a caller never spins on it
}

bool TermiosDevice::Pause(std::chrono::milliseconds pause) {
    return !WaitWake(static_cast<int>(pause.count()));
}

void TermiosDevice::WaitForWake() {
    WaitWake(-1);
}

void TermiosDevice::Wake() {
    m_WakeRequested.store(true);
    std::shared_lock use(m_UseLock);
    if (!m_Closed) {
        // The counter stays non-zero: the signal is sticky for the rest of the opening.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_WakeFd, &one, sizeof one);
    }
}

std::uint32_t TermiosDevice::InputWaiting() {
    int waiting = 0;
    if (ioctl(m_Fd, FIONREAD, &waiting) != 0) {
        // Only a hung-up or vanished tty refuses FIONREAD; it will not recover.
        MarkLost("ioctl FIONREAD", errno);
        return 0;
    }
    return waiting > 0 ? static_cast<std::uint32_t>(waiting) : 0;
}

std::uint32_t TermiosDevice::BytesWaiting() {
    std::shared_lock use(m_UseLock);
    if (m_Closed || m_Lost.load()) {
        return 0;
    }
    return InputWaiting();
}

std::uint32_t TermiosDevice::Read(std::uint8_t* buffer, std::uint32_t maxCount) {
    std::shared_lock use(m_UseLock);
    if (m_Closed || m_Lost.load() || maxCount == 0) {
        return 0;
    }
    while (true) {
        const ssize_t n = ::read(m_Fd, buffer, maxCount);
        if (n > 0) {
            return static_cast<std::uint32_t>(n);
        }
        if (n == 0) {
            MarkLost("read", 0);  // with VMIN=1 only a hang-up reads 0
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        if (IsGone(errno)) {
            MarkLost("read", errno);
        } else if (errno != EAGAIN) {
            m_Report(ErrnoError("read", m_Path, errno));
        }
        return 0;
    }
}

bool TermiosDevice::DrainUntil(Clock::time_point deadline, int& left) {
    // tcdrain() can neither be bounded nor cancelled, so watch the output queue instead,
    // sleeping (on the wake signal) about as long as the queued bytes take on the line.
    while (true) {
        left = 0;
        if (ioctl(m_Fd, TIOCOUTQ, &left) != 0 || left <= 0) {
            left = 0;
            return true;
        }
        const int remaining = MillisLeft(deadline);
        if (remaining == 0) {
            return false;
        }
        const long lineMs = static_cast<long>(left) * 10'000L / static_cast<long>(m_Rate) + 1;
        pollfd wake{m_WakeFd, POLLIN, 0};
        if (poll(&wake, 1, static_cast<int>(std::min<long>(lineMs, remaining))) > 0) {
            return false;  // cancelled by a close
        }
    }
}

std::uint32_t TermiosDevice::Write(const std::uint8_t* bytes, std::uint32_t count,
                                   std::chrono::milliseconds bound) {
    std::shared_lock use(m_UseLock);
    std::lock_guard one(m_WriteLock);
    if (m_Closed || m_Lost.load() || m_WakeRequested.load()) {
        return 0;
    }
    const auto deadline = Clock::now() + bound;
    std::uint32_t done = 0;
    bool gaveUp = false;
    while (done < count) {
        const ssize_t n = ::write(m_Fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            if (IsGone(errno)) {
                MarkLost("write", errno);
            } else {
                m_Report(ErrnoError("write", m_Path, errno));
            }
            return done;
        }
        // The device takes no more for now: wait until it does, the bound passes, or a
        // close cancels the write.
        pollfd fds[2] = {{m_Fd, POLLOUT, 0}, {m_WakeFd, POLLIN, 0}};
        const int left = MillisLeft(deadline);
        const int rc = left == 0 ? 0 : poll(fds, 2, left);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0 || fds[1].revents != 0) {
            gaveUp = true;
            break;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            MarkLost("write", 0);
            return done;
        }
    }
    int queued = 0;
    if (!gaveUp && DrainUntil(deadline, queued)) {
        return done;
    }
    if (gaveUp && ioctl(m_Fd, TIOCOUTQ, &queued) != 0) {
        queued = 0;
    }
    // The bytes still queued will not go out in time: discard them so they do not
    // reach the display late, and count only what left.
    m_OutputStuck.store(true);
    tcflush(m_Fd, TCOFLUSH);
    const auto unsent = static_cast<std::uint32_t>(queued);
    return done > unsent ? done - unsent : 0;
}

void TermiosDevice::Close() {
    Wake();
    std::unique_lock use(m_UseLock);
    if (m_Closed) {
        return;
    }
    m_Closed = true;
    // Input only: an output flush would also discard what a pseudo-terminal's far end
    // has not read yet, and WriteComm already waited until its bytes were out.
    tcflush(m_Fd, m_OutputStuck.load() ? TCIOFLUSH : TCIFLUSH);
    ioctl(m_Fd, TIOCNXCL);
    ::close(m_Fd);
    ::close(m_WakeFd);
    m_Fd = -1;
    m_WakeFd = -1;
}

}  // namespace

std::shared_ptr<SerialDevice> SerialDevice::Open(const std::string& path, std::uint32_t baudRate,
                                                 ErrorReport report) {
    speed_t speed = B0;
    if (!SpeedFor(baudRate, speed)) {
        report({SerialError::Kind::BadSetting, "cfsetospeed", path, 0,
                "unsupported baud rate " + std::to_string(baudRate)});
        return nullptr;
    }
    // Close-on-exec: the download hand-off starts a child that must not inherit the port
    // or its lock.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        report(ErrnoError("open", path, errno));
        return nullptr;
    }
    auto fail = [&](const char* call, int err, bool exclusive) -> std::shared_ptr<SerialDevice> {
        SerialError error = ErrnoError(call, path, err);
        if (error.call == "isatty") {
            error.kind = SerialError::Kind::NotASerialDevice;  // EINVAL on some systems
        }
        report(error);
        if (exclusive) {
            ioctl(fd, TIOCNXCL);
        }
        ::close(fd);
        return nullptr;
    };
    if (!isatty(fd)) {
        return fail("isatty", errno, false);
    }
    // flock keeps out every other opener that asks, root included; TIOCEXCL keeps out
    // those that do not ask (but not root).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail("flock", errno, false);
    }
    // Before Linux 3.8 ioctl(TIOCEXCL) was not implemented on every tty; not fatal.
    if (ioctl(fd, TIOCEXCL) != 0 && errno != EINVAL && errno != ENOTTY) {
        return fail("ioctl TIOCEXCL", errno, false);
    }
    // A failed read of the line state leaves a zeroed record to start from: every
    // member the line depends on is set below anyway.
    termios tio{};
    tcgetattr(fd, &tio);
    ApplyLineState(tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        return fail("tcsetattr", errno, true);
    }
    termios got{};
    if (tcgetattr(fd, &got) != 0) {
        return fail("tcgetattr", errno, true);
    }
    if (!LineStateTaken(tio, got)) {
        report({SerialError::Kind::BadSetting, "tcsetattr", path, 0,
                "line state not taken at " + std::to_string(baudRate) + " baud"});
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        return nullptr;
    }
    // Nothing of ours can be waiting yet: whatever the driver holds either way was left
    // by an earlier user and must not reach the display or the receive queue.
    tcflush(fd, TCIOFLUSH);
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        return fail("eventfd", errno, true);
    }
    return std::make_shared<TermiosDevice>(path, baudRate, fd, wakeFd, std::move(report));
}

}  // namespace vyx
