#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace vyx::test {

// A program to start: argv (argv[0] is the path), extra environment, working folder.
struct Launch {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;  // added or replaced
    std::string cwd;                                       // empty: the test's own
    std::string outputFile;   // empty: capture through pipes; else stdout+stderr go there
    long fileSizeLimit = -1;  // >= 0: largest file the child may write (writes past it fail)
    std::vector<int> closedDescriptors;  // closed in the child before it starts (0, 1, 2)
    std::string stdoutFile;              // non-empty: standard output alone goes there
    bool stdoutBrokenPipe = false;       // standard output is a pipe nobody reads or holds
};

struct ProcessResult {
    int exitStatus = -1;  // -1 when it did not end by itself in time (then it was killed)
    std::string out;
    std::string err;
};

// A child process with a bounded wait for its end; killed if it is still running when
// the object goes away.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const Launch& launch);
    // Collects the output and waits for the end, at most `timeout`; kills it after that.
    ProcessResult Finish(std::chrono::milliseconds timeout);
    // Asks it to end (SIGTERM) and waits as Finish does.
    ProcessResult Stop(std::chrono::milliseconds timeout);
    pid_t Pid() const { return m_Pid; }

  private:
    pid_t m_Pid = -1;
    int m_PidFd = -1;
    int m_Out = -1;
    int m_Err = -1;
};

// Starts, waits at most `timeout`, returns status and output.
ProcessResult RunProcess(const Launch& launch, std::chrono::milliseconds timeout);

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_Path; }
    std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

  private:
    std::string m_Path;
};

// Waits until `path` exists, woken by inotify on its folder; false at the deadline.
bool WaitForPath(const std::string& path, std::chrono::milliseconds timeout);

std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace vyx::test
