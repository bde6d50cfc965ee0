#include "protocol/Frame.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>

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
    } else if (lead >= 0xC2 && lead <= 0xDF) {
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

// One character to Windows-1252 through iconv; '?' when it has no single-byte form.
std::uint8_t ToWindows1252(iconv_t cd, std::string_view character) {
    char in[4];
    std::memcpy(in, character.data(), character.size());
    char* inPtr = in;
    std::size_t inLeft = character.size();
    char out[4];
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        sizeof out - outLeft != 1) {
        return '?';
    }
    return static_cast<std::uint8_t>(out[0]);
}

}  // namespace

std::array<std::uint8_t, kLineLength> EncodeTextLine(std::string_view utf8) {
    std::array<std::uint8_t, kLineLength> line;
    line.fill(' ');
    iconv_t cd = iconv_open("WINDOWS-1252", "UTF-8");
    std::size_t used = 0;
    while (!utf8.empty() && used < kLineLength && utf8[0] != '\0') {
        const std::size_t seq = Utf8SequenceLength(utf8);
        if (seq == 0) {
            line[used++] = '?';  // a broken sequence is one unrepresentable character
            utf8.remove_prefix(InvalidSequenceLength(utf8));
            continue;
        }
        const auto lead = static_cast<unsigned char>(utf8[0]);
        if (seq == 1) {
            line[used++] = lead;
        } else {
            line[used++] = cd == reinterpret_cast<iconv_t>(-1)
                               ? std::uint8_t{'?'}
                               : ToWindows1252(cd, utf8.substr(0, seq));
        }
        utf8.remove_prefix(seq);
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(cd);
    }
    return line;
}

}  // namespace vyx::protocol
