#pragma once

#include <string>

#include "sim/DisplaySim.h"

namespace vyx::sim {

// One line (without newline) for the --plain log, e.g. "frame D", "frame 3 04 -> 115200 bps",
// "rejected 02 01 44 03 47", "noise 5 bytes at 19200 bps, listening at 9600 bps",
// "noise 5 bytes at 9600 bps 8N2, listening at 9600 bps 8N1".
std::string DescribeEvent(const Event& event, std::uint32_t listenRate);

// Bytes in hexadecimal, separated by blanks: "02 12 44".
std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace vyx::sim
