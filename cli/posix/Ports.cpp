#include "cli/Ports.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>
#include <vector>

#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/Output.h"
#include "cli/PortListing.h"
#include "cli/SerialDevices.h"
#include "resources/Lists.h"
#include "serial/ComName.h"

namespace vyx::cli {

namespace fs = std::filesystem;

namespace {

// COM1 to COM20 and where each leads now.
std::vector<ComMapping> ComMappings() {
    std::vector<ComMapping> mappings;
    for (int n = 1; n <= resources::kComPortCount; ++n) {
        ComMapping mapping;
        mapping.name = "COM" + std::to_string(n);
        mapping.resolved = ResolvePortName(mapping.name).value_or("");
        std::error_code error;
        const fs::path link = fs::read_symlink(mapping.resolved, error);
        mapping.link = error ? "" : link.string();
        const fs::path device = fs::canonical(mapping.resolved, error);
        mapping.device = error ? "" : device.string();
        mappings.push_back(std::move(mapping));
    }
    return mappings;
}

// Eight hex digits, so that two maps at once do not share a temporary name.
std::string RandomSuffix() {
    std::random_device random;
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(random()));
    return text;
}

}  // namespace

int ListPorts(std::ostream& out, bool json) {
    const std::unique_ptr<SerialDeviceSource> source = SystemSerialDevices();
    const std::vector<ComMapping> mappings = ComMappings();
    const std::vector<ListedPort> ports = ListedPorts(source->Devices(), mappings);
    out << (json ? FormatPortsJson(source->Origin(), ports, mappings, PortsDirectory())
                 : FormatPorts(source->Origin(), ports, mappings, PortsDirectory()));
    return kExitOk;
}

int MapPort(const std::string& comName, const std::string& device) {
    const fs::path folder = PortsDirectory();
    const fs::path link = folder / comName;
    std::error_code error;
    const fs::path target = fs::absolute(device, error);
    fs::create_directories(folder, error);
    if (error) {
        Fail(folder.string() + ": cannot create the ports folder: " + error.message());
        return kExitFileNotWritten;
    }
    if (fs::exists(fs::symlink_status(link, error)) && !fs::is_symlink(link, error)) {
        Fail(link.string() + ": exists and is not a link; not replaced");
        return kExitFileNotWritten;
    }
    // The new link is made under a temporary name and renamed over the old one, which
    // rename replaces atomically: a failure on the way leaves the old link as it was.
    const fs::path temporary = folder / ("." + comName + ".new-" + RandomSuffix());
    fs::create_symlink(target, temporary, error);
    if (error) {
        Fail(link.string() + ": cannot create the link: " + error.message());
        return kExitFileNotWritten;
    }
    fs::rename(temporary, link, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        Fail(link.string() + ": cannot replace the link: " + error.message());
        return kExitFileNotWritten;
    }
    Out() << comName << " -> " << target.string() << " (" << link.string() << ")\n";
    if (!fs::exists(target, error)) {
        Out() << "note: " << target.string() << " does not exist now; " << comName
              << " will open once it does\n";
    }
    // ttyUSB0 and ttyACM0 are numbered in plug order; the by-id name follows the device.
    const auto stable = StableNameOf(SystemSerialDevices()->Devices(), target.string());
    if (stable) {
        Out() << "note: " << target.string() << " may name another device after the next "
              << "plug-in; `vyxctl map " << comName << ' ' << *stable << "` follows this one\n";
    }
    return kExitOk;
}

std::string PortNamingHelp() {
    return "COMn resolves to $VYX_PORTS_DIR/COMn, else\n"
           "${XDG_CONFIG_HOME:-~/.config}/vyx-utility/ports/COMn, else /dev/ttyS(n-1); see\n"
           "`vyxctl ports` and `vyxctl map`.\n";
}

int UnmapPort(const std::string& comName) {
    const fs::path link = fs::path(PortsDirectory()) / comName;
    std::error_code error;
    if (!fs::is_symlink(link, error)) {
        Out() << comName << " has no link in " << PortsDirectory() << '\n';
        return kExitOk;
    }
    if (!fs::remove(link, error)) {
        Fail(link.string() + ": cannot remove the link: " + error.message());
        return kExitFileNotWritten;
    }
    Out() << comName << " unmapped; it resolves to " << ResolvePortName(comName).value_or("")
          << " now\n";
    return kExitOk;
}

}  // namespace vyx::cli
