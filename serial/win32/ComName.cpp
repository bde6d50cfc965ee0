// COM names on Windows are the system's own: the dialog's "COMn" is the device \\.\COMn.

#include <optional>
#include <string>

#include "serial/ComName.h"

namespace vyx {

std::optional<std::string> ResolvePortName(const std::string& name) {
    // Already a device path, such as \\.\COM4 or //./COM4: Windows takes either
    // separator.
    if (name.find_first_of("\\/") != std::string::npos) {
        return name;
    }
    if (ComNumber(name) == 0) {
        return std::nullopt;
    }
    // Through the device namespace: a plain "COM10" and above names no device for
    // CreateFile, "\\.\COM10" does (and so does every lower number).
    return "\\\\.\\" + name;
}

}  // namespace vyx
