#include "cli/OpenFailure.h"

#include <cstdio>

namespace vyx::cli {

namespace {

constexpr const char* kPortsHint =
    "hint: `vyxctl ports` lists the COM names and the serial devices present";
constexpr const char* kDialoutHint =
    "hint: serial devices belong to the dialout group: "
    "sudo usermod -aG dialout \"$USER\", then log in again";
constexpr const char* kNewLoginHint =
    "hint: you were added to the dialout group after this login: log in again "
    "(or run `newgrp dialout`)";

// "crw-rw----" for a character device with mode 0660.
std::string ModeText(unsigned mode) {
    std::string text = "c";
    const char* letters = "rwx";
    for (unsigned bit = 0; bit < 9; ++bit) {
        text += (mode & (0400U >> bit)) != 0 ? letters[bit % 3] : '-';
    }
    return text;
}

std::string AccessHint(const std::string& path, const std::optional<DeviceAccess>& access) {
    if (!access) {
        return "hint: `ls -lL " + path + "` shows who may open it";
    }
    if (access->group == "dialout" && !access->inGroup) {
        return access->listedInGroup ? kNewLoginHint : kDialoutHint;
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", access->mode);
    return "hint: " + path + " is " + ModeText(access->mode) + " (" + mode + ") owner " +
           access->owner + " group " + access->group +
           (access->inGroup ? ", and this user is in that group" : "") +
           "; the owner or root can change that (chmod, chgrp, or a udev rule)";
}

}  // namespace

OpenFailure DescribeOpenFailure(const SerialError& error,
                                const std::optional<DeviceAccess>& access) {
    using Kind = SerialError::Kind;
    switch (error.kind) {
        case Kind::NoDevice:
        case Kind::NotAPortName:
            return {error.message, kPortsHint};
        case Kind::NotASerialDevice:
            return {"not a serial device", kPortsHint};
        case Kind::AccessDenied:
            return {error.message, AccessHint(error.path, access)};
        case Kind::Busy: {
            // A lock held by another opener says less than "busy" in the OS's words.
            const std::string reason =
                error.call == "flock" ? "busy: another program holds it" : error.message;
            return {reason, BusyHint(error.path)};
        }
        default:
            // The port's own set-up refused it: the line names the call.
            return {error.call == "open" ? error.message : error.Line(), {}};
    }
}

}  // namespace vyx::cli
