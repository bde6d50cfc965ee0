#include "sim/Screen.h"

#include <iconv.h>

#include <array>
#include <cstdio>

#include "resources/Lists.h"

namespace vyx::sim {

namespace {

// Code page of each entry of the default font set list, by index. "Slavonic" and
// "Persian" name no code page that glibc knows, so they fall back to CP437.
constexpr std::array<std::string_view, 18> kCodePages{
    "CP437",  "JIS_X0201", "CP850",  "CP860", "CP863", "CP865", "CP437", "CP866",      "CP858",
    "CP1252", "CP1253",    "CP1257", "CP862", "CP737", "CP437", "CP864", "ISO-8859-8", "CP1251"};

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

// JIS X 0201 is small enough to spell out, and glibc's iconv has no converter for its
// katakana half: ASCII with yen sign and overline, half-width katakana at A1..DF.
void AppendJisX0201(std::string& out, std::uint8_t b) {
    if (b == 0x5C) {
        AppendUtf8(out, 0x00A5);
    } else if (b == 0x7E) {
        AppendUtf8(out, 0x203E);
    } else if (b < 0x80) {
        AppendUtf8(out, b);
    } else if (b >= 0xA1 && b <= 0xDF) {
        AppendUtf8(out, 0xFF61U + (b - 0xA1U));
    } else {
        out += kUnknown;
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
    iconv_t Get(std::size_t slot, std::string_view page) {
        if (!m_Tried[slot]) {
            m_Tried[slot] = true;
            m_Open[slot] = iconv_open("UTF-8", std::string(page).c_str());
        }
        return m_Open[slot];
    }
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

  private:
    std::array<iconv_t, kCodePages.size()> m_Open{};
    std::array<bool, kCodePages.size()> m_Tried{};
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

std::string_view CodePageOf(std::uint8_t fontSet) {
    return fontSet < kCodePages.size() ? kCodePages[fontSet] : kCodePages[0];
}

std::string DecodeCells(std::span<const std::uint8_t> cells, std::uint8_t fontSet) {
    std::string out;
    thread_local ConverterCache converters;
    const std::size_t slot = fontSet < kCodePages.size() ? fontSet : 0;
    const std::string_view page = kCodePages[slot];
    const bool jis = page == "JIS_X0201";
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
