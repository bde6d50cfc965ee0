#include "cli/OpenFailure.h"

namespace vyx::cli {

namespace {

constexpr const char* kPortsHint =
    "hint: `vyxctl ports` lists the COM names and the serial devices present";
constexpr const char* kDialoutHint =
    "hint: serial devices belong to the dialout group: "
    "sudo usermod -aG dialout \"$USER\", then log in again";

}  // namespace

OpenFailure DescribeOpenFailure(const SerialError& error) {
    using Kind = SerialError::Kind;
    switch (error.kind) {
        case Kind::NoDevice:
        case Kind::NotAPortName:
            return {error.message, kPortsHint};
        case Kind::NotASerialDevice:
            return {"not a serial device", kPortsHint};
        case Kind::AccessDenied:
            return {error.message, kDialoutHint};
        case Kind::Busy: {
            // A lock held by another opener says less than "busy" in the OS's words.
            const std::string reason =
                error.call == "flock" ? "busy: another program holds it" : error.message;
            return {reason,
                    "hint: close the other program (`fuser -v " + error.path + "` shows which)"};
        }
        default:
            // The port's own set-up refused it: the line names the call.
            return {error.call == "open" ? error.message : error.Line(), {}};
    }
}

}  // namespace vyx::cli
