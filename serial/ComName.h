#pragma once

#include <optional>
#include <string>

namespace vyx {

// Maps a port name to a device path on this platform; each platform has its own file.
// On POSIX systems "COMn" (n >= 1) resolves, in order, to $VYX_PORTS_DIR/COMn when that
// variable is set and the entry exists, to ${XDG_CONFIG_HOME:-~/.config}/vyx-utility/
// ports/COMn when it exists (a link to the device), otherwise to /dev/ttyS(n-1); a name
// containing '/' is a device path and is returned unchanged. On Windows "COMn" is the
// native name \\.\COMn, and a name containing a backslash or '/' (Windows takes both
// as separators) is a device path returned unchanged. Anything else (e.g. "COM0",
// "COMx") has no device: std::nullopt.
std::optional<std::string> ResolvePortName(const std::string& name);

// The folder in which COMn links are looked up and created: $VYX_PORTS_DIR when set,
// else ${XDG_CONFIG_HOME:-~/.config}/vyx-utility/ports.
std::string PortsDirectory();

// Parses "COMn" (n 1..255, no blanks); returns n or 0 when the name is not of that form.
int ComNumber(const std::string& name);

}  // namespace vyx
