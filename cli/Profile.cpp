#include "cli/Profile.h"

// toml++ is used header-only, so that no build (the Windows one included) links its
// shared library, and without exceptions: a parse gives a result to look at.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
// toml++ 3.3 asserts on some input its parser goes on to refuse with an error ("[$x]"
// as a table header); a bad profile must end in that error, not in an abort, whatever
// the build type.
#define TOML_ASSERT(expr) static_assert(true)
#include <toml++/toml.h>

#include <algorithm>
#include <vector>

#include "cli/Formatting.h"
#include "cli/ListArgument.h"
#include "protocol/Report.h"
#include "resources/Lists.h"

namespace vyx::cli {

namespace {

constexpr std::array<std::string_view, 4> kRequired = {"command-set", "font-set", "language",
                                                       "baud"};
constexpr std::array<std::string_view, 3> kOptional = {"line1", "line2", "probe-first"};

std::string TypeName(toml::node_type type) {
    switch (type) {
        case toml::node_type::table:
            return "a table";
        case toml::node_type::array:
            return "an array";
        case toml::node_type::string:
            return "a string";
        case toml::node_type::integer:
            return "an integer";
        case toml::node_type::floating_point:
            return "a floating-point number";
        case toml::node_type::boolean:
            return "a boolean";
        default:
            return "a date or time";
    }
}

// One UTF-8 character at the start of `text`: its code point and length, or length 0
// for a sequence that is not UTF-8 (overlong forms and surrogates included).
std::pair<char32_t, std::size_t> Utf8At(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || text.size() < length) {
        return {0, 0};
    }
    auto code = static_cast<char32_t>(lead & (0x7F >> length));
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80) {
            return {0, 0};
        }
        code = (code << 6) | (byte & 0x3Fu);
    }
    constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kShortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return {0, 0};
    }
    return {code, length};
}

std::string Escaped(char32_t code) {
    char text[12];
    std::snprintf(text, sizeof text, code > 0xFFFF ? "\\U%08X" : "\\u%04X",
                  static_cast<unsigned>(code));
    return text;
}

// toml++ 3.3 asks of a character beyond ASCII whether it is whitespace in places it
// reaches on malformed input (after a bare value, after a line-ending backslash), and
// that test runs into __builtin_unreachable() for most such characters. So the parser
// is given ASCII only, which says the same in TOML: in a string a character beyond
// ASCII becomes its \u escape (a '...' string is rewritten as "..." for that); in a
// comment, and where TOML allows no such character at all, it becomes '?', which TOML
// does not allow there either. Lines stay where they were, so errors name the same
// line. Text that is not UTF-8 is refused: returns its line, or 0 once `ascii` is made.
std::size_t ToAscii(std::string_view text, std::string& ascii) {
    enum class In { Normal, Comment, Basic, Literal, MultiBasic, MultiLiteral };
    constexpr std::string_view kTripleQuote = R"(""")";
    constexpr std::string_view kTripleApostrophe = "'''";
    In in = In::Normal;
    std::size_t line = 1;
    const auto at = [&text](std::size_t i, std::string_view what) {
        return text.substr(i, what.size()) == what;
    };
    // The parser passes over a byte order mark itself.
    std::size_t i = at(0, "\xEF\xBB\xBF") ? 3 : 0;
    ascii.assign(text.substr(0, i));
    while (i < text.size()) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            const auto [code, length] = Utf8At(text.substr(i));
            if (length == 0) {
                return line;
            }
            ascii += in == In::Normal || in == In::Comment ? "?" : Escaped(code);
            i += length;
            continue;
        }
        const bool literal = in == In::Literal || in == In::MultiLiteral;
        const bool basic = in == In::Basic || in == In::MultiBasic;
        std::size_t take = 1;
        std::string out(1, c);
        if (c == '\n') {
            ++line;
            in = in == In::MultiBasic || in == In::MultiLiteral ? in : In::Normal;
        } else if (in == In::Normal) {
            if (at(i, kTripleQuote) || at(i, kTripleApostrophe)) {
                in = c == '"' ? In::MultiBasic : In::MultiLiteral;
                take = 3;
                out = kTripleQuote;
            } else if (c == '"' || c == '\'') {
                in = c == '"' ? In::Basic : In::Literal;
                out = "\"";
            } else if (c == '#') {
                in = In::Comment;
            }
        } else if (basic && c == '\\' && i + 1 < text.size() && text[i + 1] != '\n') {
            // An escape: a quote after the backslash ends nothing. No escape starts with
            // a character beyond ASCII; "\?" keeps it one the parser refuses.
            take = 2;
            out = text.substr(i, 2);
            if (static_cast<unsigned char>(text[i + 1]) >= 0x80) {
                const std::size_t length = Utf8At(text.substr(i + 1)).second;
                if (length == 0) {
                    return line;
                }
                take = 1 + length;
                out = "\\?";
            }
        } else if ((in == In::Basic && c == '"') || (in == In::Literal && c == '\'')) {
            in = In::Normal;
            out = "\"";
        } else if ((in == In::MultiBasic && at(i, kTripleQuote)) ||
                   (in == In::MultiLiteral && at(i, kTripleApostrophe))) {
            in = In::Normal;
            take = 3;
            out = kTripleQuote;
        } else if (literal && (c == '\\' || c == '"')) {
            out = std::string("\\") + c;  // the literal text inside the "..." it became
        }
        ascii += out;
        i += take;
    }
    return 0;
}

