#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "protocol/CodePage.h"
#include "protocol/Frame.h"

namespace vyx::cli {

// How `text` chooses the code page of its lines (--encoding).
struct TextEncoding {
    enum class Kind {
        System,  // the system's code page, as the dialog sends its edit boxes
        Fixed,   // the code page given
        Auto,    // the code page of the display's current default font set
    };
    Kind kind = Kind::System;
    protocol::CodePage page = 0;  // Fixed only
};

// "auto", or a code page the platform converts, by number or name (1251, cp858,
// windows-1251, iso-8859-8, jis_x0201); nullopt for anything else.
std::optional<TextEncoding> ParseTextEncoding(std::string_view argument);

// The code page to encode for. `reply` is the display's information reply, needed for
// Auto only. A font set that names no code page is shown by the display as CP437; that
// is said on `notes`.
protocol::CodePage CodePageForText(const TextEncoding& encoding,
                                   std::span<const std::uint8_t> reply, std::ostream& notes);

// Line `number` (1 or 2) encoded for `page`; characters sent as "?" and text that was
// cut are told on `notes`, one line each.
std::array<std::uint8_t, protocol::kLineLength> EncodeLineTelling(const std::string& utf8,
                                                                  protocol::CodePage page,
                                                                  int number, std::ostream& notes);

}  // namespace vyx::cli
