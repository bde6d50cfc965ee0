// vyxctl's argument handling on input a person would not type but a script might pass.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/Options.h"

namespace vyx::test {
namespace {

// Found by the argument fuzzer: "nan" passed the timeout's range check and reached a
// float-to-integer conversion that has no defined result.
TEST(ReliabilityCliArgsTest, NonNumericTimeoutsAreUsageErrors) {
    testing::internal::CaptureStderr();
    for (const char* value : {"nan", "-nan", "NaN", "inf", "-inf", "0", "1e400", "3600.5"}) {
        for (const char* command : {"info", "probe"}) {
            std::string a0 = "vyxctl";
            std::string a1 = command;
            std::string a2 = "--timeout";
            std::string a3 = value;
            char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
            const auto outcome = cli::ParseCommandLine(4, argv);
            EXPECT_FALSE(outcome.invocation.has_value()) << command << " --timeout " << value;
            EXPECT_EQ(outcome.exitStatus, cli::kExitUsage) << command << " --timeout " << value;
        }
    }
    testing::internal::GetCapturedStderr();
}

// Found by the argument fuzzer: an empty argument reaches a number option as 0 without
// its membership check, so `baud ""` sent the rate command with the byte 0xFF and
// `--baud ""` failed later as an open error.
TEST(ReliabilityCliArgsTest, EmptyRatesAreUsageErrors) {
    testing::internal::CaptureStderr();
    const std::vector<std::vector<std::string>> lines{
        {"vyxctl", "baud", ""},
        {"vyxctl", "baud", "", "--verify"},
        {"vyxctl", "--baud", "", "info"},
        {"vyxctl", "--baud", "", "baud", "9600"},
    };
    for (auto args : lines) {
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const auto outcome = cli::ParseCommandLine(static_cast<int>(args.size()), argv.data());
        EXPECT_FALSE(outcome.invocation.has_value()) << args[1] << " " << args[2];
        EXPECT_EQ(outcome.exitStatus, cli::kExitUsage) << args[1] << " " << args[2];
    }
    testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace vyx::test