// Reads one file, stopping at the first problem.
class Reader {
  public:
    explicit Reader(std::string_view fileName) : m_File(fileName) {}

    ProfileRead Read(std::string_view text) {
        std::string ascii;
        if (const std::size_t line = ToAscii(text, ascii); line != 0) {
            return Failed(line, "not UTF-8 text");
        }
        toml::parse_result parsed = toml::parse(std::string_view(ascii), std::string_view(m_File));
        if (!parsed) {
            const auto& error = parsed.error();
            return Failed(error.source().begin.line, std::string(error.description()));
        }
        Profile profile;
        std::vector<std::string_view> seen;
        std::optional<std::string> lines[2];
        std::size_t lineOfText = 0;
        for (auto&& [key, node] : parsed.table()) {
            const std::string_view name = key.str();
            const std::size_t line = key.source().begin.line;
            const bool required =
                std::find(kRequired.begin(), kRequired.end(), name) != kRequired.end();
            const bool optional =
                std::find(kOptional.begin(), kOptional.end(), name) != kOptional.end();
            if (!required && !optional) {
                return Failed(line, "unknown key \"" + std::string(name) +
                                        "\" (known: command-set, font-set, language, baud, "
                                        "line1, line2, probe-first)");
            }
            seen.push_back(name);
            if (name == "line1" || name == "line2") {
                if (!node.is_string()) {
                    return Failed(line, std::string(name) + " must be a string, not " +
                                            TypeName(node.type()));
                }
                lines[name == "line1" ? 0 : 1] = node.as_string()->get();
                lineOfText = std::max(lineOfText, line);
                continue;
            }
            const ListInfo& list = *FindList(name == "probe-first" ? "baud" : name);
            std::string problem;
            const std::optional<int> index = ListIndex(list, node, problem);
            if (!index) {
                return Failed(line, std::string(name) + ": " + problem);
            }
            if (name == "probe-first") {
                profile.probeFirst = *index;
            } else {
                SetIndex(profile, name, *index);
            }
        }
        std::string missing;
        for (const std::string_view name : kRequired) {
            if (std::find(seen.begin(), seen.end(), name) == seen.end()) {
                missing += (missing.empty() ? "" : ", ") + std::string(name);
            }
        }
        if (!missing.empty()) {
            // No line holds what is not there: the end of the file is where it would go.
            return Failed(LineCount(text), "missing " + missing +
                                               " (a profile names command-set, font-set, "
                                               "language and baud)");
        }
        if (lines[0] || lines[1]) {
            std::string problem;
            if (!EncodeLines(profile, lines, problem)) {
                return Failed(lineOfText, problem);
            }
        }
        return {profile, {}};
    }

  private:
    // The reason quotes the file's own text, which may hold control characters (a
    // quoted key or value may): they are shown escaped, so the message stays one line and
    // cannot drive a terminal.
    ProfileRead Failed(std::size_t line, const std::string& reason) const {
        return {std::nullopt, m_File + ":" + std::to_string(line) + ": " + EscapeControls(reason)};
    }

    static std::size_t LineCount(std::string_view text) {
        const auto newlines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        return std::max<std::size_t>(1,
                                     text.empty() || text.back() == '\n' ? newlines : newlines + 1);
    }

