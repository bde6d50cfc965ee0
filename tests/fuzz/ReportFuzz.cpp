// The information report fed arbitrary replies: lying start bytes, lengths, commands and
// check bytes, short replies, replies far longer than the reply buffer. Besides the
// sanitizers (the reply is read only within its own bounds), every run checks the report
// line by line against the reply, and that the dialog's way of taking a reply (at most
// the reply buffer's 1024 bytes) gives the same report as the whole reply.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "protocol/Report.h"

namespace {

namespace proto = vyx::protocol;

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

std::uint8_t At(std::span<const std::uint8_t> reply, std::size_t pos) {
    return pos < reply.size() ? reply[pos] : 0;
}

std::string Hex(std::uint8_t byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%2X", static_cast<unsigned>(byte));
    return text;
}

// The report is read through ISO 8859-1, in which every byte is the character of its own
// value: the version line can then be rebuilt independently, each nonzero byte as that
// code point in UTF-8.
constexpr proto::CodePage kLatin1 = 28591;

// The version line rebuilt independently.
std::string ExpectedVersion(std::span<const std::uint8_t> reply) {
    std::string text;
    for (std::size_t pos = proto::kVersionFirst; pos < proto::kVersionFirst + proto::kVersionLength;
         ++pos) {
        const unsigned byte = At(reply, pos);
        if (byte == 0) {
            continue;
        }
        if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (const char c : text) {
        if (c == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> reply(data, size);
    const std::string report = proto::BuildInformationReport(reply, kLatin1);

    // A version byte may be a line feed, which splits line 4; everything after the
    // version is fixed in shape, so read the lines from the end.
    const std::string version = ExpectedVersion(reply);
    const std::string head = "\n\nVersion :\n" + version;
    Check(report.compare(0, head.size(), head) == 0);
    const std::vector<std::string> tail = Lines(report.substr(head.size()));
    const std::vector<std::string> expected = {"",
                                               "",
                                               "Command Set :",
                                               Hex(At(reply, proto::kPosCommandSet)),
                                               "",
                                               "Default Font :",
                                               Hex(At(reply, proto::kPosDefaultFont)),
                                               "",
                                               "Language :",
                                               Hex(At(reply, proto::kPosLanguage)),
                                               "",
                                               "BPS :",
                                               Hex(At(reply, proto::kPosBaudRate))};
    Check(tail == expected);
    for (std::size_t i = 3; i < tail.size(); i += 3) {
        Check(tail[i].size() == 2);
    }

    // The dialog keeps at most kReplyBufferSize bytes; the report must not depend on more.
    const std::size_t kept = std::min(size, proto::kReplyBufferSize);
    Check(proto::BuildInformationReport(reply.first(kept), kLatin1) == report);

    const proto::InformationFields fields = proto::ParseInformation(reply, kLatin1);
    Check(fields.version == version);
    Check(fields.commandSet == At(reply, proto::kPosCommandSet) &&
          fields.defaultFont == At(reply, proto::kPosDefaultFont) &&
          fields.language == At(reply, proto::kPosLanguage) &&
          fields.baudRate == At(reply, proto::kPosBaudRate));
    return 0;
}
