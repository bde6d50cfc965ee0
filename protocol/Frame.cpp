#include "protocol/Frame.h"

#include <algorithm>

namespace vyx::protocol {

int BCC(const std::uint8_t* len, std::int16_t count) {
    int check = 0;
    for (std::int16_t i = 0; i < count; ++i) {
        check ^= len[i];
    }
    return check;
}

std::size_t BuildFrame(std::span<std::uint8_t> out, std::uint8_t cmd,
                       std::span<const std::uint8_t> data) {
    const std::size_t n = data.size();
    if (n > kMaxData || out.size() < n + 5) {
        return 0;
    }
    const auto len = static_cast<std::uint8_t>(n + 1);
    out[0] = STX;
    out[1] = len;
    out[2] = cmd;
    std::copy(data.begin(), data.end(), out.begin() + 3);
    out[3 + n] = ETX;
    out[4 + n] = static_cast<std::uint8_t>(BCC(&out[1], static_cast<std::int16_t>(len + 2)));
    return n + 5;
}

namespace {
std::size_t BuildIndexFrame(std::span<std::uint8_t> out, std::uint8_t cmd, int value) {
    const std::array<std::uint8_t, 1> data{static_cast<std::uint8_t>(value & 0xFF)};
    return BuildFrame(out, cmd, data);
}
}  // namespace

std::size_t BuildTextFrame(std::span<std::uint8_t> out,
                           const std::array<std::uint8_t, kLineLength>& line1,
                           const std::array<std::uint8_t, kLineLength>& line2) {
    std::array<std::uint8_t, 2 * kLineLength> data{};
    std::copy(line1.begin(), line1.end(), data.begin());
    std::copy(line2.begin(), line2.end(), data.begin() + kLineLength);
    return BuildFrame(out, CMD_TEXT, data);
}

std::size_t BuildBaudRateFrame(std::span<std::uint8_t> out, int index) {
    return BuildIndexFrame(out, CMD_BAUD_RATE, index);
}

std::size_t BuildCommandSetFrame(std::span<std::uint8_t> out, int index) {
    return BuildIndexFrame(out, CMD_COMMAND_SET, index & kCommandSetMask);
}

std::size_t BuildDefaultFontFrame(std::span<std::uint8_t> out, int index) {
    return BuildIndexFrame(out, CMD_DEFAULT_FONT, index & kDefaultFontMask);
}

std::size_t BuildLanguageFrame(std::span<std::uint8_t> out, int index) {
    return BuildIndexFrame(out, CMD_LANGUAGE, index & kLanguageMask);
}

std::size_t BuildInformationQuery(std::span<std::uint8_t> out) {
    return BuildFrame(out, CMD_INFORMATION, {});
}

std::size_t BuildDownloadModeFrame(std::span<std::uint8_t> out) {
    return BuildFrame(out, CMD_DOWNLOAD, kDownloadKey);
}

std::size_t BuildCellTest(std::span<std::uint8_t> out, bool block) {
    if (out.size() < kCellTestLength) {
        return 0;
    }
    std::fill_n(out.begin(), kCellTestLength, block ? kCellBlock : kCellBlank);
    return kCellTestLength;
}

namespace {

// Bytes to skip for an invalid sequence at s[0]: a valid lead byte together with the
// continuation bytes that follow it (at most `expected` - 1), so that a cut-off
// character becomes one '?', not one per byte.
std::size_t InvalidSequenceLength(std::string_view s) {
    const auto lead = static_cast<unsigned char>(s[0]);
    const std::size_t expected = lead >= 0xF0 && lead <= 0xF4   ? 4
                                 : lead >= 0xE0 && lead <= 0xEF ? 3
                                 : lead >= 0xC2 && lead <= 0xDF ? 2
                                                                : 1;
    std::size_t n = 1;
    while (n < expected && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) {
        ++n;
    }
    return n;
}

// Length of the UTF-8 sequence starting at s[0], or 0 when it is not a valid one.
std::size_t Utf8SequenceLength(std::string_view s) {
    const auto lead = static_cast<unsigned char>(s[0]);
    std::size_t len = 0;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
    } else {
        return 0;
    }
    if (s.size() < len) {
        return 0;
    }
    for (std::size_t i = 1; i < len; ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return len;
}

}  // namespace

EncodedLine EncodeLine(std::string_view utf8, CodePage page) {
    EncodedLine line;
    line.bytes.fill(' ');
    CodePageConverter converter(page);
    std::size_t used = 0;
    const std::size_t length = std::min(utf8.find('\0'), utf8.size());
    std::string_view rest = utf8.substr(0, length);
    while (!rest.empty()) {
        std::array<std::uint8_t, CodePageConverter::kMaxCharacterBytes> bytes{};
        const std::size_t seq = Utf8SequenceLength(rest);
        const std::size_t consumed = seq == 0 ? InvalidSequenceLength(rest) : seq;
        std::size_t n = seq == 0 ? 0 : converter.Encode(rest.substr(0, seq), bytes);
        // No converter gives a zero byte for a character; should one, it must not go out.
        const auto encoded = std::span(bytes).first(n);
        const bool replaced =
            n == 0 || std::find(encoded.begin(), encoded.end(), std::uint8_t{0}) != encoded.end();
        if (replaced) {
            bytes[0] = '?';
            n = 1;
        }
        if (used + n > kLineLength) {
            line.cut = true;
            break;
        }
        std::copy_n(bytes.begin(), n, line.bytes.begin() + static_cast<std::ptrdiff_t>(used));
        used += n;
        line.replaced += replaced ? 1 : 0;
        rest.remove_prefix(consumed);
    }
    line.taken = length - rest.size();
    return line;
}

std::array<std::uint8_t, kLineLength> EncodeTextLine(std::string_view utf8, CodePage page) {
    return EncodeLine(utf8, page).bytes;
}

}  // namespace vyx::protocol