    // An index or name as the command line takes it; for the rates, also the rate as a
    // number (115200 is an entry's name).
    static std::optional<int> ListIndex(const ListInfo& list, const toml::node& node,
                                        std::string& problem) {
        std::string argument;
        if (const auto* number = node.as_integer()) {
            if (number->get() < 0) {
                problem = std::to_string(number->get()) + " is below 0: use an index from 0 to " +
                          std::to_string(list.entries.size() - 1) + " or a name";
                return std::nullopt;
            }
            argument = std::to_string(number->get());
        } else if (const auto* text = node.as_string()) {
            argument = text->get();
        } else {
            problem = "must be an index or a name, not " + TypeName(node.type());
            return std::nullopt;
        }
        const ListLookup lookup = LookUpListArgument(list, argument);
        if (!lookup.index) {
            problem = ListArgumentProblem(list, argument, lookup);
            return std::nullopt;
        }
        return lookup.index;
    }

    static void SetIndex(Profile& profile, std::string_view name, int index) {
        if (name == "command-set") {
            profile.commandSet = index;
        } else if (name == "font-set") {
            profile.fontSet = index;
        } else if (name == "language") {
            profile.language = index;
        } else {
            profile.baud = index;
        }
    }

    // The lines must show on the display as written: a profile states what the display
    // is to show, so text that would be cut or shown as "?" is a bad value, not a note.
    static bool EncodeLines(Profile& profile, const std::optional<std::string> (&lines)[2],
                            std::string& problem) {
        const protocol::CodePage page = LineCodePage(profile.fontSet);
        std::array<std::array<std::uint8_t, protocol::kLineLength>, 2> encoded{};
        for (std::size_t i = 0; i < 2; ++i) {
            const std::string text = lines[i].value_or("");
            const std::string name = "line" + std::to_string(i + 1);
            const bool control = std::any_of(text.begin(), text.end(), [](char c) {
                const auto byte = static_cast<unsigned char>(c);
                return byte < 0x20 || byte == 0x7F;
            });
            if (control) {
                problem = name + " holds a control character; a line shows text only";
                return false;
            }
            const protocol::EncodedLine line = protocol::EncodeLine(text, page);
            problem = name;
            problem += " \"" + text + "\"";
            if (line.replaced > 0) {
                problem += ": " + std::to_string(line.replaced) + " character(s) have no form in ";
                problem += protocol::CodePageName(page) + ", the code page of the font set";
                return false;
            }
            if (line.cut) {
                problem += " takes more than " + std::to_string(protocol::kLineLength);
                problem += " bytes in " + protocol::CodePageName(page);
                return false;
            }
            problem.clear();
            encoded[i] = line.bytes;
        }
        profile.lines = encoded;
        return true;
    }

    std::string m_File;
};

std::string Hex2(std::uint8_t code) {
    return "0x" + HexBytes(std::span(&code, 1));
}

}  // namespace

int Profile::IndexOf(std::string_view name) const {
    return name == "command-set" ? commandSet
           : name == "font-set"  ? fontSet
           : name == "language"  ? language
                                 : baud;
}

ProfileRead ReadProfile(std::string_view text, std::string_view fileName) {
    return Reader(fileName).Read(text);
}

protocol::CodePage LineCodePage(int fontSet) {
    return protocol::FontSetCodePage(static_cast<std::uint8_t>(fontSet))
        .value_or(protocol::kFontSetFallback);
}

std::optional<std::string> ProfileTextOf(std::span<const std::uint8_t> reply,
                                         const std::string& port, std::string& problem) {
    const protocol::InformationFields fields =
        protocol::ParseInformation(reply, protocol::kFontSetFallback);
    const struct {
        std::string_view key;
        std::uint8_t code;
    } values[] = {
        {"command-set", fields.commandSet},
        {"font-set", fields.defaultFont},
        {"language", fields.language},
        {"baud", fields.baudRate},
    };
    std::string text = "# vyxctl profile of the display on " + EscapeControls(port) +
                       " (firmware \"" + EscapeControls(fields.version) +
                       "\").\n"
                       "# Values take an index or a name as `vyxctl lists` shows them.\n"
                       "# A display cannot report its text, so no lines are saved: add\n"
                       "# line1 = \"...\" and line2 = \"...\" to have `vyxctl apply` write them.\n";
    for (const auto& value : values) {
        const ListInfo& list = *FindList(value.key);
        const auto entry = resources::EntryAt(list.entries, value.code);
        if (!entry) {
            problem = "the display reports " + std::string(list.what) + " " + Hex2(value.code) +
                      ", which is no entry of the list";
            return std::nullopt;
        }
        std::string quoted;
        for (const char c : *entry) {
            quoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
        }
        // The rate as a number reads best; the other lists by entry name.
        text += std::string(value.key) + " = " +
                (list.rates ? std::string(*entry) : "\"" + quoted + "\"") + "  # " +
                Hex2(value.code) + "\n";
    }
    return text;
}

}  // namespace vyx::cli
