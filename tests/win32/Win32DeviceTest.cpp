// The Windows device's openings that fail, on what any Windows has: no COM port needed.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

TEST(Win32DeviceTest, WhatIsNoSerialDeviceDoesNotOpenAndIsLeftFree) {
    TemporaryFile file;
    ASSERT_FALSE(file.Path().empty());
    // A disk file opens, but is no character device: refused, and its handle released.
    EXPECT_EQ(SerialDevice::Open(file.Path(), 9600), nullptr);
    EXPECT_TRUE(file.Free());
}

TEST(Win32DeviceTest, AMissingPortOrARateOfZeroDoesNotOpen) {
    EXPECT_EQ(SerialDevice::Open("\\\\.\\COM200", 9600), nullptr);
    EXPECT_EQ(SerialDevice::Open("\\\\.\\NoSuchDevice", 9600), nullptr);
    TemporaryFile file;
    EXPECT_EQ(SerialDevice::Open(file.Path(), 0), nullptr);
    EXPECT_TRUE(file.Free());
}

TEST(Win32DeviceTest, ACharacterDeviceThatIsNoPortRefusesTheLineSettings) {
    // NUL is a character device without serial settings.
    EXPECT_EQ(SerialDevice::Open("NUL", 9600), nullptr);
}

}  // namespace
}  // namespace vyx
