#include "tests/support/PtyPair.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace vyx::test {

PtyPair::PtyPair() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&m_Master, &slave, name, nullptr, nullptr) != 0) {
        m_Master = -1;
        return;
    }
    // Raw on the slave from the start, so nothing the test writes is echoed back.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    m_SlaveHold = slave;
    m_SlavePath = name;
    fcntl(m_Master, F_SETFD, FD_CLOEXEC);
    fcntl(m_SlaveHold, F_SETFD, FD_CLOEXEC);
    fcntl(m_Master, F_SETFL, fcntl(m_Master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    CloseSlaveHold();
    CloseMaster();
}

bool PtyPair::Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_Master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        pollfd p{m_Master, POLLOUT, 0};
        poll(&p, 1, 50);
    }
    return true;
}

bool PtyPair::Write(const std::string& bytes) {
    return Write(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<std::uint8_t> PtyPair::Read(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{m_Master, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        std::uint8_t buf[4096];
        const std::size_t want = std::min(sizeof buf, count - out.size());
        const ssize_t n = ::read(m_Master, buf, want);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return out;
}

std::vector<std::uint8_t> PtyPair::ReadUntilQuiet(std::chrono::milliseconds quiet,
                                                  std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_Master, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) {
            break;
        }
        std::uint8_t buf[4096];
        const ssize_t n = ::read(m_Master, buf, sizeof buf);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return out;
}

void PtyPair::CloseMaster() {
    if (m_Master >= 0) {
        ::close(m_Master);
        m_Master = -1;
    }
}

void PtyPair::CloseSlaveHold() {
    if (m_SlaveHold >= 0) {
        ::close(m_SlaveHold);
        m_SlaveHold = -1;
    }
}

namespace {
int CountEntries(const char* dir, int ownEntries) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') {
                ++n;
            }
        }
        closedir(d);
    }
    return n - ownEntries;
}
}  // namespace

// The listing of /proc/self/fd includes the descriptor opendir itself holds.
int OpenDescriptorCount() {
    return CountEntries("/proc/self/fd", 1);
}

int ThreadCount() {
    return CountEntries("/proc/self/task", 0);
}

}  // namespace vyx::test
