#include "protocol/Report.h"

#include <cstdio>
#include <vector>

namespace vyx::protocol {

namespace {

std::uint8_t At(std::span<const std::uint8_t> reply, std::size_t pos) {
    return pos < reply.size() ? reply[pos] : 0;
}

// "%2X": upper-case hexadecimal, at least two wide, blank-padded on the left.
void AppendHex(std::string& text, std::uint8_t byte) {
    char scratch[8];
    std::snprintf(scratch, sizeof scratch, "%2X", static_cast<unsigned>(byte));
    text += scratch;
}

}  // namespace

InformationFields ParseInformation(std::span<const std::uint8_t> reply, CodePage page) {
    InformationFields fields;
    // The text the version's bytes make once the zero bytes are dropped: a character of
    // two bytes may have a zero between its halves.
    std::vector<std::uint8_t> text;
    for (std::size_t pos = kVersionFirst; pos < kVersionFirst + kVersionLength; ++pos) {
        const std::uint8_t byte = At(reply, pos);
        if (byte != 0) {
            text.push_back(byte);
        }
    }
    fields.version = CodePageConverter(page).Decode(text);
    fields.commandSet = At(reply, kPosCommandSet);
    fields.defaultFont = At(reply, kPosDefaultFont);
    fields.language = At(reply, kPosLanguage);
    fields.baudRate = At(reply, kPosBaudRate);
    return fields;
}

std::string BuildInformationReport(std::span<const std::uint8_t> reply, CodePage page) {
    const InformationFields fields = ParseInformation(reply, page);
    std::string text = "\n\nVersion :\n";
    text += fields.version;
    text += "\n\nCommand Set :\n";
    AppendHex(text, fields.commandSet);
    text += "\n\nDefault Font :\n";
    AppendHex(text, fields.defaultFont);
    text += "\n\nLanguage :\n";
    AppendHex(text, fields.language);
    text += "\n\nBPS :\n";
    AppendHex(text, fields.baudRate);
    return text;
}

}  // namespace vyx::protocol
