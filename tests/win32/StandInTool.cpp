// Stands in for the programming tool: tells the test how it was started (its command
// line and where its standard output goes) in the file named by VYX_TEST_REPORT, then
// sets the event named by VYX_TEST_STARTED.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
    const char* reportPath = std::getenv("VYX_TEST_REPORT");
    const char* started = std::getenv("VYX_TEST_STARTED");
    if (reportPath == nullptr || started == nullptr) {
        return 2;
    }
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const DWORD type =
        out == nullptr || out == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(out);
    std::string report = std::string("command=") + GetCommandLineA() + "\n";
    report += "output=" + std::to_string(type) + "\n";
    if (std::FILE* file = std::fopen(reportPath, "wb")) {
        std::fwrite(report.data(), 1, report.size(), file);
        std::fclose(file);
    }
    if (const HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, started)) {
        SetEvent(event);
        CloseHandle(event);
    }
    return 0;
}
