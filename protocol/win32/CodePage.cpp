// Code pages through the system's own tables (MultiByteToWideChar, WideCharToMultiByte).
// JIS X 0201 goes through the table of CodePage.cpp: Windows has no code page for it.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "protocol/CodePage.h"

namespace vyx::protocol {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr wchar_t kReplacement16 = 0xFFFD;

// Code pages whose converters refuse WC_NO_BEST_FIT_CHARS and a default-character
// query (the UTF encodings and the ISCII, ISO-2022 and similar stateful pages); the
// display speaks none of them, so they count as not converted.
bool TakesNoBestFitFlag(CodePage page) {
    return !(page == 42 || page == CP_UTF7 || page == CP_UTF8 || (page >= 50220 && page <= 50229) ||
             page == 52936 || page == 54936 || (page >= 57002 && page <= 57011));
}

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    }
    return wide;
}

void AppendUtf8Of(std::string& text, const wchar_t* wide, int count) {
    if (count <= 0) {
        return;
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return;
    }
    const std::size_t at = text.size();
    text.resize(at + static_cast<std::size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, wide, count, text.data() + at, n, nullptr, nullptr);
}

// The length of the character that starts at `bytes` in `page`: 2 for a lead byte of a
// double-byte page, else 1.
std::size_t CharacterLength(CodePage page, std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 2 && IsDBCSLeadByteEx(page, bytes[0]) ? 2 : 1;
}

// Windows gives the unassigned bytes of its own code pages (0x81 in 1252) the C1
// control of the same number, and takes the control back; those bytes name no character
// there. Only the ISO 8859 pages assign the C1 controls.
bool IsUnassignedControl(CodePage page, wchar_t character) {
    return character >= 0x80 && character <= 0x9F && !(page >= 28591 && page <= 28605);
}

// 858 is 850 with the euro sign where 850 has the dotless i. Systems without a table of
// their own for 858 (Wine) convert it through 850 with that one byte changed.
constexpr std::uint8_t kEuroByte858 = 0xD5;
constexpr wchar_t kEuro = 0x20AC;
constexpr wchar_t kDotlessI = 0x0131;

bool Through850(CodePage page) {
    return page == 858 && IsValidCodePage(858) == 0 && IsValidCodePage(850) != 0;
}

// The system's bytes for `wide` in `page`, without best fit; 0 when any of it has no form.
int SystemBytes(CodePage page, const std::wstring& wide, char* bytes, int size) {
    for (const wchar_t c : wide) {
        if (IsUnassignedControl(page, c)) {
            return 0;
        }
    }
    const CodePage system = Through850(page) ? 850 : page;
    if (system != page && wide == std::wstring(1, kEuro)) {
        bytes[0] = static_cast<char>(kEuroByte858);
        return 1;
    }
    if (system != page && wide.find(kDotlessI) != std::wstring::npos) {
        return 0;
    }
    // The default-character flag tells that something had no form.
    BOOL usedDefault = FALSE;
    const int n =
        WideCharToMultiByte(system, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), bytes, size, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) {
        return 0;
    }
    // Round trip: what decodes to something else (a sequence mapped many to one) has no
    // form of its own either.
    wchar_t back[16];
    const int m = MultiByteToWideChar(system, MB_ERR_INVALID_CHARS, bytes, n, back, 16);
    if (m <= 0 || std::wstring(back, back + m) != wide) {
        return 0;
    }
    return n;
}

// `wide` mapped by FoldStringW (MAP_COMPOSITE splits letters from their accents,
// MAP_PRECOMPOSED joins them); empty when that fails.
std::wstring Fold(DWORD how, const std::wstring& wide) {
    wchar_t out[32];
    const int n = FoldStringW(how, wide.data(), static_cast<int>(wide.size()), out, 32);
    return n > 0 ? std::wstring(out, out + n) : std::wstring();
}

// A letter the code page lacks whole may still be written as a letter and accents it
// has (Vietnamese in 1258: "ấ" is "â" and a combining acute). Splits the character, then
// joins from the left as much as the code page has, piece by piece.
int ComposedBytes(CodePage page, const std::wstring& wide, char* bytes, int size) {
    const std::wstring split = Fold(MAP_COMPOSITE, wide);
    if (split.size() < 2 || split == wide) {
        return 0;
    }
    int done = 0;
    std::size_t at = 0;
    while (at < split.size()) {
        int n = 0;
        std::size_t length = split.size() - at;
        for (; length > 0; --length) {
            const std::wstring piece = split.substr(at, length);
            const std::wstring joined = length > 1 ? Fold(MAP_PRECOMPOSED, piece) : piece;
            if (!joined.empty() && (n = SystemBytes(page, joined, bytes + done, size - done)) > 0) {
                break;
            }
        }
        if (length == 0) {
            return 0;
        }
        done += n;
        at += length;
    }
    return done;
}

}  // namespace

