#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/Completion.h"
#include "cli/TextEncoding.h"

namespace vyx::cli {

enum class Command {
    Info,
    Text,
    Baud,
    CommandSet,
    FontSet,
    Language,
    CellTest,
    Download,
    Probe,
    Ports,
    Map,
    Unmap,
    Set,
    Lists,
    Completion,
    Apply,
    ProfileSave,
};

// Everything the command line asked for, validated: list indices are in range, the
// rate is one of the five, the port name resolves to a device.
struct Invocation {
    std::string port = "COM4";  // "COMn" or a device path: the port this run talks to
    // Every port named (--port, --ports-from), in order; one for most runs. With several,
    // each port's run gets a copy of the invocation with `port` set to it.
    std::vector<std::string> ports = {"COM4"};
    std::uint32_t baud = 9600;  // the rate the display listens at
    bool baudGiven = false;     // --baud was on the command line (probe tries it first)
    Command command = Command::Info;

    bool json = false;  // info, ports, apply
    // info, --verify: the whole wait; probe: the wait at each rate. Kept to the
    // microsecond, so the wait told is the wait used.
    std::chrono::microseconds timeout{2'000'000};
    bool timeoutGiven = false;  // probe: else the wait follows from each rate
    std::string line1, line2;   // text (UTF-8)
    TextEncoding encoding;      // text
    int index = 0;              // baud, command-set, font-set, language
    bool verify = false;        // baud, command-set, font-set, language
    bool block = false;         // cell-test: block (true) or blank
    bool noTool = false;        // download
    int comNumber = 0;          // download: COM number the record names (1-20)
    std::string comName;        // map, unmap: "COMn"
    std::string device;         // map: a path ("ttyUSB0" is taken as /dev/ttyUSB0)
    std::string shell;          // completion: bash, zsh or fish
    bool report = false;        // info: the dialog's report text
    bool clear = false;         // probe: blank the display once the rate is found
    std::string listName;       // lists: one list only ("" all)
    std::string profilePath;    // apply: the profile to read; profile save: the file written
    bool check = false;         // apply: compare only
    bool probe = false;         // apply: find the display's rate first
    // set: (list name, index) in the order sent, the baud rate last.
    std::vector<std::pair<std::string, int>> settings;

    bool quiet = false;    // no line saying what was set
    bool verbose = false;  // -v: the steps on standard error
    bool trace = false;    // --trace, -vv: every byte on standard error
    bool dryRun = false;   // print the frames, open nothing
};

// The commands that run on several ports at once (one thread per port).
bool TakesSeveralPorts(Command command);
// Their names, for the usage error of another command given several ports.
constexpr const char* kSeveralPortsCommands = "info, set, text and apply";

// The usage line printed with every usage error.
constexpr const char* kUsageLine = "Usage: vyxctl [--port NAME] [--baud RATE] COMMAND [ARGS]";

// Parses argv. Returns the invocation to run, or the exit status when the program ends
// here: 0 after --help, `help` or --version (printed on standard output), kExitUsage
// after a usage error (message and usage line on standard error; without a command,
// the command list as well).
struct ParseOutcome {
    std::optional<Invocation> invocation;
    int exitStatus = 0;
};
ParseOutcome ParseCommandLine(int argc, char** argv);

// The commands and options ParseCommandLine knows, for the shells' completion.
CompletionModel CommandLineCompletionModel();

}  // namespace vyx::cli
