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

struct RecordOutcome {
    RecordWrite result = RecordWrite::NotOpened;
    bool missing = false;  // NotOpened because `path` does not exist at all
    std::string error;     // "call: reason" unless Written
};

// Opens an existing `path` for reading and writing (never creates, never truncates),
// holds it exclusively while open, writes the record at offset 0 and closes it. A file
// another program holds with flock or with a POSIX record lock (fcntl, lockf) is not
// opened; on Windows the file is opened without sharing, so one that another program has
// open at all is not. Implemented per platform (protocol/posix/, protocol/win32/).
RecordOutcome WriteRecordFile(const std::string& path,
                              const std::array<std::uint8_t, kRecordLength>& record);

// The same, with the reason in `error` (may be nullptr).
RecordWrite WriteDownloadRecord(const std::string& path,
                                const std::array<std::uint8_t, kRecordLength>& record,
                                std::string* error);

// Where the started tool's standard output and error go.
enum class ToolOutput {
    Inherited,  // ours, as the dialog starts it
    Discarded,  // /dev/null (NUL): a caller capturing our output does not wait for the tool
};

// Starts `program` (looked up through PATH, never the current directory unless PATH
// names it) without arguments and without a shell; does not wait for it, and reaps it
// when it ends so that it leaves no zombie. On Windows it is started as WinExec would:
// by the system's search order (the program's folder and the current one before PATH),
// shown. Returns true when the child was started.
// When it was not, the reason goes to `error`, or to standard error when that is nullptr.
bool StartProgram(const std::string& program, std::string* error = nullptr,
                  ToolOutput output = ToolOutput::Inherited);

}  // namespace vyx::protocol
