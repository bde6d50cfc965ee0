#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vyx::protocol {

constexpr const char* kConfigFileName = "config.data";
constexpr const char* kProgrammingTool = "NuvoISP.exe";
constexpr std::size_t kRecordLength = 10;

// The settings record for the programming tool. `comIndex` is the zero-based index of
// the COM list entry (-1: none selected); offset 8 is 0x30 + comIndex, low 8 bits.
std::array<std::uint8_t, kRecordLength> BuildDownloadRecord(int comIndex);

enum class RecordWrite {
    Written,      // the record is at offset 0 of the file
    NotOpened,    // the file does not exist or could not be opened (never created)
    WriteFailed,  // opened, but positioning or writing failed; `error` says why
};

// Opens an existing `path` for reading and writing (never creates, never truncates),
// holds it exclusively while open, writes the record at offset 0 and closes it.
RecordWrite WriteDownloadRecord(const std::string& path,
                                const std::array<std::uint8_t, kRecordLength>& record,
                                std::string* error);

// Starts `program` (looked up through PATH, never the current directory unless PATH
// names it) without arguments and without a shell; does not wait for it, and reaps it
// when it ends so that it leaves no zombie. Returns true when the child was started.
bool StartProgram(const std::string& program);

}  // namespace vyx::protocol
