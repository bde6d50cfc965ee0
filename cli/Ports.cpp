#include "cli/Ports.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <system_error>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/Output.h"
#include "cli/SerialDevices.h"
#include "resources/Lists.h"
#include "serial/ComName.h"

namespace vyx::cli {

namespace fs = std::filesystem;

namespace {

std::string WithTarget(const fs::path& path) {
    std::error_code error;
    const fs::path target = fs::read_symlink(path, error);
    return error ? path.string() : path.string() + " -> " + target.string();
}

// Eight hex digits, so that two maps at once do not share a temporary name.
std::string RandomSuffix() {
    std::random_device random;
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(random()));
    return text;
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

}  // namespace

int ListPorts(std::ostream& out) {
    out << "Ports folder: " << PortsDirectory() << '\n';
    for (int n = 1; n <= resources::kComPortCount; ++n) {
        const std::string name = "COM" + std::to_string(n);
        const std::string device = ResolvePortName(name).value_or("");
        std::error_code error;
        const bool present = fs::exists(device, error);
        out << Padded(name, 6) << Padded(WithTarget(device), 40) << ' '
            << (present ? "present" : "missing") << '\n';
    }
    out << "Serial devices present:\n";
    const std::vector<std::string> devices = SerialDevicesPresent();
    for (const std::string& device : devices) {
        out << "  " << WithTarget(device) << '\n';
    }
    if (devices.empty()) {
        out << "  (none)\n";
    }
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
    std::cout << comName << " -> " << target.string() << " (" << link.string() << ")\n";
    if (!fs::exists(target, error)) {
        std::cout << "note: " << target.string() << " does not exist now; " << comName
                  << " will open once it does\n";
    }
    return kExitOk;
}

int UnmapPort(const std::string& comName) {
    const fs::path link = fs::path(PortsDirectory()) / comName;
    std::error_code error;
    if (!fs::is_symlink(link, error)) {
        std::cout << comName << " has no link in " << PortsDirectory() << '\n';
        return kExitOk;
    }
    if (!fs::remove(link, error)) {
        Fail(link.string() + ": cannot remove the link: " + error.message());
        return kExitFileNotWritten;
    }
    std::cout << comName << " unmapped; it resolves to " << ResolvePortName(comName).value_or("")
              << " now\n";
    return kExitOk;
}

}  // namespace vyx::cli
