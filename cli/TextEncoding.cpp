#include "cli/TextEncoding.h"

#include <cctype>

#include "protocol/Report.h"
#include "resources/Lists.h"

namespace vyx::cli {

std::optional<TextEncoding> ParseTextEncoding(std::string_view argument) {
    std::string lower(argument);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower == "auto") {
        return TextEncoding{TextEncoding::Kind::Auto, 0};
    }
    const auto page = protocol::ParseCodePage(argument);
    if (!page || !protocol::CodePageAvailable(*page)) {
        return std::nullopt;
    }
    return TextEncoding{TextEncoding::Kind::Fixed, *page};
}

protocol::CodePage CodePageForText(const TextEncoding& encoding,
                                   std::span<const std::uint8_t> reply, std::ostream& notes) {
    switch (encoding.kind) {
        case TextEncoding::Kind::Fixed:
            return encoding.page;
        case TextEncoding::Kind::System:
            return protocol::SystemCodePage();
        case TextEncoding::Kind::Auto:
            break;
    }
    const std::uint8_t fontSet =
        protocol::kPosDefaultFont < reply.size() ? reply[protocol::kPosDefaultFont] : 0;
    if (const auto page = protocol::FontSetCodePage(fontSet)) {
        return *page;
    }
    const auto name = resources::EntryAt(resources::kDefaultFontEntries, fontSet);
    notes << "vyxctl: the display's font set "
          << (name ? "\"" + std::string(*name) + "\"" : std::to_string(fontSet))
          << " names no code page; encoding for "
          << protocol::CodePageName(protocol::kFontSetFallback) << '\n';
    return protocol::kFontSetFallback;
}

std::array<std::uint8_t, protocol::kLineLength> EncodeLineTelling(const std::string& utf8,
                                                                  protocol::CodePage page,
                                                                  int number, std::ostream& notes) {
    const protocol::EncodedLine line = protocol::EncodeLine(utf8, page);
    const std::string where =
        "vyxctl: line " + std::to_string(number) + " (" + protocol::CodePageName(page) + "): ";
    if (line.replaced > 0) {
        notes << where << line.replaced
              << (line.replaced == 1 ? " character has" : " characters have")
              << " no form in the code page and went out as \"?\"\n";
    }
    if (line.cut) {
        notes << where << "cut to " << protocol::kLineLength << " bytes; left out: \""
              << utf8.substr(line.taken) << "\"\n";
    }
    return line.bytes;
}

}  // namespace vyx::cli
