#include "cli/Formatting.h"

#include <algorithm>
#include <cstdio>

#include "cli/ListArgument.h"
#include "protocol/Frame.h"
#include "protocol/Report.h"
#include "resources/Lists.h"

namespace vyx::cli {

namespace {

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFU);
    return text;
}

// "0x01 (1)" padded to the widest code, "0xFF (255)", so the names line up.
std::string CodeColumn(std::uint8_t code) {
    std::string text = "0x" + Hex2(code) + " (" + std::to_string(code) + ")";
    text.resize(std::max<std::size_t>(text.size(), 10), ' ');
    return text;
}

std::string Field(std::string_view label, const std::string& value) {
    std::string line(label);
    line.resize(std::max<std::size_t>(line.size(), 12), ' ');
    return line + "  " + value + "\n";
}

// A text line of a frame as far as ASCII shows it, the rest as \xNN.
std::string LineText(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '"') {
            text += static_cast<char>(byte);
        } else {
            text += "\\x" + Hex2(byte);
        }
    }
    return "\"" + text + "\"";
}

std::string SettingText(std::string_view listName, std::uint8_t code) {
    const ListInfo& list = *FindList(listName);
    return std::string(list.what) + " -> 0x" + Hex2(code) + " " + EntryLabel(list, code);
}

}  // namespace

std::string EscapeControls(std::string_view utf8) {
    std::string text;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(utf8[i]);
        const std::uint8_t next = i + 1 < utf8.size() ? static_cast<std::uint8_t>(utf8[i + 1]) : 0U;
        if (byte < 0x20 || byte == 0x7F) {
            text += "\\x" + Hex2(byte);
        } else if (byte == '\\') {
            text += "\\\\";
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            text += "\\u00" + Hex2(next);
            ++i;
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text;
}

std::string InformationText(std::span<const std::uint8_t> reply, protocol::CodePage page) {
    const protocol::InformationFields fields = protocol::ParseInformation(reply, page);
    std::string text = Field("version", EscapeControls(fields.version));
    const struct {
        std::string_view list;
        std::uint8_t code;
    } rows[] = {{"command-set", fields.commandSet},
                {"font-set", fields.defaultFont},
                {"language", fields.language},
                {"baud", fields.baudRate}};
    for (const auto& row : rows) {
        const ListInfo& list = *FindList(row.list);
        text += Field(list.what, CodeColumn(row.code) + "  " + EntryLabel(list, row.code));
    }
    return text;
}

std::string DescribeFrame(std::span<const std::uint8_t> bytes) {
    if (bytes.size() == protocol::kCellTestLength) {
        if (std::all_of(bytes.begin(), bytes.end(),
                        [](auto b) { return b == protocol::kCellBlank; })) {
            return "cell test: blank";
        }
        if (std::all_of(bytes.begin(), bytes.end(),
                        [](auto b) { return b == protocol::kCellBlock; })) {
            return "cell test: block";
        }
    }
    if (bytes.size() < protocol::kFrameOverhead + 1 || bytes[0] != protocol::STX ||
        bytes[1] + protocol::kFrameOverhead != bytes.size()) {
        return "not a frame";
    }
    const auto data = bytes.subspan(3, bytes[1] - 1U);
    const std::uint8_t value = data.empty() ? 0 : data[0];
    switch (bytes[2]) {
        case protocol::CMD_INFORMATION:
            return "information query";
        case protocol::CMD_DOWNLOAD:
            return "download mode";
        case protocol::CMD_TEXT:
            if (data.size() == 2 * protocol::kLineLength) {
                return "text " + LineText(data.first(protocol::kLineLength)) + " " +
                       LineText(data.subspan(protocol::kLineLength));
            }
            break;
        case protocol::CMD_BAUD_RATE:
            return SettingText("baud", value);
        case protocol::CMD_COMMAND_SET:
            return SettingText("command-set", value);
        case protocol::CMD_DEFAULT_FONT:
            return SettingText("font-set", value);
        case protocol::CMD_LANGUAGE:
            return SettingText("language", value);
        default:
            break;
    }
    return "unknown command 0x" + Hex2(bytes[2]);
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += (text.empty() ? "" : " ") + Hex2(byte);
    }
    return text;
}

std::string TraceLines(std::chrono::microseconds timeOfDay, char direction,
                       std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kPerLine = 16;
    const auto micros = static_cast<long long>(timeOfDay.count());
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02lld:%02lld:%02lld.%06lld", micros / 3'600'000'000 % 24,
                  micros / 60'000'000 % 60, micros / 1'000'000 % 60, micros % 1'000'000);
    std::string text;
    for (std::size_t first = 0; first < bytes.size(); first += kPerLine) {
        const auto part = bytes.subspan(first, std::min(kPerLine, bytes.size() - first));
        std::string ascii;
        for (const std::uint8_t byte : part) {
            ascii += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
        }
        text += std::string(stamp) + " " + direction + " " + HexBytes(part) + "  " + ascii + "\n";
    }
    return text;
}

}  // namespace vyx::cli
