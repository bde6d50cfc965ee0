#include "cli/ProbeRates.h"

#include <algorithm>

#include "protocol/InformationFrame.h"
#include "resources/Lists.h"

namespace vyx::cli {

std::vector<std::uint32_t> ProbeOrder(std::span<const std::uint32_t> first) {
    std::vector<std::uint32_t> rates;
    const auto add = [&rates](std::uint32_t rate) {
        if (std::find(rates.begin(), rates.end(), rate) == rates.end()) {
            rates.push_back(rate);
        }
    };
    for (const std::uint32_t rate : first) {
        add(rate);
    }
    for (const std::uint32_t rate : resources::kBaudRates) {
        add(rate);
    }
    return rates;
}

// A display keeps its time to answer under some 30 ms.
std::chrono::microseconds ProbeWait(std::uint32_t rate) {
    constexpr std::uint64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
    constexpr std::uint64_t kWireBytes = 5 + protocol::kInformationFrameLength;
    constexpr std::chrono::microseconds kMargin{40'000};
    return std::chrono::microseconds(kWireBytes * kBitsPerByte * 1'000'000 / rate) + kMargin;
}

}  // namespace vyx::cli
