#include "sim/StdoutWriter.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vyx::sim {

namespace {

// Without a private reopening, a write is only tried when poll says some room is free,
// and kept small, so it can at worst wait for a little of that room.
constexpr std::size_t kGuardedChunk = 512;

}  // namespace

StdoutWriter::StdoutWriter() {
    // O_NONBLOCK on descriptor 1 itself would change the open file that the shell and
    // every other program on the same terminal or pipe share. Opening it again through
    // /proc gives a file of our own, for pipes and terminals (the ones that can block).
    struct stat st {};
    if (fstat(STDOUT_FILENO, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        return;  // a regular file never blocks; a socket falls back on the guarded write
    }
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (flags < 0) {
        return;
    }
    const int fd =
        open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (flags & O_APPEND));
    if (fd >= 0) {
        m_Fd = fd;
        m_Own = true;
    }
}

StdoutWriter::~StdoutWriter() {
    if (m_Own) {
        close(m_Fd);
    }
}

int StdoutWriter::Write(std::string_view text) {
    if (m_Broken) {
        return 1;  // nobody will ever read it: as good as written
    }
    if (m_Queue.size() + text.size() > kMaxQueued) {
        Flush();
        if (m_Queue.size() + text.size() > kMaxQueued) {
            return 0;
        }
    }
    m_Queue.append(text);
    Flush();
    return 1;
}

void StdoutWriter::Flush() {
    while (!m_Queue.empty() && !m_Broken) {
        std::size_t chunk = m_Queue.size();
        if (!m_Own) {
            pollfd p{m_Fd, POLLOUT, 0};
            if (poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLNVAL)) != 0) {
                m_Broken = true;  // no reader, or no descriptor: nothing will ever go out
                m_Queue.clear();
                return;
            }
            if ((p.revents & POLLOUT) == 0) {
                return;
            }
            chunk = std::min(chunk, kGuardedChunk);
        }
        const ssize_t n = write(m_Fd, m_Queue.data(), chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN) {
                m_Broken = true;  // EPIPE, EIO: the reader or the terminal is gone
                m_Queue.clear();
            }
            return;
        }
        m_Queue.erase(0, static_cast<std::size_t>(n));
    }
}

void StdoutWriter::Drain(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    Flush();
    while (!Idle() && !m_Broken) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{m_Fd, POLLOUT, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return;
        }
        Flush();
    }
}

}  // namespace vyx::sim
