#include "sim/Screen.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "protocol/CodePage.h"
#include "resources/Lists.h"

namespace vyx::sim {

namespace {

// One cached converter per entry of the list and one for the sets beyond it.
constexpr std::size_t kSlots = resources::kDefaultFontEntries.size() + 1;

constexpr std::string_view kControl = "\xC2\xB7";  // middle dot
constexpr std::string_view kUnknown = "?";

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// JIS X 0201 through the host's table: glibc's iconv has no converter for its katakana
// half.
void AppendJisX0201(std::string& out, std::uint8_t b) {
    const char32_t cp = protocol::JisX0201ToUnicode(b);
    if (cp == 0) {
        out += kUnknown;
    } else {
        AppendUtf8(out, cp);
    }
}

// One byte through iconv; false when the code page has no character for it or the
// character is a control code.
bool AppendIconv(std::string& out, iconv_t cd, std::uint8_t b) {
    char in[1] = {static_cast<char>(b)};
    char* inPtr = in;
    std::size_t inLeft = 1;
    char buf[8];
    char* outPtr = buf;
    std::size_t outLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
        return false;
    }
    const std::string_view utf8(buf, sizeof buf - outLeft);
    // U+0080..U+009F (C2 80..C2 9F) are control codes too.
    if (utf8.empty() || (utf8.size() == 2 && static_cast<unsigned char>(utf8[0]) == 0xC2 &&
                         static_cast<unsigned char>(utf8[1]) < 0xA0)) {
        return false;
    }
    out += utf8;
    return true;
}

// iconv_open loads a converter module each time; the drawing asks for the same few
// again and again. One cache per thread, so no descriptor is ever shared.
class ConverterCache {
  public:
    ~ConverterCache() {
        for (std::size_t i = 0; i < m_Open.size(); ++i) {
            if (m_Tried[i] && m_Open[i] != kNone) {
                iconv_close(m_Open[i]);
            }
        }
    }
    // Descriptor from `page` to UTF-8, or kNone when glibc has no such converter.
    iconv_t Get(std::size_t slot, const std::string& page) {
        if (!m_Tried[slot]) {
            m_Tried[slot] = true;
            m_Open[slot] = iconv_open("UTF-8", page.c_str());
        }
        return m_Open[slot];
    }
    // iconv_open's documented failure value is (iconv_t)-1.
    static inline const iconv_t kNone =
        reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)

  private:
    std::array<iconv_t, kSlots> m_Open{};
    std::array<bool, kSlots> m_Tried{};
};

std::string Hex(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

std::string NameOr(std::span<const std::string_view> entries, std::uint8_t value) {
    return value < entries.size() ? std::string(entries[value]) : Hex(value) + " (unknown)";
}

}  // namespace

std::string CodePageOf(std::uint8_t fontSet) {
    const auto page = protocol::FontSetCodePage(fontSet);
    return protocol::CodePageName(page.value_or(protocol::kFontSetFallback));
}

std::string DecodeCells(std::span<const std::uint8_t> cells, std::uint8_t fontSet) {
    std::string out;
    thread_local ConverterCache converters;
    const std::size_t slot = std::min<std::size_t>(fontSet, kSlots - 1);
    const std::string page = CodePageOf(fontSet);
    const bool jis = page == protocol::CodePageName(protocol::kJisX0201);
    const iconv_t cd = jis ? ConverterCache::kNone : converters.Get(slot, page);
    for (const std::uint8_t b : cells) {
        if (b < 0x20 || b == 0x7F) {
            out += kControl;
        } else if (jis) {
            AppendJisX0201(out, b);
        } else if (cd == ConverterCache::kNone || !AppendIconv(out, cd, b)) {
            out += kUnknown;
        }
    }
    return out;
}

std::string CommandSetName(std::uint8_t value) {
    return NameOr(resources::kCommandSetEntries, value);
}
std::string FontSetName(std::uint8_t value) {
    return NameOr(resources::kDefaultFontEntries, value);
}
std::string LanguageName(std::uint8_t value) {
    return NameOr(resources::kLanguageEntries, value);
}

std::string RenderScreen(const DisplaySim& sim, const ScreenInfo& info) {
    constexpr std::string_view kBar =
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500";
    std::string line1;
    std::string line2;
    if (sim.DownloadMode()) {
        // The boot loader's own message replaces the text.
        line1 = "   DOWNLOAD MODE    ";
        line2 = "waiting for ISP tool";
    } else {
        line1 = DecodeCells(sim.Line(0), sim.DefaultFont());
        line2 = DecodeCells(sim.Line(1), sim.DefaultFont());
    }
    const Counters& c = sim.counters();
    std::string out;
    out += "\u250C" + std::string(kBar) + "\u2510\n";
    out += "\u2502" + line1 + "\u2502\n";
    out += "\u2502" + line2 + "\u2502\n";
    out += "\u2514" + std::string(kBar) + "\u2518\n";
    out += CommandSetName(sim.CommandSet()) + " | " + FontSetName(sim.DefaultFont()) + " [" +
           std::string(CodePageOf(sim.DefaultFont())) + "] | " + LanguageName(sim.Language()) +
           " | " + std::to_string(sim.ListenRate()) + " bps\n";
    out += "frames " + std::to_string(c.framesAccepted) + " accepted, " +
           std::to_string(c.framesRejected) + " rejected, " + std::to_string(c.framesUnknown) +
           " unknown | noise " + std::to_string(c.noiseBytes) + " bytes";
    if (info.droppedUpdates > 0) {
        out += " | " + std::to_string(info.droppedUpdates) + " updates dropped";
    }
    out += "\n";
    out += std::string(sim.DownloadMode() ? "DOWNLOAD MODE, waiting for the programming tool"
                                          : "running") +
           " | host " + (info.hostOpen ? "open" : "closed");
    if (!info.where.empty()) {
        out += " | " + std::string(info.where);
    }
    out += "\n";
    return out;
}

}  // namespace vyx::sim
