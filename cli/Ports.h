#pragma once

#include <ostream>
#include <string>

namespace vyx::cli {

// The serial ports present, as text or one JSON object. On Linux the serial devices (from
// udev, else sysfs) with their stable names, USB details, holders and COM names, then
// COM1 to COM20 with the device each resolves to; on Windows the COM ports the system
// lists. Returns the exit status (always 0).
int ListPorts(std::ostream& out, bool json);

// Links `comName` ("COMn") to `device` in the ports folder ($VYX_PORTS_DIR, else the
// user's), replacing an earlier link. Returns 0, or kExitFileNotWritten after telling why.
// On Windows, where COM names are the system's, map and unmap are usage errors.
int MapPort(const std::string& comName, const std::string& device);

// Removes the link of `comName`; a name without a link is left as it is (status 0).
int UnmapPort(const std::string& comName);

// What COMn means on this platform and how to see the ports, for the help's footer
// (lines ending in a newline).
std::string PortNamingHelp();

}  // namespace vyx::cli
