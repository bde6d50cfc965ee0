#pragma once

#include <optional>
#include <string>

namespace vyx::cli {

// Who may open a device node, and whether this process is among them.
struct DeviceAccess {
    std::string owner;           // user name, or the number when it has none
    std::string group;           // group name, or the number
    unsigned mode = 0;           // permission bits (0660)
    bool inGroup = false;        // this process runs with the device's group
    bool listedInGroup = false;  // the group database lists this user in it (the
                                 // process may predate that: a new login picks it up)
};

// The owner, group and mode of `path` (links followed); std::nullopt when it cannot be
// read. Implemented per platform (cli/posix/DeviceAccess.cpp).
std::optional<DeviceAccess> LookUpDeviceAccess(const std::string& path);

// The hint line for a port at `path` that another program holds, with the platform's
// way of finding that program.
std::string BusyHint(const std::string& path);

}  // namespace vyx::cli
