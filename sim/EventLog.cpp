#include "sim/EventLog.h"

#include <cstdio>

#include "protocol/Frame.h"
#include "resources/Lists.h"

namespace vyx::sim {

namespace {

// A text line in quotes; bytes outside printable ASCII as \xNN.
std::string Quoted(std::span<const std::uint8_t> bytes) {
    std::string out = "\"";
    for (const std::uint8_t b : bytes) {
        if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
            out.push_back(static_cast<char>(b));
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned>(b));
            out += esc;
        }
    }
    return out + "\"";
}

std::string DescribeFrame(const Event& e) {
    std::string line = "frame ";
    line.push_back(static_cast<char>(e.command));
    const auto data = std::span<const std::uint8_t>(e.bytes);
    if (e.command == protocol::CMD_TEXT) {
        return line + " " + Quoted(data.first(DisplaySim::kLineLength)) + " " +
               Quoted(data.subspan(DisplaySim::kLineLength));
    }
    if (!data.empty()) {
        line += " " + HexBytes(data);
    }
    if (e.command == protocol::CMD_BAUD_RATE) {
        line += " -> " + std::to_string(resources::kBaudRates[data[0]]) + " bps";
    } else if (e.command == protocol::CMD_DOWNLOAD) {
        line += " -> download mode, waiting for the programming tool";
    }
    return line;
}

// "8N2", "7E1": data bits, parity, stop bits.
std::string FramingText(const Framing& f) {
    return std::to_string(f.dataBits) + (f.parity ? "P" : "N") + std::to_string(f.stopBits);
}

}  // namespace

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(b));
        if (!out.empty()) {
            out.push_back(' ');
        }
        out += hex;
    }
    return out;
}

std::string DescribeEvent(const Event& e, std::uint32_t listenRate) {
    switch (e.kind) {
        case EventKind::Frame:
            return DescribeFrame(e);
        case EventKind::Unknown:
            return std::string("unknown frame ") +
                   (e.command >= 0x20 && e.command < 0x7F
                        ? std::string(1, static_cast<char>(e.command))
                        : HexBytes(std::span(&e.command, 1))) +
                   (e.bytes.empty() ? "" : " " + HexBytes(e.bytes));
        case EventKind::Rejected:
            return "rejected " + HexBytes(e.bytes);
        case EventKind::Characters:
            return "chars " + HexBytes(e.bytes);
        case EventKind::Noise: {
            // The framing is named only when it is what made the bytes noise.
            const bool framed = e.framing != Framing{};
            return "noise " + std::to_string(e.bytes.size()) + " bytes at " +
                   std::to_string(e.lineRate) + " bps" +
                   (framed ? " " + FramingText(e.framing) : "") + ", listening at " +
                   std::to_string(listenRate) + " bps" + (framed ? " 8N1" : "");
        }
        case EventKind::Ignored:
            return "ignored " + std::to_string(e.bytes.size()) + " bytes in download mode";
    }
    return "event";
}

}  // namespace vyx::sim
