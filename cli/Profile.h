#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/CodePage.h"
#include "protocol/Frame.h"

namespace vyx::cli {

// How a display should be set up: the index of an entry in each of the four lists
// (command-set, font-set, language, baud: the names `set` and `lists` use), and the
// text to leave on it.
struct Profile {
    int commandSet = 0;
    int fontSet = 0;
    int language = 0;
    int baud = 0;  // index into the five rates
    // The two lines, already encoded for the code page of `fontSet`; present when the
    // profile names line1 or line2 (the other line is then blank).
    std::optional<std::array<std::array<std::uint8_t, protocol::kLineLength>, 2>> lines;
    // The rate --probe tries first (an index into the five rates).
    std::optional<int> probeFirst;

    // The index of the list `name` ("command-set", "font-set", "language", "baud").
    int IndexOf(std::string_view name) const;
};

// The profile a text holds, or the reason it holds none: "FILE:LINE: reason", one line.
struct ProfileRead {
    std::optional<Profile> profile;
    std::string error;
};

// Reads a profile from TOML text; `fileName` only names it in the error. Keys:
//   command-set, font-set, language, baud  required; an index or a name as the command
//                                          line takes them (integer or string)
//   line1, line2                           optional text; each must fit the 20 bytes of
//                                          a line in the code page of the font set
//   probe-first                            optional rate for --probe to try first
// Anything else is refused. Pure: no file is read, nothing is printed.
ProfileRead ReadProfile(std::string_view text, std::string_view fileName);

// The code page the display shows a font set's lines in (CP437 for a font set that
// names none).
protocol::CodePage LineCodePage(int fontSet);

// The display's current settings as a profile file: the four codes of an information
// reply, by entry name, with a comment per value. `port` and `version` go into the
// heading comment. Returns nullopt, with `problem` set, when a code names no entry.
std::optional<std::string> ProfileTextOf(std::span<const std::uint8_t> reply,
                                         const std::string& port, std::string& problem);

}  // namespace vyx::cli
