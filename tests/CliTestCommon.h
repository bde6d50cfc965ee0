#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/CliTestSupport.h"
#include "tests/support/InformationReply.h"

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
