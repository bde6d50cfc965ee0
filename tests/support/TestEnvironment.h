#pragma once

#include <filesystem>
#include <string>

namespace vyx::test {

// What the tests need from the operating system beside the code under test, one
// implementation per platform (support/posix/, support/win32/).

// Sets a variable of the process's environment, where getenv reads; null removes it.
void SetVariable(const char* name, const char* value);

// A new, empty folder under the temporary folder; empty when it could not be made.
std::filesystem::path MakeTempDir();

// Makes the port name `com` ("COM1") reach `target` for the serial layer's name
// resolution. On POSIX a link `folder`/`com` -> `target`, with VYX_PORTS_DIR naming
// `folder`; on Windows the name is the system's own device and nothing needs doing.
bool MapComPort(const std::filesystem::path& folder, const std::string& com,
                const std::string& target);

// Undoes MapComPort's change of the environment.
void UnmapComPorts();

// Number of threads of this process (on POSIX from /proc/self, in support/PtyPair.cpp
// with the descriptor count).
int ThreadCount();

}  // namespace vyx::test
