#pragma once

#include <string>

#include "serial/SerialError.h"

namespace vyx::cli {

// Why a device could not be opened, in vyxctl's words.
struct OpenFailure {
    std::string reason;  // e.g. "Permission denied"
    std::string hint;    // a second line for the operator, or empty
};

// The reason and hint for the error a failed opening left, from its kind (the same on
// every platform), not from the operating system's code.
OpenFailure DescribeOpenFailure(const SerialError& error);

}  // namespace vyx::cli
