#include "cli/Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "protocol/Report.h"
#include "resources/Lists.h"

namespace vyx::cli {

namespace {

using Json = nlohmann::ordered_json;

// The list entry a code names, or null for a code beyond the list.
Json EntryName(std::span<const std::string_view> entries, std::uint8_t code) {
    const auto entry = resources::EntryAt(entries, code);
    return entry ? Json(std::string(*entry)) : Json(nullptr);
}

Json BaudRateBps(std::uint8_t code) {
    return code < resources::kBaudRates.size() ? Json(resources::kBaudRates[code]) : Json(nullptr);
}

}  // namespace

std::string ReportText(std::span<const std::uint8_t> reply) {
    return protocol::BuildInformationReport(reply, protocol::SystemCodePage()) + "\n";
}

std::string InformationJson(std::span<const std::uint8_t> reply) {
    const protocol::InformationFields fields =
        protocol::ParseInformation(reply, protocol::SystemCodePage());
    Json json;
    json["version"] = fields.version;
    json["command_set"] = fields.commandSet;
    json["default_font"] = fields.defaultFont;
    json["language"] = fields.language;
    json["baud_rate"] = fields.baudRate;
    json["command_set_name"] = EntryName(resources::kCommandSetEntries, fields.commandSet);
    json["default_font_name"] = EntryName(resources::kDefaultFontEntries, fields.defaultFont);
    json["language_name"] = EntryName(resources::kLanguageEntries, fields.language);
    json["baud_rate_bps"] = BaudRateBps(fields.baudRate);
    // Invalid UTF-8 would make dump() throw: such a byte becomes U+FFFD instead.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
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
    Err() << "vyxctl: " << message << '\n';
    if (!hint.empty()) {
        Err() << hint << '\n';
    }
}

}  // namespace vyx::cli
