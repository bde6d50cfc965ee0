#pragma once

#include <string>
#include <vector>

namespace vyx::cli {

// The serial devices present on this machine, for `vyxctl ports`: the device nodes in
// natural order ("ttyS2" before "ttyS10"), then the stable names the system gives them
// (by id), if any. Implemented per platform (cli/posix/SerialDevices.cpp).
std::vector<std::string> SerialDevicesPresent();

}  // namespace vyx::cli
