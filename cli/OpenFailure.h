#pragma once

#include <string>

namespace vyx::cli {

// Why a device could not be opened, found by trying to open it once more.
struct OpenFailure {
    std::string reason;  // e.g. "Permission denied"
    std::string hint;    // a second line for the operator, or empty
};

// Diagnoses a failed opening of `devicePath` (already resolved from a COM name).
// `libraryLine` is what the serial library said about it, used when the device opens
// now and only the port's own set-up refused it.
OpenFailure DiagnoseOpenFailure(const std::string& devicePath, const std::string& libraryLine);

}  // namespace vyx::cli
