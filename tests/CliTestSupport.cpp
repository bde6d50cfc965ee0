#include "tests/CliTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

// POSIX asks the program to declare it itself.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace vyx::test {

namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The environment of the child: ours with `extra` added or replaced. Built before fork,
// since only async-signal-safe calls may follow it.
std::vector<std::string> ChildEnvironment(
    const std::vector<std::pair<std::string, std::string>>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& [key, value] : extra) {
            replaced = replaced || key == name;
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    for (const auto& [key, value] : extra) {
        env.push_back(key);
        env.back() += '=';
        env.back() += value;
    }
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Reads once; closes the descriptor at its end. Leaves errno EAGAIN when empty.
void ReadAvailable(int& fd, std::string& into) {
    char chunk[4096];
    errno = 0;
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
        into.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (m_Pid > 0) {
        Stop(std::chrono::milliseconds(3000));
    }
}

bool ChildProcess::Start(const Launch& launch) {
    std::vector<std::string> args = launch.args;
    std::vector<std::string> env = ChildEnvironment(launch.env);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int file = -1;
    if (launch.outputFile.empty()) {
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            return false;
        }
    } else {
        file = ::open(launch.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        out[1] = err[1] = file;
    }
    m_Pid = ::fork();
    if (m_Pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (!launch.stdoutFile.empty()) {
            const int fd = ::open(launch.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, STDOUT_FILENO);
            ::close(fd);
        }
        if (launch.stdoutBrokenPipe) {
            int broken[2] = {-1, -1};
            if (::pipe(broken) != 0) {
                ::_exit(126);
            }
            ::close(broken[0]);  // no reader: a write fails with EPIPE (or raises SIGPIPE)
            ::dup2(broken[1], STDOUT_FILENO);
            ::close(broken[1]);
        }
        for (const int fd : launch.closedDescriptors) {
            ::close(fd);
        }
        if (launch.fileSizeLimit >= 0) {
            // Writes past the limit then fail with EFBIG instead of raising SIGXFSZ.
            const rlimit limit{static_cast<rlim_t>(launch.fileSizeLimit),
                               static_cast<rlim_t>(launch.fileSizeLimit)};
            ::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (!launch.cwd.empty() && ::chdir(launch.cwd.c_str()) != 0) {
            ::_exit(126);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (file >= 0) {
        ::close(file);
    } else {
        ::close(out[1]);
        ::close(err[1]);
        m_Out = out[0];
        m_Err = err[0];
        ::fcntl(m_Out, F_SETFL, O_NONBLOCK);
        ::fcntl(m_Err, F_SETFL, O_NONBLOCK);
    }
    if (m_Pid < 0) {
        return false;
    }
    m_PidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_Pid, 0));
    return m_PidFd >= 0;
}

ProcessResult ChildProcess::Finish(std::chrono::milliseconds timeout) {
    ProcessResult result;
    const auto deadline = Clock::now() + timeout;
    bool ended = false;
    while (m_Pid > 0 && !ended) {
        pollfd fds[3] = {{m_PidFd, POLLIN, 0}, {m_Out, POLLIN, 0}, {m_Err, POLLIN, 0}};
        const int left = MillisLeft(deadline);
        if (left == 0 || ::poll(fds, 3, left) == 0) {
            ::kill(m_Pid, SIGKILL);
            break;
        }
        if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            ReadAvailable(m_Out, result.out);
        }
        if ((fds[2].revents & (POLLIN | POLLHUP)) != 0) {
            ReadAvailable(m_Err, result.err);
        }
        if ((fds[0].revents & POLLIN) != 0) {
            // Gone: take what is left in the pipes (a grandchild may keep them open).
            errno = 0;
            while (m_Out >= 0 && errno != EAGAIN) {
                ReadAvailable(m_Out, result.out);
            }
            errno = 0;
            while (m_Err >= 0 && errno != EAGAIN) {
                ReadAvailable(m_Err, result.err);
            }
            ended = true;
        }
    }
    int status = 0;
    if (m_Pid > 0 && ::waitpid(m_Pid, &status, 0) == m_Pid && ended && WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    }
    for (int* fd : {&m_Out, &m_Err, &m_PidFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    m_Pid = -1;
    return result;
}

ProcessResult ChildProcess::Stop(std::chrono::milliseconds timeout) {
    if (m_Pid > 0) {
        ::kill(m_Pid, SIGTERM);
    }
    return Finish(timeout);
}

ProcessResult RunProcess(const Launch& launch, std::chrono::milliseconds timeout) {
    ChildProcess child;
    if (!child.Start(launch)) {
        return {};
    }
    return child.Finish(timeout);
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/vyxctl-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
        m_Path = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code error;
    if (!m_Path.empty()) {
        std::filesystem::remove_all(m_Path, error);
    }
}

bool WaitForPath(const std::string& path, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO);
    std::error_code error;
    bool found = std::filesystem::exists(std::filesystem::symlink_status(path, error));
    while (!found && MillisLeft(deadline) > 0) {
        pollfd p{watch, POLLIN, 0};
        if (::poll(&p, 1, MillisLeft(deadline)) > 0) {
            char events[4096];
            while (::read(watch, events, sizeof events) > 0) {
            }
        }
        found = std::filesystem::exists(std::filesystem::symlink_status(path, error));
    }
    ::close(watch);
    return found;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

}  // namespace vyx::test
