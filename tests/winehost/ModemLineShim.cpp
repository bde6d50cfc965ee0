// Test-only, loaded with LD_PRELOAD into Wine's processes; never installed or shipped.
//
// A pseudo-terminal has no modem lines: TIOCMGET and friends fail on it. Wine's serial
// code reads the modem status while a WaitCommEvent is pending and cancels the wait
// when that fails, so on a pty the watcher would wake every few milliseconds. Here the
// four modem-line requests are answered on a terminal when the real call fails, from
// one set of lines kept per process (the tests open one port at a time).

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>

namespace {

std::atomic<int> g_Lines{TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD};

using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction RealIoctl() {
    static const auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    return real;
}

bool IsModemLineRequest(unsigned long request) {
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);

    const int rc = RealIoctl()(fd, request, argument);
    const int err = errno;
    if (rc == 0 || (err != ENOTTY && err != EINVAL) || !IsModemLineRequest(request) ||
        argument == nullptr || isatty(fd) == 0) {
        errno = err;
        return rc;
    }
    auto* lines = static_cast<int*>(argument);
    switch (request) {
        case TIOCMGET:
            *lines = g_Lines.load();
            break;
        case TIOCMSET:
            g_Lines.store(*lines);
            break;
        case TIOCMBIS:
            g_Lines.fetch_or(*lines);
            break;
        default:
            g_Lines.fetch_and(~*lines);
            break;
    }
    return 0;
}
