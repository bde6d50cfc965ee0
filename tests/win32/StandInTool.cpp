// Stands in for the programming tool: tells the test how it was started (its command
// line, where its standard output goes, and what config.data in its working folder held
// at that moment) in the file named by VYX_TEST_REPORT, then sets the event named by
// VYX_TEST_STARTED when there is one.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// "config=55 2C ..." with the file's bytes, or "config=missing".
std::string ConfigLine() {
    std::FILE* file = std::fopen("config.data", "rb");
    if (file == nullptr) {
        return "config=missing\n";
    }
    std::string line = "config=";
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(c));
        line += line.size() > 7 ? " " : "";
        line += hex;
    }
    std::fclose(file);
    return line + "\n";
}

}  // namespace

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
    report += ConfigLine();
    if (std::FILE* file = std::fopen(reportPath, "wb")) {
        std::fwrite(report.data(), 1, report.size(), file);
        std::fclose(file);
    }
    if (started == nullptr) {
        return 0;
    }
    if (const HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, started)) {
        SetEvent(event);
        CloseHandle(event);
    }
    return 0;
}
