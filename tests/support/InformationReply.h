#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyx::test {

// A 22-byte information reply as a display sends it: STX, LEN 0x12, 'D', 17 data
// bytes, ETX, and the XOR of LEN through ETX.
inline std::vector<std::uint8_t> Reply(const std::string& version, std::uint8_t commandSet,
                                       std::uint8_t font, std::uint8_t language,
                                       std::uint8_t baud) {
    std::vector<std::uint8_t> reply = {0x02, 0x12, 0x44};
    std::vector<std::uint8_t> field(version.begin(), version.end());
    field.resize(12, 0x00);
    reply.insert(reply.end(), field.begin(), field.end());
    reply.insert(reply.end(), {commandSet, font, language, baud, 0x00, 0x03});
    std::uint8_t check = 0;
    for (std::size_t i = 1; i < reply.size(); ++i) {
        check = static_cast<std::uint8_t>(check ^ reply[i]);
    }
    reply.push_back(check);
    return reply;
}

}  // namespace vyx::test
