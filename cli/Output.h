#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vyx::cli {

// The report text exactly as the dialog's box shows it, followed by one newline.
std::string ReportText(std::span<const std::uint8_t> reply);

// One JSON object (one line, newline-terminated): version, the four raw codes, and the
// list entry each code names (or null).
std::string InformationJson(std::span<const std::uint8_t> reply);

// Flushes standard output; when that or any earlier write to it failed, tells so on
// standard error. Returns `status`, or kExitOutputError for a failed output when
// `status` was success (a command's own failure status stands).
int FinishStandardOutput(int status);

// Prints "vyxctl: <message>" and, when given, the hint line on standard error.
void Fail(const std::string& message, const std::string& hint = {});

}  // namespace vyx::cli
