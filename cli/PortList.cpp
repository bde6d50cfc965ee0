#include "cli/PortList.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "serial/ComName.h"

namespace vyx::cli {

namespace {

std::string_view Trimmed(std::string_view line) {
    constexpr std::string_view kBlanks = " \t\r";
    const auto first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The device a port leads to, as one spelling: links followed and the path made
// canonical where it exists, so COM4 and the path its link names compare equal.
std::string DeviceOf(const std::string& resolved) {
    std::error_code error;
    const auto canonical = std::filesystem::canonical(resolved, error);
    return error ? std::filesystem::path(resolved).lexically_normal().string() : canonical.string();
}

// "--port COM0" as today's message has it, "shop.txt:3: COM0" for a listed one.
std::string Where(const NamedPort& port) {
    return port.origin == "--port" ? "--port " + port.name : port.origin + ": " + port.name;
}

}  // namespace

std::vector<NamedPort> ParsePortList(std::string_view text, const std::string& file) {
    std::vector<NamedPort> ports;
    std::size_t number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        if (!line.empty() && line.front() != '#') {
            ports.push_back({std::string(line), file + ":" + std::to_string(number)});
        }
    }
    return ports;
}

PortListRead ReadPortList(const std::string& path) {
    PortListRead read;
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) {
        read.error = "--ports-from " + path + ": " + std::strerror(errno);
        return read;
    }
    std::string text;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        text.append(chunk, n);
    }
    // A folder opens, but reading it fails (EISDIR).
    if (std::ferror(file.get()) != 0) {
        read.error = "--ports-from " + path + ": " + std::strerror(errno);
        return read;
    }
    read.ports = ParsePortList(text, path);
    return read;
}

std::string CheckPorts(std::vector<NamedPort>& ports) {
    std::map<std::string, const NamedPort*> byDevice;
    for (NamedPort& port : ports) {
        if (ComNumber(UpperCase(port.name)) > 0) {
            port.name = UpperCase(port.name);
        }
        const auto resolved = ResolvePortName(port.name);
        if (!resolved) {
            return Where(port) + ": neither COMn (n from 1) nor a device path";
        }
        const std::string device = DeviceOf(*resolved);
        const auto [seen, added] = byDevice.emplace(device, &port);
        if (!added) {
            const NamedPort& first = *seen->second;
            return Where(first) + " and " + Where(port) + " lead to the same device (" + device +
                   "); name each display once";
        }
    }
    return {};
}

}  // namespace vyx::cli
