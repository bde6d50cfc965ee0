// vyxctl's argument handling fed arbitrary command lines. The input is split at zero
// bytes into arguments after the program name. Every run checks that parsing ends in
// exactly one defined outcome: an invocation whose values lie in the ranges the commands
// rely on, or an exit status (0 for help and version, the usage status otherwise).
// The parser's output goes to a discarding stream, so only the fuzzer's own reports
// reach the terminal.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/Options.h"
#include "resources/Lists.h"

namespace {

using vyx::cli::Command;

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

class NullBuffer final : public std::streambuf {
  protected:
    int overflow(int c) override { return c == EOF ? 0 : c; }
};

int ListSize(Command command) {
    switch (command) {
        case Command::CommandSet:
            return static_cast<int>(vyx::resources::kCommandSetEntries.size());
        case Command::FontSet:
            return static_cast<int>(vyx::resources::kDefaultFontEntries.size());
        case Command::Language:
            return static_cast<int>(vyx::resources::kLanguageEntries.size());
        case Command::Baud:
            return static_cast<int>(vyx::resources::kBaudRates.size());
        default:
            return 1;
    }
}

bool KnownRate(std::uint32_t rate) {
    for (const std::uint32_t r : vyx::resources::kBaudRates) {
        if (r == rate) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    static NullBuffer discard;
    std::cout.rdbuf(&discard);
    std::cerr.rdbuf(&discard);
    // Port names must not resolve through the machine's own links.
    setenv("VYX_PORTS_DIR", "/nonexistent-vyx-ports", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"vyxctl"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() || size == 0) {
        args.push_back(current);
    }
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const vyx::cli::ParseOutcome outcome =
        vyx::cli::ParseCommandLine(static_cast<int>(args.size()), argv.data());
    if (!outcome.invocation) {
        Check(outcome.exitStatus == vyx::cli::kExitOk ||
              outcome.exitStatus == vyx::cli::kExitUsage);
        return 0;
    }
    Check(outcome.exitStatus == vyx::cli::kExitOk);
    const vyx::cli::Invocation& inv = *outcome.invocation;
    Check(KnownRate(inv.baud));
    Check(!inv.port.empty());
    Check(inv.timeout >= std::chrono::milliseconds(1) &&
          inv.timeout <= std::chrono::milliseconds(3600 * 1000));
    Check(inv.index >= 0 && inv.index < ListSize(inv.command));
    if (inv.command == Command::Download) {
        Check(inv.comNumber >= 1 && inv.comNumber <= 255);
    }
    if (inv.command == Command::Map || inv.command == Command::Unmap) {
        Check(inv.comName.rfind("COM", 0) == 0);
    }
    return 0;
}
