#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "protocol/CodePage.h"

namespace vyx::cli {

// Text from the display made safe for a terminal: control bytes (C0, DEL, and the C1
// characters U+0080 to U+009F) and the backslash come out as \xNN, \u00NN and \\, so a
// reply can never drive the terminal with an escape sequence.
std::string EscapeControls(std::string_view utf8);

// `info`'s default output: one line per field, the code in hex and decimal and the
// entry it names; the version as text of `page`, escaped.
//   version       V1.0
//   command set   0x01 (1)    EPSON POS D101
std::string InformationText(std::span<const std::uint8_t> reply, protocol::CodePage page);

// What a block of bytes on the line means: "information query", "command set -> 0x01
// EPSON POS D101", "text \"Total\" \"12.50\"", "cell test: block", ...
std::string DescribeFrame(std::span<const std::uint8_t> bytes);

// "02 01 44 03 46" (upper-case hex, one blank between bytes).
std::string HexBytes(std::span<const std::uint8_t> bytes);

// The trace of bytes on the wire: one line per 16 bytes, each
// "12:00:01.234567 > 02 01 44 03 46  ..D.F" (`direction` '>' sent, '<' received; the
// time of day as given; the ASCII column shows '.' for anything unprintable).
std::string TraceLines(std::chrono::microseconds timeOfDay, char direction,
                       std::span<const std::uint8_t> bytes);

}  // namespace vyx::cli
