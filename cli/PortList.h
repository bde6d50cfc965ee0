#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vyx::cli {

// A port named for a run, with where it was named, for messages ("--port",
// "shop.txt:3").
struct NamedPort {
    std::string name;
    std::string origin;
};

// The ports a --ports-from file names, or why it cannot be used.
struct PortListRead {
    std::vector<NamedPort> ports;
    std::string error;  // empty when the file was read
};

// One COM name or device path a line. Spaces, tabs and a carriage return around a name
// are dropped; blank lines and lines whose first other character is '#' are skipped, so
// a list can be commented and spaced out. A '#' after a name is part of the name (and
// is refused later as no port name): device paths may hold one. `file` names the
// origin of each entry.
std::vector<NamedPort> ParsePortList(std::string_view text, const std::string& file);

// Reads and parses `path`; a missing or unreadable file gives the reason in `error`.
PortListRead ReadPortList(const std::string& path);

// Checks the ports of a run and puts COM names in upper case ("com4" means COM4).
// Returns the problem as a usage message, or an empty string:
// - a name that is neither COMn nor a device path;
// - two entries that lead to the same device (the same name twice, or a COM name and
//   the path it resolves to). Both are refused rather than run once: a repeated line in
//   a list of displays is most often a display typed twice and another one left out,
//   and two openings of one device at once would fight over it.
std::string CheckPorts(std::vector<NamedPort>& ports);

}  // namespace vyx::cli
