#include "tests/support/TestEnvironment.h"

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <stdlib.h>

#include <string>

namespace vyx::test {

void SetVariable(const char* name, const char* value) {
    // An empty value removes the variable: Windows keeps no empty ones.
    _putenv_s(name, value == nullptr ? "" : value);
}

std::filesystem::path MakeTempDir() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    // A name from the process id and a counter; CreateDirectory refuses one that exists.
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const auto path = base / ("vyx-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(GetTickCount()) + "-" + std::to_string(attempt));
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            return path;
        }
    }
    return {};
}

bool MapComPort(const std::filesystem::path&, const std::string&, const std::string&) {
    return true;
}

void UnmapComPorts() {}

int ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            ++count;
        }
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace vyx::test
