// The profile reader fed arbitrary text: broken TOML, odd keys, values of every type,
// lines in any script. Besides the sanitizers, every run checks that the reader gives a
// profile or one error line (never both, never neither) that names the file and a line
// of the text, without a control character; that a profile holds indices within the
// lists and whole lines with no zero byte; and that a profile written back out (as
// indices, and as `profile save` writes a display's codes) reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/ListArgument.h"
#include "cli/Profile.h"
#include "protocol/InformationFrame.h"
#include "protocol/Report.h"

namespace {

namespace cli = vyx::cli;

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

constexpr std::string_view kFile = "fuzz.toml";
constexpr std::string_view kLists[] = {"command-set", "font-set", "language", "baud"};

void CheckError(const std::string& error, std::string_view text) {
    Check(error.compare(0, kFile.size() + 1, std::string(kFile) + ":") == 0);
    std::size_t pos = kFile.size() + 1;
    std::size_t line = 0;
    while (pos < error.size() && error[pos] >= '0' && error[pos] <= '9') {
        line = line * 10 + static_cast<std::size_t>(error[pos] - '0');
        ++pos;
    }
    Check(line >= 1);
    std::size_t lines = 1;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    Check(line <= lines);
    Check(error.compare(pos, 2, ": ") == 0 && error.size() > pos + 2);
    for (const char c : error) {
        const auto byte = static_cast<unsigned char>(c);
        Check(byte >= 0x20 && byte != 0x7F);
    }
}

bool SameSettings(const cli::Profile& a, const cli::Profile& b) {
    return a.commandSet == b.commandSet && a.fontSet == b.fontSet && a.language == b.language &&
           a.baud == b.baud;
}

void CheckProfile(const cli::Profile& profile) {
    std::string canonical;
    for (const std::string_view name : kLists) {
        const int index = profile.IndexOf(name);
        Check(index >= 0 && static_cast<std::size_t>(index) < cli::FindList(name)->entries.size());
        canonical += std::string(name) + " = " + std::to_string(index) + "\n";
    }
    if (profile.probeFirst) {
        Check(*profile.probeFirst >= 0 && *profile.probeFirst < 5);
    }
    if (profile.lines) {
        for (const auto& line : *profile.lines) {
            for (const std::uint8_t byte : line) {
                Check(byte != 0);
            }
        }
    }
    const cli::ProfileRead again = cli::ReadProfile(canonical, kFile);
    Check(again.profile && SameSettings(*again.profile, profile));

    // A display reporting these codes is saved as a profile that reads back the same.
    vyx::protocol::InformationFrame reply{};
    reply[vyx::protocol::kPosCommandSet] = static_cast<std::uint8_t>(profile.commandSet);
    reply[vyx::protocol::kPosDefaultFont] = static_cast<std::uint8_t>(profile.fontSet);
    reply[vyx::protocol::kPosLanguage] = static_cast<std::uint8_t>(profile.language);
    reply[vyx::protocol::kPosBaudRate] = static_cast<std::uint8_t>(profile.baud);
    std::string problem;
    const auto saved = cli::ProfileTextOf(reply, "COM4", problem);
    Check(saved.has_value());
    const cli::ProfileRead read = cli::ReadProfile(*saved, kFile);
    Check(read.profile && SameSettings(*read.profile, profile));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const cli::ProfileRead read = cli::ReadProfile(text, kFile);
    Check(read.profile.has_value() != !read.error.empty());
    if (read.profile) {
        CheckProfile(*read.profile);
    } else {
        CheckError(read.error, text);
    }
    return 0;
}
