#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/CodePage.h"

namespace vyx::protocol {

// Frame: STX LEN CMD DATA... ETX BCC. LEN counts CMD and DATA; BCC is the XOR of LEN
// through ETX. No escaping: data bytes equal to STX or ETX go out as they are.
constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t ETX = 0x03;
constexpr std::size_t kFrameOverhead = 4;        // STX, LEN, ETX, BCC
constexpr std::size_t kMaxData = 40;             // the text command
constexpr std::size_t kMaxFrame = kMaxData + 5;  // 45 bytes
constexpr std::size_t kMainTxBufferSize = kMaxFrame;
constexpr std::size_t kSecondTxBufferSize = 1024;
constexpr std::size_t kLineLength = 20;      // characters per display line
constexpr std::size_t kCellTestLength = 40;  // raw bytes of the cell test

// Command characters.
constexpr std::uint8_t CMD_TEXT = '2';
constexpr std::uint8_t CMD_BAUD_RATE = '3';
constexpr std::uint8_t CMD_COMMAND_SET = '4';
constexpr std::uint8_t CMD_DEFAULT_FONT = '5';
constexpr std::uint8_t CMD_LANGUAGE = '6';
constexpr std::uint8_t CMD_INFORMATION = 'D';
constexpr std::uint8_t CMD_DOWNLOAD = '@';

// Masks applied to a list index before it becomes the data byte.
constexpr int kCommandSetMask = 0x0F;
constexpr int kDefaultFontMask = 0x1F;
constexpr int kLanguageMask = 0x0F;

// Data of the download-mode command.
constexpr std::array<std::uint8_t, 2> kDownloadKey{0xAA, 0x55};
// Cell test patterns.
constexpr std::uint8_t kCellBlank = 0x20;
constexpr std::uint8_t kCellBlock = 0xDB;

// Block check: XOR of `count` bytes starting at `len` (a frame's LEN byte). The low
// byte of the result is the BCC. A count of zero or less yields 0.
int BCC(const std::uint8_t* len, std::int16_t count);

// Assembles STX, LEN, CMD, data, ETX, BCC at the start of `out` and returns the frame
// length (data.size() + 5), or 0 when `out` is too small or data exceeds kMaxData.
std::size_t BuildFrame(std::span<std::uint8_t> out, std::uint8_t cmd,
                       std::span<const std::uint8_t> data);

// One builder per command; each returns the number of bytes to send (0 if `out` is too
// small). The list index is taken as the dialog reads it (zero-based) and masked as the
// command requires; the baud-rate index goes out as its low byte, unmasked.
std::size_t BuildTextFrame(std::span<std::uint8_t> out,
                           const std::array<std::uint8_t, kLineLength>& line1,
                           const std::array<std::uint8_t, kLineLength>& line2);
std::size_t BuildBaudRateFrame(std::span<std::uint8_t> out, int index);
std::size_t BuildCommandSetFrame(std::span<std::uint8_t> out, int index);
std::size_t BuildDefaultFontFrame(std::span<std::uint8_t> out, int index);
std::size_t BuildLanguageFrame(std::span<std::uint8_t> out, int index);
std::size_t BuildInformationQuery(std::span<std::uint8_t> out);
std::size_t BuildDownloadModeFrame(std::span<std::uint8_t> out);
// The raw, unframed cell test: 40 blanks, or 40 full blocks when `block`.
std::size_t BuildCellTest(std::span<std::uint8_t> out, bool block);

// A display line encoded for a code page (CodePage.h): the text (UTF-8) character by
// character, one '?' per character that has no form in the code page (and per invalid
// UTF-8 sequence), up to 20 bytes, padded with blanks. A character of several bytes that
// does not fit whole is left out with everything after it. A NUL character ends the
// text, so a zero byte never goes out.
struct EncodedLine {
    std::array<std::uint8_t, kLineLength> bytes{};
    std::size_t replaced = 0;  // characters on the line that went out as '?'
    std::size_t taken = 0;     // bytes of the text that reached the line
    bool cut = false;          // text was left out for want of room
};
EncodedLine EncodeLine(std::string_view utf8, CodePage page);

// The bytes of EncodeLine alone.
std::array<std::uint8_t, kLineLength> EncodeTextLine(std::string_view utf8, CodePage page);

}  // namespace vyx::protocol
