#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "protocol/CodePage.h"

namespace vyx::protocol {

// The display's information reply, as far as the host reads it.
constexpr std::size_t kReplyMinimum = 22;  // complete when more than 21 bytes are queued
constexpr std::size_t kReplyBufferSize = 1024;
constexpr std::size_t kVersionFirst = 3;
constexpr std::size_t kVersionLength = 12;
constexpr std::size_t kPosCommandSet = 15;
constexpr std::size_t kPosDefaultFont = 16;
constexpr std::size_t kPosLanguage = 17;
constexpr std::size_t kPosBaudRate = 18;

struct InformationFields {
    std::string version;  // UTF-8: the nonzero bytes as text of the host's code page
    std::uint8_t commandSet = 0;
    std::uint8_t defaultFont = 0;
    std::uint8_t language = 0;
    std::uint8_t baudRate = 0;
};

// Reads the fields from a reply; positions the reply does not reach count as zero. The
// version's nonzero bytes are read as text of `page` (a byte without a character there
// shows as U+FFFD); zero bytes are skipped wherever they are.
InformationFields ParseInformation(std::span<const std::uint8_t> reply, CodePage page);

// The report text shown to the operator (UTF-8), lines separated by '\n':
// "\n\nVersion :\n<version>\n\nCommand Set :\n<%2X>\n\nDefault Font :\n<%2X>"
// "\n\nLanguage :\n<%2X>\n\nBPS :\n<%2X>", the version as ParseInformation reads it.
std::string BuildInformationReport(std::span<const std::uint8_t> reply, CodePage page);

}  // namespace vyx::protocol
