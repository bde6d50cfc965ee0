// The text-line encoder and the text frame fed arbitrary operator text: broken and
// overlong UTF-8, surrogates, NUL characters, control characters, text of any length.
// Every run checks that a line is 20 bytes of Windows-1252 without a zero byte, that
// plain ASCII goes out as it is, that the encoder never produces more characters than
// the input has bytes, and that the frame around two such lines is well formed.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/Frame.h"

namespace {

namespace proto = vyx::protocol;

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// Bytes of the input before its first NUL: each becomes at most one character on the
// line (a broken sequence becomes one '?', never one per byte and a bit).
std::size_t ByteBound(std::string_view text) {
    const std::size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text.size() : nul;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto line = proto::EncodeTextLine(input, proto::kWesternCodePage);
    Check(std::find(line.begin(), line.end(), std::uint8_t{0}) == line.end());

    // Printable ASCII before the first byte that is not goes out unchanged, then padding.
    std::size_t plain = 0;
    while (plain < input.size() && plain < proto::kLineLength && input[plain] >= 0x20 &&
           input[plain] < 0x7F) {
        Check(line[plain] == static_cast<std::uint8_t>(input[plain]));
        ++plain;
    }
    if (plain == input.size()) {
        for (std::size_t i = plain; i < proto::kLineLength; ++i) {
            Check(line[i] == ' ');
        }
    }
    // Padding starts where the encoded characters end: at most one byte per character.
    const std::size_t produced = std::min(ByteBound(input), proto::kLineLength);
    for (std::size_t i = produced; i < proto::kLineLength; ++i) {
        Check(line[i] == ' ');
    }

    // The input split in two lines, framed as "Input String" sends them.
    const std::size_t half = size / 2;
    const auto line2 = proto::EncodeTextLine(input.substr(half), proto::kWesternCodePage);
    std::array<std::uint8_t, proto::kMaxFrame + 8> frame{};
    const std::size_t n = proto::BuildTextFrame(frame, line, line2);
    Check(n == proto::kMaxFrame);
    Check(frame[0] == proto::STX && frame[1] == 41 && frame[2] == proto::CMD_TEXT);
    Check(std::equal(line.begin(), line.end(), frame.begin() + 3));
    Check(std::equal(line2.begin(), line2.end(), frame.begin() + 23));
    Check(frame[43] == proto::ETX);
    Check(static_cast<std::uint8_t>(proto::BCC(&frame[1], 43)) == frame[44]);
    for (std::size_t i = n; i < frame.size(); ++i) {
        Check(frame[i] == 0);  // nothing written past the frame
    }
    return 0;
}
