#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "protocol/Download.h"

// POSIX has the program declare it; glibc declares it too, but only under _GNU_SOURCE.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace vyx::protocol {

namespace {

// Owns the spawn attributes and file actions so every path releases them.
struct SpawnSetup {
    posix_spawnattr_t attr{};
    posix_spawn_file_actions_t actions{};
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

bool StartProgram(const std::string& program, std::string* error, ToolOutput output) {
    SpawnSetup setup;
    // The tool starts with default signal handling and an empty mask, whatever this
    // thread had, and inherits none of our descriptors beyond the standard three.
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&setup.attr, &empty);
    posix_spawnattr_setsigdefault(&setup.attr, &defaults);
    posix_spawnattr_setflags(&setup.attr,
                             static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    if (output == ToolOutput::Discarded) {
        // The tool outlives us: a caller reading our output until it ends must not wait
        // for the tool too. Standard input stays ours.
        posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&setup.actions, 2, "/dev/null", O_WRONLY, 0);
    }

    // posix_spawnp searches PATH only (no shell, no implicit current directory).
    std::string argv0 = program;
    char* argv[] = {argv0.data(), nullptr};
    pid_t pid = 0;
    const int err = posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attr, argv, environ);
    if (err != 0) {
        const std::string reason = "posix_spawnp " + program + ": " + std::strerror(err);
        if (error != nullptr) {
            *error = reason;
        } else {
            std::fprintf(stderr, "%s\n", reason.c_str());
        }
        return false;
    }
    // Not waited for, but reaped: a detached thread waits for exactly this pid, so the
    // tool leaves no zombie and no other child of the process is touched (a SIGCHLD
    // handler or waitpid(-1) would steal other children's statuses; a double fork
    // would fork a multithreaded process). The thread shares nothing with anyone.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace vyx::protocol
