// vyxctl's Windows parts, run under Wine: the reasons and hints of a COM port that did
// not open, map and unmap refused, arguments taken from the ANSI code page, the ports
// listing from the system.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/LocaleText.h"
#include "cli/OpenFailure.h"
#include "cli/Options.h"
#include "cli/Ports.h"
#include "cli/StandardStreams.h"

namespace vyx::cli {
namespace {

using Kind = SerialError::Kind;

// What the Windows device reports for CreateFile's usual failures.
TEST(CliWindows, OpenFailuresNameTheComPortAndTheWindowsWayOut) {
    struct Case {
        SerialError error;
        std::string reason;
        std::string hint;
    };
    const std::string path = "\\\\.\\COM4";
    const Case cases[] = {
        {{Kind::NoDevice, "CreateFile", path, 2, "File not found (error 2)"},
         "File not found (error 2)",
         "hint: `vyxctl ports` lists the COM names and the serial devices present"},
        {{Kind::Busy, "CreateFile", path, 5, "Access denied (error 5)"},
         "Access denied (error 5)",
         "hint: close the other program that has COM4 open (a terminal program, another "
         "set-up tool)"},
        {{Kind::Busy, "CreateFile", "\\\\.\\COM12", 32, "Sharing violation (error 32)"},
         "Sharing violation (error 32)",
         "hint: close the other program that has COM12 open (a terminal program, another "
         "set-up tool)"},
        {{Kind::BadSetting, "SetCommState", path, 87, "Invalid parameter (error 87)"},
         "SetCommState \\\\.\\COM4: Invalid parameter (error 87)",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error.message);
        const OpenFailure failure = DescribeOpenFailure(c.error, LookUpDeviceAccess(path));
        EXPECT_EQ(failure.reason, c.reason);
        EXPECT_EQ(failure.hint, c.hint);
    }
    EXPECT_FALSE(LookUpDeviceAccess(path).has_value()) << "a COM port has no owner and mode";
}

TEST(CliWindows, MapAndUnmapAreUsageErrorsThatSayWhy) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MapPort("COM4", "/dev/ttyUSB0"), kExitUsage);
    const std::string mapLine = testing::internal::GetCapturedStderr();
    EXPECT_NE(mapLine.find("vyxctl: map is for Linux only"), std::string::npos) << mapLine;
    testing::internal::CaptureStderr();
    EXPECT_EQ(UnmapPort("COM4"), kExitUsage);
    const std::string unmapLine = testing::internal::GetCapturedStderr();
    EXPECT_NE(unmapLine.find("vyxctl: unmap is for Linux only"), std::string::npos) << unmapLine;
}

// Whatever the ANSI code page is, its bytes come out as the same characters in UTF-8.
TEST(CliWindows, ArgumentsAreReadInTheAnsiCodePage) {
    UseEnvironmentLocale();
    const std::wstring characters = L"Caf\u00e9 \u00a3 100 ?";
    char ansi[64] = {};
    BOOL lossy = FALSE;
    const int n =
        WideCharToMultiByte(CP_ACP, 0, characters.c_str(), -1, ansi, sizeof ansi, nullptr, &lossy);
    ASSERT_GT(n, 0);
    char utf8[64] = {};
    ASSERT_GT(WideCharToMultiByte(CP_UTF8, 0, characters.c_str(), -1, utf8, sizeof utf8, nullptr,
                                  nullptr),
              0);
    if (lossy) {
        GTEST_SKIP() << "the ANSI code page " << GetACP() << " lacks these characters";
    }
    EXPECT_EQ(ArgumentToUtf8(ansi), std::string(utf8));
    EXPECT_EQ(ArgumentToUtf8("plain ASCII"), "plain ASCII");
    EXPECT_EQ(ArgumentToUtf8(""), "");
}

// The system's own list: the heading always, each port in a line of its own, and the
// JSON form parseable (its content depends on the machine).
TEST(CliWindows, PortsListTheSystemsComPorts) {
    std::ostringstream text;
    ASSERT_EQ(ListPorts(text, false), kExitOk);
    EXPECT_EQ(text.str().rfind("COM ports (from the registry's SERIALCOMM and SetupAPI):\n", 0), 0u)
        << text.str();
    std::ostringstream json;
    ASSERT_EQ(ListPorts(json, true), kExitOk);
    EXPECT_NE(json.str().find("\"ports\": ["), std::string::npos) << json.str();
}

// Arguments that start with a slash are arguments, as on Linux, not Windows-style
// options.
TEST(CliWindows, SlashArgumentsAreNoOptions) {
    const std::vector<std::vector<std::string>> lines = {
        {"vyxctl", "--port", "//./COM4", "info"},
        {"vyxctl", "map", "COM4", "/dev/ttyUSB0"},
        {"vyxctl", "text", "/", "/help"},
    };
    for (std::vector<std::string> line : lines) {
        SCOPED_TRACE(line[1] + " " + line[2]);
        std::vector<char*> argv;
        for (std::string& argument : line) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        const ParseOutcome parsed = ParseCommandLine(static_cast<int>(line.size()), argv.data());
        ASSERT_TRUE(parsed.invocation.has_value());
        const Invocation& invocation = *parsed.invocation;
        if (line[1] == "--port") {
            EXPECT_EQ(invocation.port, "//./COM4");
        } else if (line[1] == "map") {
            EXPECT_EQ(invocation.device, "/dev/ttyUSB0");
        } else {
            EXPECT_EQ(invocation.line1, "/");
            EXPECT_EQ(invocation.line2, "/help");
        }
    }
}

TEST(CliWindows, StandardErrorOfATestIsNoConsole) {
    // ctest hands the program pipes: progress lines must stay off them.
    EnsureStandardDescriptors();
    EXPECT_FALSE(StderrIsTerminal());
}

}  // namespace
}  // namespace vyx::cli
