// Stands in for the programming tool: tells the test how it was started (its command
// line, where its standard output goes, and the bytes of the config.data it finds in
// its working folder, in hex) in the file named by VYX_TEST_REPORT, then sets the event
// named by VYX_TEST_STARTED when one is named.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
    const char* reportPath = std::getenv("VYX_TEST_REPORT");
    const char* started = std::getenv("VYX_TEST_STARTED");
    if (reportPath == nullptr) {
        return 2;
    }
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const DWORD type =
        out == nullptr || out == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(out);
    std::string report = std::string("command=") + GetCommandLineA() + "\n";
    report += "output=" + std::to_string(type) + "\n";
    report += "record=";
    if (std::FILE* record = std::fopen("config.data", "rb")) {
        char hex[4];
        for (int c = std::fgetc(record); c != EOF; c = std::fgetc(record)) {
            std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(c));
            report += hex;
        }
        std::fclose(record);
    }
    report += "\n";
    if (std::FILE* file = std::fopen(reportPath, "wb")) {
        std::fwrite(report.data(), 1, report.size(), file);
        std::fclose(file);
    }
    if (const HANDLE event =
            started != nullptr ? OpenEventA(EVENT_MODIFY_STATE, FALSE, started) : nullptr) {
        SetEvent(event);
        CloseHandle(event);
    }
    return 0;
}
