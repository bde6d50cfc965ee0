#pragma once

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

}  // namespace vyx::cli
