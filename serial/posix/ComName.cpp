// COM names on POSIX systems: links in a ports folder, else the 8250-style /dev/ttyS.

#include "serial/ComName.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vyx {

namespace {

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string HomeDirectory() {
    std::string home = EnvOrEmpty("HOME");
    if (!home.empty()) {
        return home;
    }
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

std::string UserPortsDirectory() {
    std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
    if (config.empty()) {
        config = HomeDirectory() + "/.config";
    }
    return config + "/vyx-utility/ports";
}

// lstat, not stat: a link whose device is missing still names the port, and the open
// that follows then reports the device path that failed.
bool EntryExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string PortsDirectory() {
    const std::string dir = EnvOrEmpty("VYX_PORTS_DIR");
    return dir.empty() ? UserPortsDirectory() : dir;
}

std::optional<std::string> ResolvePortName(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const int n = ComNumber(name);
    if (n == 0) {
        return std::nullopt;
    }
    const std::string dir = EnvOrEmpty("VYX_PORTS_DIR");
    if (!dir.empty() && EntryExists(dir + "/" + name)) {
        return dir + "/" + name;
    }
    const std::string user = UserPortsDirectory() + "/" + name;
    if (EntryExists(user)) {
        return user;
    }
    return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace vyx
