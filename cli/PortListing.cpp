#include "cli/PortListing.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <utility>

namespace vyx::cli {

namespace {

// "ttyS10" after "ttyS9": compare the text before the trailing number, then the number.
bool NaturalLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& s) {
        std::size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1])) != 0) {
            --digits;
        }
        const std::string tail = s.substr(digits);
        return std::make_pair(s.substr(0, digits), tail.size() > 9 ? 0UL : std::stoul("0" + tail));
    };
    return split(a) < split(b);
}

// An 8250-family node exists for every port the driver reserves (ttyS0 to ttyS31 on a
// PC); only those where a UART answered the probe have a type other than 0.
bool HasNoUart(const SerialDeviceRecord& record) {
    return record.uartType == "0" || record.uartType == "unknown";
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ", ") + name;
    }
    return joined;
}

void AddField(std::string& text, const char* label, const std::string& value) {
    if (!value.empty()) {
        text += "    " + Padded(label, 14) + value + '\n';
    }
}

std::string UsbId(const SerialDeviceRecord& record) {
    if (record.vendorId.empty() && record.productId.empty()) {
        return {};
    }
    return record.vendorId + ":" + record.productId;
}

nlohmann::json OrNull(const std::string& value) {
    return value.empty() ? nlohmann::json(nullptr) : nlohmann::json(value);
}

}  // namespace

std::vector<ListedPort> ListedPorts(std::vector<SerialDeviceRecord> records,
                                    const std::vector<ComMapping>& mappings) {
    std::erase_if(records, HasNoUart);
    std::sort(records.begin(), records.end(),
              [](const SerialDeviceRecord& a, const SerialDeviceRecord& b) {
                  return NaturalLess(a.device, b.device);
              });
    std::vector<ListedPort> ports;
    for (SerialDeviceRecord& record : records) {
        ListedPort port{std::move(record), {}};
        for (const ComMapping& mapping : mappings) {
            const bool leadsHere =
                (!mapping.device.empty() && mapping.device == port.record.device) ||
                mapping.resolved == port.record.device ||
                (!port.record.byId.empty() && mapping.resolved == port.record.byId);
            if (leadsHere) {
                port.comNames.push_back(mapping.name);
            }
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

std::string FormatPorts(const std::string& origin, const std::vector<ListedPort>& ports,
                        const std::vector<ComMapping>& mappings, const std::string& portsFolder) {
    std::string text = "Serial devices (from " + origin + "):\n";
    for (const ListedPort& port : ports) {
        const SerialDeviceRecord& r = port.record;
        text += "  " + r.device;
        if (!r.heldBy.empty()) {
            text += "  [in use by " + r.heldBy + "]";
        }
        text += '\n';
        AddField(text, "by-id", r.byId);
        AddField(text, "driver", r.driver);
        AddField(text, "usb id", UsbId(r));
        AddField(text, "manufacturer", r.manufacturer);
        AddField(text, "product", r.product);
        AddField(text, "serial number", r.serialNumber);
        AddField(text, "COM names", Joined(port.comNames));
    }
    if (ports.empty()) {
        text += "  (none)\n";
    }
    text += "COM names (ports folder " + portsFolder + "):\n";
    for (const ComMapping& mapping : mappings) {
        const std::string path =
            mapping.link.empty() ? mapping.resolved : mapping.resolved + " -> " + mapping.link;
        text += Padded(mapping.name, 6) + Padded(path, 40) + ' ' +
                (mapping.device.empty() ? "missing" : "present") + '\n';
    }
    return text;
}

std::string FormatPortsJson(const std::string& origin, const std::vector<ListedPort>& ports,
                            const std::vector<ComMapping>& mappings,
                            const std::string& portsFolder) {
    nlohmann::json devices = nlohmann::json::array();
    for (const ListedPort& port : ports) {
        const SerialDeviceRecord& r = port.record;
        devices.push_back({{"device", r.device},
                           {"by_id", OrNull(r.byId)},
                           {"driver", OrNull(r.driver)},
                           {"usb_vendor_id", OrNull(r.vendorId)},
                           {"usb_product_id", OrNull(r.productId)},
                           {"manufacturer", OrNull(r.manufacturer)},
                           {"product", OrNull(r.product)},
                           {"serial_number", OrNull(r.serialNumber)},
                           {"in_use", !r.heldBy.empty()},
                           {"held_by", OrNull(r.heldBy)},
                           {"com_names", port.comNames}});
    }
    nlohmann::json coms = nlohmann::json::array();
    for (const ComMapping& mapping : mappings) {
        coms.push_back({{"name", mapping.name},
                        {"path", mapping.resolved},
                        {"link", OrNull(mapping.link)},
                        {"device", OrNull(mapping.device)},
                        {"present", !mapping.device.empty()}});
    }
    const nlohmann::json listing = {{"source", origin},
                                    {"ports_folder", portsFolder},
                                    {"devices", devices},
                                    {"com_names", coms}};
    // Replace, not throw, on bytes that are not UTF-8: names come from USB descriptors.
    return listing.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

std::optional<std::string> StableNameOf(const std::vector<SerialDeviceRecord>& records,
                                        const std::string& device) {
    for (const SerialDeviceRecord& record : records) {
        if (record.device == device && !record.byId.empty() && record.byId != device) {
            return record.byId;
        }
    }
    return std::nullopt;
}

}  // namespace vyx::cli
