#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/CliTestSupport.h"

namespace vyx::test {

using namespace std::chrono_literals;

// Bound for one vyxctl run; its own waits are far shorter.
constexpr std::chrono::milliseconds kRunBound = 15s;

inline std::string VyxctlPath() {
    return VYXCTL_PATH;
}

inline ProcessResult Vyxctl(std::vector<std::string> args,
                            std::vector<std::pair<std::string, std::string>> env = {},
                            const std::string& cwd = {}) {
    args.insert(args.begin(), VyxctlPath());
    Launch launch;
    launch.args = std::move(args);
    launch.env = std::move(env);
    launch.cwd = cwd;
    return RunProcess(launch, kRunBound);
}

// "02 01 44" -> bytes.
inline std::vector<std::uint8_t> Hex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// `text` as bytes, padded with blanks to `width`.
inline std::vector<std::uint8_t> Padded(const std::string& text, std::size_t width) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.resize(width, 0x20);
    return bytes;
}

inline std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A 22-byte information reply as a display sends it: STX, LEN 0x12, 'D', 17 data
// bytes, ETX, and the XOR of LEN through ETX.
inline std::vector<std::uint8_t> Reply(const std::string& version, std::uint8_t commandSet,
                                       std::uint8_t font, std::uint8_t language,
                                       std::uint8_t baud) {
    std::vector<std::uint8_t> reply = {0x02, 0x12, 0x44};
    std::vector<std::uint8_t> field(version.begin(), version.end());
    field.resize(12, 0x00);
    reply.insert(reply.end(), field.begin(), field.end());
    reply.insert(reply.end(), {commandSet, font, language, baud, 0x00, 0x03});
    std::uint8_t check = 0;
    for (std::size_t i = 1; i < reply.size(); ++i) {
        check = static_cast<std::uint8_t>(check ^ reply[i]);
    }
    reply.push_back(check);
    return reply;
}

// The report text as the dialog shows it, with vyxctl's one newline after it.
inline std::string ReportOf(const std::string& version, const std::string& commandSet,
                            const std::string& font, const std::string& language,
                            const std::string& baud) {
    return "\n\nVersion :\n" + version + "\n\nCommand Set :\n" + commandSet +
           "\n\nDefault Font :\n" + font + "\n\nLanguage :\n" + language + "\n\nBPS :\n" + baud +
           "\n";
}

inline std::string UsageLine() {
    return "Usage: vyxctl [--port NAME] [--baud RATE] COMMAND [ARGS]\n";
}

}  // namespace vyx::test
