#include "sim/OwnSession.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vyx::sim {

namespace {

std::string Failed(const char* call) {
    return std::string(call) + ": " + std::strerror(errno);
}

// The parent's whole life after the fork: relay the stop signals, report the exit.
[[noreturn]] void RelayUntilChildEnds(pid_t child, const sigset_t& waited) {
    while (true) {
        siginfo_t info{};
        const int sig = sigwaitinfo(&waited, &info);
        if (sig < 0) {
            continue;  // EINTR: nothing to relay
        }
        if (sig != SIGCHLD) {
            kill(child, sig);
            continue;
        }
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child && WIFEXITED(status)) {
            _exit(WEXITSTATUS(status));
        }
        if (done == child && WIFSIGNALED(status)) {
            _exit(128 + WTERMSIG(status));
        }
    }
}

}  // namespace

int LeadOwnSession(std::string& error) {
    if (setsid() >= 0) {
        return 1;
    }
    if (errno != EPERM) {
        error = Failed("setsid");
        return 0;
    }
    // Blocked before the fork, so that a stop signal sent at any moment is either relayed
    // by the parent or left pending in the child, whose signalfd takes it later.
    sigset_t waited;
    sigemptyset(&waited);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
        sigaddset(&waited, sig);
    }
    sigset_t previous;
    if (sigprocmask(SIG_BLOCK, &waited, &previous) != 0) {
        error = Failed("sigprocmask");
        return 0;
    }
    const pid_t child = fork();
    if (child < 0) {
        error = Failed("fork");
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        return 0;
    }
    if (child > 0) {
        RelayUntilChildEnds(child, waited);
    }
    // The child leads no group: setsid() succeeds. SIGCHLD goes back to how it was; the
    // stop signals stay blocked until the server's signalfd takes them.
    sigset_t childMask = previous;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&childMask, sig);
    }
    sigprocmask(SIG_SETMASK, &childMask, nullptr);
    if (setsid() < 0) {
        error = Failed("setsid");
        return 0;
    }
    return 1;
}

}  // namespace vyx::sim
