#include "resources/Lists.h"

#include <algorithm>
#include <cctype>

namespace vyx::resources {

std::optional<std::string_view> EntryAt(std::span<const std::string_view> entries, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
        return std::nullopt;
    }
    return entries[static_cast<std::size_t>(index)];
}

int FindEntry(std::span<const std::string_view> entries, std::string_view name) {
    const auto same = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) ==
                   std::tolower(static_cast<unsigned char>(y));
        });
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (same(entries[i], name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int BaudRateIndex(std::uint32_t bps) {
    const auto* const it = std::find(kBaudRates.begin(), kBaudRates.end(), bps);
    return it == kBaudRates.end() ? -1 : static_cast<int>(it - kBaudRates.begin());
}

}  // namespace vyx::resources
