#include "cli/ComPortListing.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <tuple>

#include "resources/Lists.h"
#include "serial/ComName.h"

namespace vyx::cli {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// COMn by number first (0 sorts the other names after them), then by name.
auto SortKey(const ComPortRecord& record) {
    const int number = ComNumber(record.name);
    return std::make_tuple(number == 0, number, record.name);
}

void Fill(std::string& field, const std::string& value) {
    if (field.empty()) {
        field = value;
    }
}

nlohmann::json OrNull(const std::string& value) {
    return value.empty() ? nlohmann::json(nullptr) : nlohmann::json(value);
}

bool InDialog(const ComPortRecord& port) {
    const int number = ComNumber(port.name);
    return number >= 1 && number <= resources::kComPortCount;
}

}  // namespace

std::vector<ComPortRecord> MergedComPorts(const std::vector<ComPortRecord>& records) {
    std::vector<ComPortRecord> merged;
    for (const ComPortRecord& record : records) {
        if (record.name.empty()) {
            continue;
        }
        const std::string upper = Upper(record.name);
        // "com4" is COM4; a driver's own name keeps its spelling.
        const std::string name = ComNumber(upper) > 0 ? upper : record.name;
        const auto same = std::find_if(merged.begin(), merged.end(),
                                       [&](const auto& m) { return Upper(m.name) == upper; });
        if (same == merged.end()) {
            merged.push_back({name, record.device, record.friendlyName});
        } else {
            Fill(same->device, record.device);
            Fill(same->friendlyName, record.friendlyName);
        }
    }
    std::sort(merged.begin(), merged.end(),
              [](const auto& a, const auto& b) { return SortKey(a) < SortKey(b); });
    return merged;
}

std::string FormatComPorts(const std::string& origin, const std::vector<ComPortRecord>& ports) {
    std::string text = "COM ports (from " + origin + "):\n";
    bool beyondDialog = false;
    for (const ComPortRecord& port : ports) {
        std::string line = "  " + port.name;
        line.resize(std::max<std::size_t>(line.size() + 1, 9), ' ');
        line += port.friendlyName.empty() ? "(no name given)" : port.friendlyName;
        if (!port.device.empty()) {
            line += "  [" + port.device + "]";
        }
        if (!InDialog(port)) {
            line += " *";
            beyondDialog = true;
        }
        text += line + '\n';
    }
    if (ports.empty()) {
        text += "  (none)\n";
    }
    if (beyondDialog) {
        text += "* vyxctl --port opens it; the dialog lists COM1 to COM" +
                std::to_string(resources::kComPortCount) + " only\n";
    }
    return text;
}

std::string FormatComPortsJson(const std::string& origin, const std::vector<ComPortRecord>& ports) {
    nlohmann::json list = nlohmann::json::array();
    for (const ComPortRecord& port : ports) {
        list.push_back({{"name", port.name},
                        {"friendly_name", OrNull(port.friendlyName)},
                        {"device", OrNull(port.device)},
                        {"in_dialog", InDialog(port)}});
    }
    const nlohmann::json listing = {{"source", origin}, {"ports", list}};
    // Replace, not throw, on bytes that are not UTF-8: names come from drivers.
    return listing.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

}  // namespace vyx::cli
