#pragma once

#include <array>

namespace vyx::cli {

// Exit statuses of vyxctl; scripts rely on these numbers.
constexpr int kExitOk = 0;
constexpr int kExitOutputError = 1;     // standard output could not be written
constexpr int kExitUsage = 2;           // bad command line; the usage line is printed
constexpr int kExitPortNotOpened = 3;   // the serial port could not be opened
constexpr int kExitNoReply = 4;         // no complete information reply in time
constexpr int kExitFileNotWritten = 5;  // config.data (or a port link) could not be written
constexpr int kExitVerifyMismatch = 6;  // the display reports another value than was set
constexpr int kExitNotSent = 7;         // the bytes did not all reach the port
constexpr int kExitToolNotStarted = 8;  // download: the programming tool could not be started

// A run on several ports exits with the worst of its ports' statuses, most severe first:
//   2 usage, 3 not opened, 7 not sent, 4 no reply, 6 another value, 8 tool not started,
//   5 file not written, 1 standard output, 0 success.
// The less of the work a port got done, the worse: a display that could not be reached
// at all is worse than one whose bytes went out partly, that worse than one that did not
// answer, and that worse than one that answered with another value. Standard output
// ranks low, as for one port: a command's own failure says more than the lost output.
constexpr std::array<int, 9> kExitSeverity = {
    kExitUsage,          kExitPortNotOpened,  kExitNotSent,     kExitNoReply, kExitVerifyMismatch,
    kExitToolNotStarted, kExitFileNotWritten, kExitOutputError, kExitOk,
};

// The rank of a status in kExitSeverity (0 the most severe); a status not listed ranks
// with usage, so that it is never hidden behind a known one.
constexpr std::size_t ExitSeverityRank(int status) {
    for (std::size_t rank = 0; rank < kExitSeverity.size(); ++rank) {
        if (kExitSeverity[rank] == status) {
            return rank;
        }
    }
    return 0;
}

// The more severe of two exit statuses.
constexpr int WorseExitStatus(int a, int b) {
    return ExitSeverityRank(b) < ExitSeverityRank(a) ? b : a;
}

}  // namespace vyx::cli
