#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace vyx::cli {

// The rates a probe tries in turn: the `first` ones in their order, then the other
// rates from 9600 upwards; each rate once.
std::vector<std::uint32_t> ProbeOrder(std::span<const std::uint32_t> first);

// How long a probe waits for the reply at `rate`: what the query and the reply need on
// the wire, plus the display's own time to answer.
std::chrono::microseconds ProbeWait(std::uint32_t rate);

}  // namespace vyx::cli
