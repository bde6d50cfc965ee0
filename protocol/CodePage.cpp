#include "protocol/CodePage.h"

#include <algorithm>
#include <cctype>

namespace vyx::protocol {

namespace {

struct LanguagePage {
    std::string_view language;  // lower case; "@latin"/"@cyrillic" where the script decides
    CodePage page;
};

// The ANSI code page of each language whose code page is not 1252. Languages that
// Windows serves in Unicode only (Hindi, Georgian, Armenian, ...) have none and take
// 1252, as those systems do.
constexpr LanguagePage kLanguagePages[] = {
    // Central European
    {"bs", 1250},
    {"cs", 1250},
    {"hr", 1250},
    {"hu", 1250},
    {"pl", 1250},
    {"ro", 1250},
    {"sk", 1250},
    {"sl", 1250},
    {"sq", 1250},
    {"sr@latin", 1250},
    {"tk", 1250},
    // Cyrillic
    {"az@cyrillic", 1251},
    {"ba", 1251},
    {"be", 1251},
    {"bg", 1251},
    {"kk", 1251},
    {"ky", 1251},
    {"mk", 1251},
    {"mn", 1251},
    {"ru", 1251},
    {"sah", 1251},
    {"sr", 1251},
    {"tg", 1251},
    {"tt", 1251},
    {"uk", 1251},
    {"uz@cyrillic", 1251},
    // Greek, Turkish, Hebrew, Arabic, Baltic, Vietnamese, Thai
    {"el", 1253},
    {"az", 1254},
    {"tr", 1254},
    {"uz", 1254},
    {"he", 1255},
    {"iw", 1255},
    {"yi", 1255},
    {"ar", 1256},
    {"ckb", 1256},
    {"fa", 1256},
    {"ps", 1256},
    {"sd", 1256},
    {"ug", 1256},
    {"ur", 1256},
    {"et", 1257},
    {"lt", 1257},
    {"lv", 1257},
    {"vi", 1258},
    {"th", 874},
    // East Asian; Chinese is decided by the territory below
    {"ja", 932},
    {"ko", 949},
    {"zh", 936},
};

// Traditional Chinese territories; other Chinese locales (CN, SG) are Simplified.
constexpr std::string_view kTraditionalChinese[] = {"TW", "HK", "MO"};

// Code pages of the default font set list, by index. "Slavonic" (6) and "Persian" (14)
// name none.
constexpr std::array<CodePage, 18> kFontSetPages{437, kJisX0201, 850, 860,  863,   865,
                                                 0,   866,       858, 1252, 1253,  1257,
                                                 862, 737,       0,   864,  28598, 1251};

// ISO 8859 part N has the Windows number 28590 + N (28591 for part 1, 28598 for part 8).
constexpr CodePage kIso8859Base = 28590;
constexpr unsigned kIso8859LastPart = 16;

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

// A decimal number of 1 to 5 digits, nothing else.
std::optional<CodePage> Number(std::string_view text) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return std::nullopt;
    }
    CodePage value = 0;
    for (const char c : text) {
        value = value * 10 + static_cast<CodePage>(c - '0');
    }
    return value == 0 ? std::nullopt : std::optional<CodePage>(value);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

CodePage AnsiCodePageOfLocale(std::string_view locale) {
    const std::size_t languageEnd = locale.find_first_of("_.@");
    const std::string language = Lower(locale.substr(0, languageEnd));
    std::string territory;
    if (languageEnd != std::string_view::npos && locale[languageEnd] == '_') {
        const std::string_view rest = locale.substr(languageEnd + 1);
        territory = Upper(rest.substr(0, rest.find_first_of(".@")));
    }
    const std::size_t at = locale.find('@');
    const std::string modifier =
        at == std::string_view::npos ? std::string() : Lower(locale.substr(at + 1));
    if (language == "zh") {
        const bool traditional =
            std::find(std::begin(kTraditionalChinese), std::end(kTraditionalChinese), territory) !=
            std::end(kTraditionalChinese);
        return traditional ? 950 : 936;
    }
    const std::string scripted =
        modifier == "latin" || modifier == "cyrillic" ? language + "@" + modifier : language;
    for (const std::string& key : {scripted, language}) {
        for (const LanguagePage& entry : kLanguagePages) {
            if (entry.language == key) {
                return entry.page;
            }
        }
    }
    return kWesternCodePage;
}

std::string_view CharacterTypeLocale(const char* lcAll, const char* lcCtype, const char* lang) {
    for (const char* value : {lcAll, lcCtype, lang}) {
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

std::optional<CodePage> ParseCodePage(std::string_view name) {
    const std::string lower = Lower(name);
    const std::string_view text = lower;
    if (text == "jis_x0201" || text == "jis-x0201") {
        return kJisX0201;
    }
    for (const std::string_view prefix : {"iso-8859-", "iso8859-", "iso_8859-"}) {
        if (StartsWith(text, prefix)) {
            const auto part = Number(text.substr(prefix.size()));
            if (!part || *part > kIso8859LastPart) {
                return std::nullopt;
            }
            return kIso8859Base + *part;
        }
    }
    // Longest prefixes first: "cp-" before "cp".
    for (const std::string_view prefix : {"windows-", "cp-", "cp", "ibm", ""}) {
        if (StartsWith(text, prefix)) {
            return Number(text.substr(prefix.size()));
        }
    }
    return std::nullopt;
}

std::string CodePageName(CodePage page) {
    if (page == kJisX0201) {
        return "JIS_X0201";
    }
    if (page > kIso8859Base && page <= kIso8859Base + kIso8859LastPart) {
        return "ISO-8859-" + std::to_string(page - kIso8859Base);
    }
    return "CP" + std::to_string(page);
}

std::optional<CodePage> FontSetCodePage(std::uint8_t fontSet) {
    if (fontSet >= kFontSetPages.size() || kFontSetPages[fontSet] == 0) {
        return std::nullopt;
    }
    return kFontSetPages[fontSet];
}

char32_t JisX0201ToUnicode(std::uint8_t byte) {
    if (byte == 0x5C) {
        return U'\u00A5';  // yen sign
    }
    if (byte == 0x7E) {
        return U'\u203E';  // overline
    }
    if (byte < 0x80) {
        return byte;
    }
    if (byte >= 0xA1 && byte <= 0xDF) {
        return U'\uFF61' + (byte - 0xA1U);  // half-width katakana and punctuation
    }
    return 0;
}

std::optional<std::uint8_t> UnicodeToJisX0201(char32_t character) {
    if (character == U'\u00A5') {
        return 0x5C;
    }
    if (character == U'\u203E') {
        return 0x7E;
    }
    if (character < 0x80) {
        // Backslash and tilde have given their places to the yen sign and overline.
        if (character == U'\\' || character == U'~') {
            return std::nullopt;
        }
        return static_cast<std::uint8_t>(character);
    }
    if (character >= U'\uFF61' && character <= U'\uFF9F') {
        return static_cast<std::uint8_t>(0xA1U + (character - U'\uFF61'));
    }
    return std::nullopt;
}

char32_t CharacterOfUtf8(std::string_view sequence) {
    if (sequence.empty()) {
        return 0;
    }
    const auto lead = static_cast<unsigned char>(sequence[0]);
    const std::size_t length = sequence.size();
    char32_t character = length == 1   ? lead
                         : length == 2 ? lead & 0x1FU
                         : length == 3 ? lead & 0x0FU
                                       : lead & 0x07U;
    for (std::size_t i = 1; i < length; ++i) {
        character = (character << 6) | (static_cast<unsigned char>(sequence[i]) & 0x3FU);
    }
    return character;
}

void AppendUtf8(std::string& out, char32_t character) {
    if (character < 0x80) {
        out.push_back(static_cast<char>(character));
    } else if (character < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (character >> 6)));
        out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
    } else if (character < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (character >> 12)));
        out.push_back(static_cast<char>(0x80 | ((character >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (character >> 18)));
        out.push_back(static_cast<char>(0x80 | ((character >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((character >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
    }
}

}  // namespace vyx::protocol