// The system's converters need no handles of ours.
struct CodePageConverter::State {};

CodePageConverter::CodePageConverter(CodePage page)
    : m_Page(page), m_State(std::make_unique<State>()) {}

CodePageConverter::~CodePageConverter() = default;

std::size_t CodePageConverter::Encode(std::string_view utf8Character, std::span<std::uint8_t> out) {
    if (utf8Character.empty() || out.size() < kMaxCharacterBytes) {
        return 0;
    }
    if (m_Page == kJisX0201) {
        const auto byte = UnicodeToJisX0201(CharacterOfUtf8(utf8Character));
        if (!byte) {
            return 0;
        }
        out[0] = *byte;
        return 1;
    }
    if (!CodePageAvailable(m_Page)) {
        return 0;
    }
    const std::wstring wide = Wide(utf8Character);
    if (wide.empty()) {
        return 0;
    }
    // No best fit: a character the code page lacks must not turn into a look-alike.
    char bytes[kMaxCharacterBytes];
    constexpr int kSize = static_cast<int>(kMaxCharacterBytes);
    int n = SystemBytes(m_Page, wide, bytes, kSize);
    if (n == 0) {
        n = ComposedBytes(m_Page, wide, bytes, kSize);
    }
    for (int i = 0; i < n; ++i) {
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bytes[i]);
    }
    return static_cast<std::size_t>(n);
}

std::string CodePageConverter::Decode(std::span<const std::uint8_t> bytes) {
    std::string text;
    if (m_Page == kJisX0201) {
        for (const std::uint8_t byte : bytes) {
            const char32_t character = JisX0201ToUnicode(byte);
            if (character == 0 && byte != 0) {
                text += kReplacement;
            } else {
                AppendUtf8(text, character);
            }
        }
        return text;
    }
    if (!CodePageAvailable(m_Page)) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            text += kReplacement;
        }
        return text;
    }
    // One character at a time: the system would turn an undecodable byte into its own
    // default character (or drop it), which cannot be told from a real one afterwards.
    const bool through850 = Through850(m_Page);
    const CodePage system = through850 ? 850 : m_Page;
    std::wstring wideText;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto rest = bytes.subspan(at);
        if (through850 && rest[0] == kEuroByte858) {
            wideText += kEuro;
            ++at;
            continue;
        }
        const std::size_t length = CharacterLength(system, rest);
        wchar_t wide[4];
        const int n = MultiByteToWideChar(system, MB_ERR_INVALID_CHARS,
                                          reinterpret_cast<const char*>(rest.data()),
                                          static_cast<int>(length), wide, 4);
        if (n > 0 && !(n == 1 && IsUnassignedControl(m_Page, wide[0]))) {
            wideText.append(wide, wide + n);
            at += length;
            continue;
        }
        // A byte that starts no character, or a lead byte cut off at the end: one
        // replacement for the byte, and go on after it.
        wideText += kReplacement16;
        ++at;
    }
    // The pages with combining accents (Hebrew points, Vietnamese tones) give a letter and
    // its accent as two characters; joined where one character stands for both, as the
    // text would be typed.
    if (m_Page == 1255 || m_Page == 1258) {
        const int length = static_cast<int>(wideText.size());
        const int n = FoldStringW(MAP_PRECOMPOSED, wideText.data(), length, nullptr, 0);
        if (n > 0) {
            std::wstring joined(static_cast<std::size_t>(n), L'\0');
            if (FoldStringW(MAP_PRECOMPOSED, wideText.data(), length, joined.data(), n) == n) {
                wideText = std::move(joined);
            }
        }
    }
    AppendUtf8Of(text, wideText.data(), static_cast<int>(wideText.size()));
    return text;
}

bool CodePageAvailable(CodePage page) {
    if (page == kJisX0201) {
        return true;
    }
    return page <= 0xFFFF && TakesNoBestFitFlag(page) &&
           (IsValidCodePage(page) != 0 || Through850(page));
}

CodePage SystemCodePage() {
    // The number alone, as on every platform: a name here would be one more thing to
    // misspell unnoticed.
    if (const char* forced = std::getenv("VYX_CODEPAGE"); forced != nullptr) {
        const std::string_view text = forced;
        const auto page = ParseCodePage(text);
        const bool digits = text.find_first_not_of("0123456789") == std::string_view::npos;
        if (page && digits && CodePageAvailable(*page)) {
            return *page;
        }
    }
    return GetACP();
}

}  // namespace vyx::protocol
