// vyxctl's argument handling on input a person would not type but a script might pass.

#include <gtest/gtest.h>

#include <string>

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
            std::string a0 = "vyxctl", a1 = command, a2 = "--timeout", a3 = value;
            char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
            const auto outcome = cli::ParseCommandLine(4, argv);
            EXPECT_FALSE(outcome.invocation.has_value()) << command << " --timeout " << value;
            EXPECT_EQ(outcome.exitStatus, cli::kExitUsage) << command << " --timeout " << value;
        }
    }
    testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace vyx::test
