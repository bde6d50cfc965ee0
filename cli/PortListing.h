#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/SerialDevices.h"

namespace vyx::cli {

// A COM name and what it resolves to now.
struct ComMapping {
    std::string name;      // "COM3"
    std::string resolved;  // the path ResolvePortName gives ("/dev/ttyS2", a link, ...)
    std::string link;      // what that path links to, when it is a link
    std::string device;    // the node it leads to, every link followed; empty: nothing
};

// A serial device as `vyxctl ports` shows it.
struct ListedPort {
    SerialDeviceRecord record;
    std::vector<std::string> comNames;  // the COM names that lead to it
};

// The records that are real serial ports, sorted naturally ("ttyS2" before "ttyS10"),
// each with the COM names whose target is its device or its by-id name. A serial8250
// port whose UART type is 0 ("unknown") is a device node with nothing behind it.
std::vector<ListedPort> ListedPorts(std::vector<SerialDeviceRecord> records,
                                    const std::vector<ComMapping>& mappings);

// The listing as text: the origin, one block per port, then the COM names.
std::string FormatPorts(const std::string& origin, const std::vector<ListedPort>& ports,
                        const std::vector<ComMapping>& mappings, const std::string& portsFolder);

// The same as one JSON object (text, with a final newline).
std::string FormatPortsJson(const std::string& origin, const std::vector<ListedPort>& ports,
                            const std::vector<ComMapping>& mappings,
                            const std::string& portsFolder);

// The stable /dev/serial/by-id name of `device` ("/dev/ttyUSB0"), when one is known
// and differs from it.
std::optional<std::string> StableNameOf(const std::vector<SerialDeviceRecord>& records,
                                        const std::string& device);

}  // namespace vyx::cli
