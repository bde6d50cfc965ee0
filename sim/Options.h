#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vyx::sim {

// Command line of vyx-display-sim.
struct Options {
    std::string link;                      // --link PATH: symbolic link to the pseudo-terminal
    int com = 0;                           // --com N: link COMN in the ports folder (0: none)
    bool replace = false;                  // --replace: take over an existing link, restore it
    bool ownTerminal = false;              // --own-terminal: the pty is our controlling tty
    std::uint32_t baud = 9600;             // --baud RATE: the listening rate
    bool pacing = true;                    // --no-pacing turns it off
    std::string firmwareVersion = "V1.0";  // --fw-version TEXT, cut to 12 bytes
    bool plain = false;                    // --plain: one log line per event, no drawing
    std::size_t replySplit = 0;            // --reply-split N: N bytes, a pause, the rest (0: off)
    int splitPauseMs = 100;                // --split-pause MS: the pause of --reply-split
    int replyDelayMs = 0;                  // --reply-delay MS: extra wait before a reply
    bool shortReply = false;               // --short-reply: 21 bytes instead of 22
    bool silent = false;                   // --silent: never reply
    std::size_t flood = 0;                 // --flood BYTES: junk sent once the host opens the line
    bool help = false;                     // --help
    bool version = false;                  // --version
};

// Parses the arguments after the program name. Returns 1, or 0 with `error` set to a
// one-line message naming the offending option.
int ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// The --help text.
std::string Usage();

}  // namespace vyx::sim
