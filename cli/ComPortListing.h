#pragma once

#include <string>
#include <vector>

namespace vyx::cli {

// A COM port as Windows reports it. Empty fields are unknown to the source.
struct ComPortRecord {
    std::string name;          // "COM4", or a driver's own name ("CNCA0")
    std::string device;        // the kernel device behind it, "\Device\Serial0"
    std::string friendlyName;  // "USB Serial Port (COM4)"
};

// One record per port name (names compared without regard to case, kept as COMn in
// capitals), the fields of records naming the same port merged (the registry knows the
// device, SetupAPI the friendly name). COMn first, by number ("COM2" before "COM10"),
// then other names alphabetically; records without a name are dropped.
std::vector<ComPortRecord> MergedComPorts(const std::vector<ComPortRecord>& records);

// `vyxctl ports` on Windows as text: the origin, then one line per port, and a note on
// the ports that the dialog cannot choose (it lists COM1 to COM20).
std::string FormatComPorts(const std::string& origin, const std::vector<ComPortRecord>& ports);

// The same as one JSON object (text, with a final newline).
std::string FormatComPortsJson(const std::string& origin, const std::vector<ComPortRecord>& ports);

}  // namespace vyx::cli
