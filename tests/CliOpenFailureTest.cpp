// vyxctl's reason and hint for a port that did not open, from the error value alone.
#include "cli/OpenFailure.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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
         "hint: `ls -lL /dev/ttyUSB0` shows who may open it"},
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
        const OpenFailure failure = DescribeOpenFailure(c.error, std::nullopt);
        EXPECT_EQ(failure.reason, c.reason);
        if (c.hintStart.empty()) {
            EXPECT_EQ(failure.hint, "");
        } else {
            EXPECT_EQ(failure.hint.rfind(c.hintStart, 0), 0u) << failure.hint;
        }
    }
}

// A refused access names its real cause: the dialout advice only where it helps.
TEST(CliOpenFailure, AccessHintFollowsTheDevicesOwnership) {
    const SerialError denied{Kind::AccessDenied, "open", "/dev/ttyUSB0", 13, "Permission denied"};
    const struct {
        const char* what;
        DeviceAccess access;
        std::string hint;
    } cases[] = {
        {"dialout, user not in it",
         {"root", "dialout", 0660, false, false},
         "hint: serial devices belong to the dialout group: sudo usermod -aG dialout \"$USER\", "
         "then log in again"},
        {"dialout, added but not logged in again",
         {"root", "dialout", 0660, false, true},
         "hint: you were added to the dialout group after this login: log in again (or run "
         "`newgrp dialout`)"},
        {"dialout, user in it: the mode is the cause",
         {"root", "dialout", 0600, true, true},
         "hint: /dev/ttyUSB0 is crw------- (0600) owner root group dialout, and this user is in "
         "that group; the owner or root can change that (chmod, chgrp, or a udev rule)"},
        {"another group",
         {"root", "uucp", 0660, false, false},
         "hint: /dev/ttyUSB0 is crw-rw---- (0660) owner root group uucp; the owner or root can "
         "change that (chmod, chgrp, or a udev rule)"},
        {"owned by another user",
         {"alice", "alice", 0620, false, false},
         "hint: /dev/ttyUSB0 is crw--w---- (0620) owner alice group alice; the owner or root can "
         "change that (chmod, chgrp, or a udev rule)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const OpenFailure failure = DescribeOpenFailure(denied, c.access);
        EXPECT_EQ(failure.reason, "Permission denied");
        EXPECT_EQ(failure.hint, c.hint);
    }
}

// The lookup itself, on a file whose ownership the test knows: one it made.
TEST(CliOpenFailure, LookUpDeviceAccessReadsOwnerGroupAndMode) {
    char path[] = "/tmp/vyx-access-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchmod(fd, 0640), 0);
    close(fd);
    const auto access = LookUpDeviceAccess(path);
    unlink(path);
    ASSERT_TRUE(access.has_value());
    const passwd* self = getpwuid(geteuid());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(access->owner, self->pw_name);
    EXPECT_EQ(access->mode, 0640U);
    EXPECT_TRUE(access->inGroup);  // a new file takes the process's group
    EXPECT_FALSE(LookUpDeviceAccess("/nonexistent/ttyUSB9").has_value());
}

}  // namespace
}  // namespace vyx::cli
