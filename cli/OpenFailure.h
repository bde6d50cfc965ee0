#pragma once

#include <string>

namespace vyx::cli {

// Why a device could not be opened, found by trying to open it once more.
struct OpenFailure {
    std::string reason;        // e.g. "Permission denied"
    std::string hint;          // a second line for the operator, or empty
    bool deviceOpens = false;  // the device opened now: the port's own set-up refused it
};

// Diagnoses a failed opening of `devicePath` (already resolved from a COM name).
OpenFailure DiagnoseOpenFailure(const std::string& devicePath);

}  // namespace vyx::cli
