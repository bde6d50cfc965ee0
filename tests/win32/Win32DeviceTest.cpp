// The Windows device's openings that fail, on what any Windows has: no COM port needed.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "serial/SerialDevice.h"

namespace vyx {
namespace {

// A file of the test's own in the temporary folder, removed at the end.
class TemporaryFile {
  public:
    TemporaryFile() {
        char folder[MAX_PATH];
        char name[MAX_PATH];
        if (GetTempPathA(MAX_PATH, folder) != 0 && GetTempFileNameA(folder, "vyx", 0, name) != 0) {
            m_Path = name;
        }
    }
    ~TemporaryFile() {
        if (!m_Path.empty()) {
            DeleteFileA(m_Path.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& Path() const { return m_Path; }

    // True when nobody else holds the file: an open without sharing succeeds.
    bool Free() const {
        const HANDLE h = CreateFileA(m_Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return false;
        }
        CloseHandle(h);
        return true;
    }

  private:
    std::string m_Path;
};

// Opens `path` and returns what was reported; the opening must fail with one report.
std::vector<SerialError> FailedOpen(const std::string& path, std::uint32_t rate) {
    std::vector<SerialError> reports;
    const auto device =
        SerialDevice::Open(path, rate, [&](const SerialError& error) { reports.push_back(error); });
    EXPECT_EQ(device, nullptr) << path;
    EXPECT_EQ(reports.size(), 1U) << path;
    return reports;
}

TEST(Win32DeviceTest, FailedOpeningsSayWhyAndLeaveNothingOpen) {
    TemporaryFile file;
    ASSERT_FALSE(file.Path().empty());
    using Kind = SerialError::Kind;
    struct Case {
        std::string path;
        std::uint32_t rate;
        Kind kind;
        const char* call;
        DWORD code;  // 0: our own words, not the system's
    };
    const Case cases[] = {
        // A disk file opens, but is no character device.
        {file.Path(), 9600, Kind::NotASerialDevice, "GetFileType", ERROR_BAD_DEVICE},
        {"\\\\.\\COM200", 9600, Kind::NoDevice, "CreateFile", ERROR_FILE_NOT_FOUND},
        {"\\\\.\\NoSuchDevice", 9600, Kind::NoDevice, "CreateFile", ERROR_FILE_NOT_FOUND},
        {file.Path(), 0, Kind::BadSetting, "SetCommState", 0},
    };
    for (const Case& c : cases) {
        const auto reports = FailedOpen(c.path, c.rate);
        if (reports.empty()) {
            continue;
        }
        const SerialError& error = reports[0];
        EXPECT_EQ(error.kind, c.kind) << error.Line();
        EXPECT_EQ(error.call, c.call) << error.Line();
        EXPECT_EQ(error.path, c.path);
        EXPECT_EQ(error.code, static_cast<int>(c.code)) << error.Line();
        EXPECT_FALSE(error.message.empty());
        if (c.code != 0) {
            // The system's text with its number, for a user to look up.
            EXPECT_NE(error.message.find("(error " + std::to_string(c.code) + ")"),
                      std::string::npos)
                << error.message;
        }
    }
    // Every handle of the failed openings was released.
    EXPECT_TRUE(file.Free());
}

TEST(Win32DeviceTest, ACharacterDeviceThatIsNoPortIsRefused) {
    // NUL is a character device without serial settings.
    const auto reports = FailedOpen("NUL", 9600);
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0].kind, SerialError::Kind::NotASerialDevice) << reports[0].Line();
    EXPECT_NE(reports[0].code, 0) << reports[0].Line();
}

}  // namespace
}  // namespace vyx
