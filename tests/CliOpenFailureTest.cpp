// vyxctl's reason and hint for a port that did not open, from the error value alone.
#include "cli/OpenFailure.h"

#include <gtest/gtest.h>

namespace vyx::cli {
namespace {

using Kind = SerialError::Kind;

struct OpenFailureCase {
    SerialError error;
    std::string reason;
    std::string hintStart;  // empty: no hint
};

TEST(CliOpenFailure, ReasonAndHintFollowTheKindOfFailure) {
    const std::string path = "/dev/ttyUSB0";
    const OpenFailureCase cases[] = {
        {{Kind::NoDevice, "open", path, 2, "No such file or directory"},
         "No such file or directory",
         "hint: `vyxctl ports`"},
        {{Kind::AccessDenied, "open", path, 13, "Permission denied"},
         "Permission denied",
         "hint: serial devices belong to the dialout group"},
        {{Kind::Busy, "flock", path, 11, "Resource temporarily unavailable"},
         "busy: another program holds it",
         "hint: close the other program (`fuser -v /dev/ttyUSB0` shows which)"},
        {{Kind::Busy, "open", path, 16, "Device or resource busy"},
         "Device or resource busy",
         "hint: close the other program"},
        {{Kind::NotASerialDevice, "isatty", path, 25, "Inappropriate ioctl for device"},
         "not a serial device",
         "hint: `vyxctl ports`"},
        // The port's own set-up refused the device: the line names the call.
        {{Kind::BadSetting, "tcsetattr", path, 22, "Invalid argument"},
         "tcsetattr /dev/ttyUSB0: Invalid argument",
         ""},
        {{Kind::Other, "open", path, 40, "Too many levels of symbolic links"},
         "Too many levels of symbolic links",
         ""},
    };
    for (const OpenFailureCase& c : cases) {
        SCOPED_TRACE(c.error.call + " " + c.error.message);
        const OpenFailure failure = DescribeOpenFailure(c.error);
        EXPECT_EQ(failure.reason, c.reason);
        if (c.hintStart.empty()) {
            EXPECT_EQ(failure.hint, "");
        } else {
            EXPECT_EQ(failure.hint.rfind(c.hintStart, 0), 0u) << failure.hint;
        }
    }
}

}  // namespace
}  // namespace vyx::cli
