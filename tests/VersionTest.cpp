// Every program answers --version with its name and the product version, exits 0 and
// needs nothing else: no display for the dialog, no port, no pseudo-terminal. Each runs
// as a real child process with DISPLAY and WAYLAND_DISPLAY removed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "resources/Version.h"

namespace vyx {
namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
    int status = -1;  // exit status, or -1 when killed, signalled or not started
    std::string out;
};

// Runs `path args...` with standard output on a pipe and standard input closed to
// /dev/null; kills it if it has not finished within ten seconds.
Outcome RunProgram(const std::string& path, std::vector<std::string> args) {
    Outcome run;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        std::vector<char*> argv;
        std::string program = path;
        argv.push_back(program.data());
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    char buffer[256];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{out[0], POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        run.out.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    return run;
}

struct Program {
    const char* name;
    const char* path;
};

const Program kPrograms[] = {
    {"vyxctl", VYXCTL_PATH},
    {"vyx-display-sim", VYX_DISPLAY_SIM_PATH},
#ifdef VYX_UTILITY_PATH
    {"VYX_Utility", VYX_UTILITY_PATH},
#endif
};

TEST(Version, EveryProgramPrintsItsNameAndTheProductVersion) {
    const std::string expected = std::string(" ") + VYX_VERSION_TEXT + "\n";
    for (const auto& program : kPrograms) {
        const Outcome run = RunProgram(program.path, {"--version"});
        EXPECT_EQ(run.status, 0) << program.name;
        EXPECT_EQ(run.out, program.name + expected) << program.name;
    }
}

#ifdef VYX_UTILITY_PATH
// Only a lone --version is answered: anything else still goes to the dialog, which
// without a display says so on standard error and fails.
TEST(Version, OtherwiseTheDialogStillNeedsADisplay) {
    const Outcome run = RunProgram(VYX_UTILITY_PATH, {});
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.out, "");
}
#endif

}  // namespace
}  // namespace vyx
