#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "sim/DisplaySim.h"

namespace vyx::sim {

// The character set in which the display shows a font set: an iconv name, or
// "JIS_X0201" for Katakana. Font sets without a known code page show as CP437.
std::string CodePageOf(std::uint8_t fontSet);

// Raw cells as the terminal shows them, in UTF-8, one column per cell: control codes as
// a middle dot, bytes without a character in the code page as '?'.
std::string DecodeCells(std::span<const std::uint8_t> cells, std::uint8_t fontSet);

// Name of a list entry for the status line, or the value in hexadecimal when the list
// has no such entry.
std::string CommandSetName(std::uint8_t value);
std::string FontSetName(std::uint8_t value);
std::string LanguageName(std::uint8_t value);

struct ScreenInfo {
    std::string_view where;  // the link or device the host opens
    bool hostOpen = false;
    std::uint64_t droppedUpdates = 0;  // drawings skipped while the terminal was blocked
};

// The whole drawing: the two lines in a frame, then three status lines, each ending
// with '\n'.
std::string RenderScreen(const DisplaySim& sim, const ScreenInfo& info);

}  // namespace vyx::sim
