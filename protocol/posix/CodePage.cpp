// Code pages through glibc's iconv. JIS X 0201 goes through the table of CodePage.cpp:
// glibc has no converter for its katakana half.
#include "protocol/CodePage.h"

#include <iconv.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vyx::protocol {

namespace {

// iconv_open's documented failure value is (iconv_t)-1.
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";    // U+FFFD

iconv_t Open(const std::string& to, const std::string& from) {
    return iconv_open(to.c_str(), from.c_str());
}

void Close(iconv_t cd) {
    if (cd != kNoConverter) {
        iconv_close(cd);
    }
}

}  // namespace

// Each direction is opened on first use: a line only encodes, a report only decodes.
struct CodePageConverter::State {
    iconv_t toPage = kNoConverter;
    iconv_t fromPage = kNoConverter;
    bool toOpened = false;
    bool fromOpened = false;
};

CodePageConverter::CodePageConverter(CodePage page)
    : m_Page(page), m_State(std::make_unique<State>()) {}

CodePageConverter::~CodePageConverter() {
    Close(m_State->toPage);
    Close(m_State->fromPage);
}

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
    if (!m_State->toOpened) {
        m_State->toOpened = true;
        m_State->toPage = Open(CodePageName(m_Page), "UTF-8");
    }
    const iconv_t cd = m_State->toPage;
    if (cd == kNoConverter) {
        return 0;
    }
    char in[kMaxCharacterBytes];
    const std::size_t inSize = std::min(utf8Character.size(), sizeof in);
    std::memcpy(in, utf8Character.data(), inSize);
    char* inPtr = in;
    std::size_t inLeft = inSize;
    char* outPtr = reinterpret_cast<char*>(out.data());
    std::size_t outLeft = kMaxCharacterBytes;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // The second call flushes what a converter that combines characters (CP1258) holds
    // back.
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
        return 0;
    }
    return kMaxCharacterBytes - outLeft;
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
    if (!m_State->fromOpened) {
        m_State->fromOpened = true;
        m_State->fromPage = Open("UTF-8", CodePageName(m_Page));
    }
    const iconv_t cd = m_State->fromPage;
    if (cd == kNoConverter) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            text += kReplacement;
        }
        return text;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string input(bytes.begin(), bytes.end());
    char* inPtr = input.data();
    std::size_t inLeft = input.size();
    while (true) {
        char buffer[256];
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        // With no input left, the call flushes what the converter holds back.
        const std::size_t result = inLeft > 0 ? iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft)
                                              : iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        const int error = errno;
        text.append(buffer, sizeof buffer - outLeft);
        if (result != static_cast<std::size_t>(-1)) {
            if (inLeft == 0 && outPtr == buffer) {
                break;  // flushed, nothing more
            }
            continue;
        }
        if (error == E2BIG) {
            continue;
        }
        // A byte that starts no character (EILSEQ), or a character cut off at the end
        // (EINVAL): what the converter holds back first, then one replacement for the
        // byte, and go on after it.
        outPtr = buffer;
        outLeft = sizeof buffer;
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        text.append(buffer, sizeof buffer - outLeft);
        text += kReplacement;
        ++inPtr;
        --inLeft;
    }
    return text;
}

bool CodePageAvailable(CodePage page) {
    if (page == kJisX0201) {
        return true;
    }
    const iconv_t to = Open(CodePageName(page), "UTF-8");
    const iconv_t from = Open("UTF-8", CodePageName(page));
    const bool available = to != kNoConverter && from != kNoConverter;
    Close(to);
    Close(from);
    return available;
}

CodePage SystemCodePage() {
    // The number alone: a name here would be one more thing to misspell unnoticed.
    if (const char* forced = std::getenv("VYX_CODEPAGE"); forced != nullptr) {
        const std::string_view text = forced;
        const auto page = ParseCodePage(text);
        const bool digits = text.find_first_not_of("0123456789") == std::string_view::npos;
        if (page && digits && CodePageAvailable(*page)) {
            return *page;
        }
    }
    return AnsiCodePageOfLocale(
        CharacterTypeLocale(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG")));
}

}  // namespace vyx::protocol
