#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vyx::protocol {

// An 8-bit (or double-byte) code page by its Windows number: 1252, 1251, 932, 437, ...
using CodePage = std::uint32_t;

// The code page of the C and POSIX locales and of every locale the table does not know.
constexpr CodePage kWesternCodePage = 1252;
// The display's Katakana font set is JIS X 0201: ASCII with yen sign (0x5C) and overline
// (0x7E), half-width katakana at A1..DF. It has no Windows number; this one lies above
// the range Windows numbers use, so it cannot stand for another code page.
constexpr CodePage kJisX0201 = 0x10201;
// How the display shows the font sets that name no code page ("Slavonic", "Persian") or
// a font set beyond the list.
constexpr CodePage kFontSetFallback = 437;

// The code page Windows takes as the ANSI code page of a locale named the POSIX way,
// "language[_territory][.codeset][@modifier]" (ru_RU.UTF-8, sr_RS@latin, zh_TW): decided
// by the language, by the territory for Chinese and by the script for Serbian, Uzbek and
// Azerbaijani. C, POSIX, empty and unknown locales give 1252.
CodePage AnsiCodePageOfLocale(std::string_view locale);

// The locale that governs character types: the first of LC_ALL, LC_CTYPE, LANG that is
// set and not empty (null for unset); empty when none is.
std::string_view CharacterTypeLocale(const char* lcAll, const char* lcCtype, const char* lang);

// A code page as a user names it: "1251", "cp1251", "CP-858", "windows-1251", "ibm437",
// "iso-8859-8" (28598), "jis_x0201" or "jis-x0201"; any case. Nullopt for anything else.
// Whether the platform can convert it is CodePageAvailable's to say.
std::optional<CodePage> ParseCodePage(std::string_view name);

// The name in messages and for iconv: "CP1251", "ISO-8859-8", "JIS_X0201".
std::string CodePageName(CodePage page);

// The code page of an entry of the default font set list, by index (the code the
// display reports at position 16 of its information); nullopt for the entries that
// name none and for codes beyond the list.
std::optional<CodePage> FontSetCodePage(std::uint8_t fontSet);

// JIS X 0201: the character of a byte (0 when the byte has none), and the byte of a
// character (nullopt when it has none).
char32_t JisX0201ToUnicode(std::uint8_t byte);
std::optional<std::uint8_t> UnicodeToJisX0201(char32_t character);

// The character of one well-formed UTF-8 sequence (as Frame's encoder splits text).
char32_t CharacterOfUtf8(std::string_view sequence);
// Appends the UTF-8 form of a character.
void AppendUtf8(std::string& out, char32_t character);

// The code page the host's text is in. On Windows the ANSI code page; on POSIX the one
// Windows would use for the user's locale (LC_ALL, LC_CTYPE, LANG), unless VYX_CODEPAGE
// holds the number of a code page the platform can convert. Read anew on every call.
CodePage SystemCodePage();

// True when the platform converts text to and from `page`.
bool CodePageAvailable(CodePage page);

// Converts between UTF-8 and one code page, without best-fit substitutes: a character
// the code page has no form for has no bytes. One converter serves one thread.
class CodePageConverter {
  public:
    explicit CodePageConverter(CodePage page);
    ~CodePageConverter();
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;

    // The bytes of one character, given as one UTF-8 sequence, into `out` (at least
    // kMaxCharacterBytes long); returns their count, 0 when the code page has no form
    // for it.
    std::size_t Encode(std::string_view utf8Character, std::span<std::uint8_t> out);
    // The text of `bytes` as UTF-8; a byte that starts no character of the code page,
    // and a character cut off at the end, give one U+FFFD per byte.
    std::string Decode(std::span<const std::uint8_t> bytes);

    static constexpr std::size_t kMaxCharacterBytes = 8;

  private:
    struct State;  // the platform's conversion handles
    CodePage m_Page;
    std::unique_ptr<State> m_State;
};

}  // namespace vyx::protocol
