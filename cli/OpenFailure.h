#pragma once

#include <optional>
#include <string>

#include "cli/DeviceAccess.h"
#include "serial/SerialError.h"

namespace vyx::cli {

// Why a device could not be opened, in vyxctl's words.
struct OpenFailure {
    std::string reason;  // e.g. "Permission denied"
    std::string hint;    // a second line for the operator, or empty
};

// The reason and hint for the error a failed opening left, from its kind (the same on
// every platform), not from the operating system's code. `access` is who may open the
// device (LookUpDeviceAccess(error.path)); it decides the hint for a refused access:
// the dialout advice only when the device's group is dialout and this user is not in it,
// otherwise the owner, group and mode.
OpenFailure DescribeOpenFailure(const SerialError& error,
                                const std::optional<DeviceAccess>& access);

}  // namespace vyx::cli
