#include "cli/Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string_view>

#include "cli/ExitStatus.h"
#include "protocol/Report.h"
#include "resources/Lists.h"

namespace vyx::cli {

namespace {

std::string JsonName(std::span<const std::string_view> entries, std::uint8_t code) {
    const auto entry = resources::EntryAt(entries, code);
    return entry ? JsonString(std::string(*entry)) : "null";
}

std::string JsonBaudRate(std::uint8_t code) {
    return code < resources::kBaudRates.size() ? std::to_string(resources::kBaudRates[code])
                                               : "null";
}

}  // namespace

std::string ReportText(std::span<const std::uint8_t> reply) {
    return protocol::BuildInformationReport(reply, protocol::SystemCodePage()) + "\n";
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string InformationJson(std::span<const std::uint8_t> reply) {
    const protocol::InformationFields fields =
        protocol::ParseInformation(reply, protocol::SystemCodePage());
    std::string json = "{\"version\": " + JsonString(fields.version);
    json += ", \"command_set\": " + std::to_string(fields.commandSet);
    json += ", \"default_font\": " + std::to_string(fields.defaultFont);
    json += ", \"language\": " + std::to_string(fields.language);
    json += ", \"baud_rate\": " + std::to_string(fields.baudRate);
    json += ", \"command_set_name\": " + JsonName(resources::kCommandSetEntries, fields.commandSet);
    json +=
        ", \"default_font_name\": " + JsonName(resources::kDefaultFontEntries, fields.defaultFont);
    json += ", \"language_name\": " + JsonName(resources::kLanguageEntries, fields.language);
    json += ", \"baud_rate_bps\": " + JsonBaudRate(fields.baudRate);
    return json + "}\n";
}

int FinishStandardOutput(int status) {
    errno = 0;
    std::cout.flush();
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && std::cout.good() && std::ferror(stdout) == 0) {
        return status;
    }
    // The reason is known when the failing write was the final flush; an earlier one
    // leaves only the stream's error flag.
    const int err = errno;
    Fail(std::string("cannot write standard output: ") +
         (err != 0 ? std::strerror(err) : "write error"));
    return status == kExitOk ? kExitOutputError : status;
}

void Fail(const std::string& message, const std::string& hint) {
    std::cerr << "vyxctl: " << message << '\n';
    if (!hint.empty()) {
        std::cerr << hint << '\n';
    }
}

}  // namespace vyx::cli
