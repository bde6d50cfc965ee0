#include "protocol/Download.h"

#include <utility>

namespace vyx::protocol {

namespace {

// Byte 9 ends the record with a carriage return. The tool is a Windows program whose
// text files end their lines with CR LF; in a file that already holds such a line
// ("U,0,S,1,3\r\n") the LF at offset 10 is kept, so the record stays a well-formed
// line, and in a fresh file the CR still ends the last comma-separated field.
constexpr std::uint8_t kRecordEnd = 0x0D;

}  // namespace

std::array<std::uint8_t, kRecordLength> BuildDownloadRecord(int comIndex) {
    return {0x55,      0x2C, 0x30,
            0x2C,      0x53, 0x2C,
            0x31,      0x2C, static_cast<std::uint8_t>((0x30 + comIndex) & 0xFF),
            kRecordEnd};
}

RecordWrite WriteDownloadRecord(const std::string& path,
                                const std::array<std::uint8_t, kRecordLength>& record,
                                std::string* error) {
    RecordOutcome outcome = WriteRecordFile(path, record);
    if (error != nullptr && outcome.result != RecordWrite::Written) {
        *error = std::move(outcome.error);
    }
    return outcome.result;
}

}  // namespace vyx::protocol
