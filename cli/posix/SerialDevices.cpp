#include "cli/SerialDevices.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <span>
#include <string_view>
#include <system_error>

namespace vyx::cli {

namespace fs = std::filesystem;

namespace {

// "ttyS10" after "ttyS9": compare the text before the trailing number, then the number.
bool NaturalLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& s) {
        std::size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1])) != 0) {
            --digits;
        }
        const std::string tail = s.substr(digits);
        return std::make_pair(s.substr(0, digits), tail.size() > 9 ? 0UL : std::stoul("0" + tail));
    };
    return split(a) < split(b);
}

void AddMatching(const fs::path& folder, std::span<const std::string_view> prefixes,
                 std::vector<std::string>& found) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const bool match =
            std::any_of(prefixes.begin(), prefixes.end(),
                        [&](std::string_view prefix) { return name.rfind(prefix, 0) == 0; });
        if (match) {
            found.push_back(it->path().string());
        }
    }
}

}  // namespace

std::vector<std::string> SerialDevicesPresent() {
    constexpr std::array<std::string_view, 3> kTtyPrefixes{"ttyS", "ttyUSB", "ttyACM"};
    constexpr std::array<std::string_view, 1> kAnyName{""};
    std::vector<std::string> found;
    AddMatching("/dev", kTtyPrefixes, found);
    std::sort(found.begin(), found.end(), NaturalLess);
    std::vector<std::string> byId;
    AddMatching("/dev/serial/by-id", kAnyName, byId);
    std::sort(byId.begin(), byId.end());
    found.insert(found.end(), byId.begin(), byId.end());
    return found;
}

}  // namespace vyx::cli
