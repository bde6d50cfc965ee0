#include "sim/Options.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

#include "resources/Lists.h"

namespace vyx::sim {

namespace {

constexpr std::size_t kMaxFlood = std::size_t{64} * 1024 * 1024;
constexpr long long kMaxMs = 600000;  // ten minutes: longer is a typo, not a test

std::optional<long long> Number(const std::string& text, long long low, long long high) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

int ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        // Fetches the option's value, from "--opt=value" or from the next argument.
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        const auto number = [&](long long low, long long high) -> std::optional<long long> {
            const auto text = value();
            if (!text) {
                error = name + ": missing value";
                return std::nullopt;
            }
            const auto n = Number(*text, low, high);
            if (!n) {
                error = name + ": '" + *text + "' is not a number from " + std::to_string(low) +
                        " to " + std::to_string(high);
            }
            return n;
        };
        const bool flag = !inlineValue;
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version" && flag) {
            options.version = true;
        } else if (name == "--plain" && flag) {
            options.plain = true;
        } else if (name == "--no-pacing" && flag) {
            options.pacing = false;
        } else if (name == "--short-reply" && flag) {
            options.shortReply = true;
        } else if (name == "--silent" && flag) {
            options.silent = true;
        } else if (name == "--replace" && flag) {
            options.replace = true;
        } else if (name == "--own-terminal" && flag) {
            options.ownTerminal = true;
        } else if (name == "--link") {
            const auto text = value();
            if (!text || text->empty()) {
                error = "--link: missing path";
                return 0;
            }
            options.link = *text;
        } else if (name == "--fw-version") {
            const auto text = value();
            if (!text) {
                error = "--fw-version: missing text";
                return 0;
            }
            options.firmwareVersion = text->substr(0, 12);
        } else if (name == "--baud") {
            const auto n = number(1, std::numeric_limits<std::int32_t>::max());
            const auto& rates = resources::kBaudRates;
            if (n && std::find(rates.begin(), rates.end(), *n) == rates.end()) {
                error = "--baud: the display listens at 9600, 19200, 38400, 57600 or 115200";
                return 0;
            }
            if (!n) {
                return 0;
            }
            options.baud = static_cast<std::uint32_t>(*n);
        } else if (name == "--com") {
            const auto n = number(1, 255);
            if (!n) {
                return 0;
            }
            options.com = static_cast<int>(*n);
        } else if (name == "--reply-split") {
            const auto n = number(1, 21);
            if (!n) {
                return 0;
            }
            options.replySplit = static_cast<std::size_t>(*n);
        } else if (name == "--split-pause" || name == "--reply-delay") {
            const auto n = number(0, kMaxMs);
            if (!n) {
                return 0;
            }
            (name == "--split-pause" ? options.splitPauseMs : options.replyDelayMs) =
                static_cast<int>(*n);
        } else if (name == "--flood") {
            const auto n = number(1, static_cast<long long>(kMaxFlood));
            if (!n) {
                return 0;
            }
            options.flood = static_cast<std::size_t>(*n);
        } else {
            error = "unknown option '" + args[i] + "' (try --help)";
            return 0;
        }
    }
    return 1;
}

std::string Usage() {
    return "usage: vyx-display-sim [options]\n"
           "A simulated customer display (2 x 20 characters) on a pseudo-terminal.\n"
           "\n"
           "  --link PATH        symbolic link to the pseudo-terminal (removed at exit)\n"
           "  --com N            link COMN in $VYX_PORTS_DIR or the user's ports folder\n"
           "  --replace          take over a link that already exists at PATH or COMN and\n"
           "                     put it back at exit (without it, such a link is refused;\n"
           "                     only a dangling link to a /dev/pts of an earlier run is\n"
           "                     replaced)\n"
           "  --own-terminal     make the pseudo-terminal the controlling terminal of a\n"
           "                     session of our own, so that no program opening the line\n"
           "                     (Wine's server does) takes it over and is hung up at exit\n"
           "  --baud RATE        listening rate: 9600 (default), 19200, 38400, 57600, 115200\n"
           "  --fw-version TEXT  firmware version in the information reply (default V1.0)\n"
           "  --plain            one log line per event instead of the drawing\n"
           "  --no-pacing        send replies at once instead of at the line's byte rate\n"
           "Fault injection:\n"
           "  --reply-split N    send the first N bytes of a reply, pause, then the rest\n"
           "  --split-pause MS   length of that pause (default 100)\n"
           "  --reply-delay MS   wait MS more before replying\n"
           "  --short-reply      reply with 21 bytes instead of 22\n"
           "  --silent           never reply\n"
           "  --flood BYTES      send BYTES junk bytes once the host first opens the line\n"
           "\n"
           "  --help             this text\n"
           "  --version          the version\n"
           "\n"
           "Bytes at another speed or framing than 8N1 are noise; a reply sent while the\n"
           "host's speed differs arrives garbled; a frame cut off by a pause of over 20\n"
           "character times is dropped; what is unsent when the host closes is dropped.\n"
           "A blocked standard output is never waited for: drawings are skipped and log\n"
           "lines beyond 64 KiB dropped, and both are counted.\n"
           "Exit status: 0 after SIGINT, SIGTERM or SIGHUP, 1 when the pseudo-terminal or a\n"
           "link cannot be made, 2 on a usage error or a link that is refused.\n";
}

}  // namespace vyx::sim
