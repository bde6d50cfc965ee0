#include "cli/DeviceAccess.h"

namespace vyx::cli {

// A COM port has no owner, group and mode to show: a refused opening on Windows means
// another program holds the port (the serial layer reports that as busy).
std::optional<DeviceAccess> LookUpDeviceAccess(const std::string& /*path*/) {
    return std::nullopt;
}

std::string BusyHint(const std::string& path) {
    // "\\.\COM4" is COM4 to the operator.
    const std::string prefix = "\\\\.\\";
    const std::string name = path.rfind(prefix, 0) == 0 ? path.substr(prefix.size()) : path;
    return "hint: close the other program that has " + name +
           " open (a terminal program, another set-up tool)";
}

}  // namespace vyx::cli
