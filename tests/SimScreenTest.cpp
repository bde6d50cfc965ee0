#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/DisplaySim.h"
#include "sim/EventLog.h"
#include "sim/Screen.h"

namespace vyx::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SimScreen, CellsDecodeThroughTheFontSetsCodePage) {
    struct Case {
        std::uint8_t font;
        Bytes cells;
        std::string utf8;
    };
    const Case cases[] = {
        {0, {0xDB, 0xB0, 'A'}, "\u2588\u2591A"},              // CP437 blocks
        {1, {0xB1, 0x5C, 0x7E, 'k'}, "\uFF71\u00A5\u203Ek"},  // JIS X 0201
        {1, {0x80, 0xE0}, "??"},                              // outside JIS X 0201
        {2, {0x9B}, "\u00F8"},                                // CP850 ø
        {6, {0xDB}, "\u2588"},                                // "Slavonic": falls back to CP437
        {7, {0x80}, "\u0410"},                                // CP866 А
        {8, {0xD5}, "\u20AC"},                                // CP858 €
        {9, {0x80, 0x81}, "\u20AC?"},                         // CP1252: € and a hole
        {10, {0xC1}, "\u0391"},                               // CP1253 Α
        {12, {0x80}, "\u05D0"},                               // CP862 א
        {13, {0x80}, "\u0391"},                               // CP737 Α
        {14, {0xDB}, "\u2588"},                               // "Persian": falls back to CP437
        {16, {0xE0}, "\u05D0"},                               // ISO-8859-8 א
        {17, {0xC0}, "\u0410"},                               // CP1251 А
        {0x1F, {0xDB}, "\u2588"},                             // no such font set: CP437
        {0, {0x01, 0x1B, 0x7F, 0x00}, "\u00B7\u00B7\u00B7\u00B7"},  // controls
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeCells(c.cells, c.font), c.utf8) << "font " << int(c.font);
    }
}

TEST(SimScreen, DrawingShowsLinesAndStatus) {
    DisplaySim sim(115200);
    const Bytes frames = {0x02, 0x02, '4',  0x09, 0x03, 0x02 ^ '4' ^ 0x09 ^ 0x03,
                          0x02, 0x02, '5',  0x11, 0x03, 0x02 ^ '5' ^ 0x11 ^ 0x03,
                          0x02, 0x02, '6',  0x0C, 0x03, 0x02 ^ '6' ^ 0x0C ^ 0x03,
                          0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2};  // "Привет" in CP1251
    sim.Feed(frames, 115200);
    const std::string screen = RenderScreen(sim, {"/dev/pts/9", true});
    EXPECT_NE(screen.find("\u2502\u041F\u0440\u0438\u0432\u0435\u0442" + std::string(14, ' ') +
                          "\u2502\n"),
              std::string::npos)
        << screen;
    for (const char* part : {"LOGIC CONTROL", "Russian(Windows-1251)", "[CP1251]", "(RU) Russia",
                             "115200 bps", "3 accepted, 0 rejected", "host open", "/dev/pts/9"}) {
        EXPECT_NE(screen.find(part), std::string::npos) << part << "\n" << screen;
    }
    // Drawings skipped while the terminal was blocked are counted, once there are any.
    EXPECT_EQ(screen.find("dropped"), std::string::npos) << screen;
    EXPECT_NE(RenderScreen(sim, {"/dev/pts/9", true, 3}).find("| 3 updates dropped\n"),
              std::string::npos);
    const Bytes download = {0x02, 0x03, '@', 0xAA, 0x55, 0x03, 0xBF};
    sim.Feed(download, 115200);
    EXPECT_NE(RenderScreen(sim, {}).find("DOWNLOAD MODE"), std::string::npos);
}

TEST(SimScreen, UnknownSettingValuesAreShownInHex) {
    EXPECT_EQ(CommandSetName(0x0F), "0x0F (unknown)");
    EXPECT_EQ(FontSetName(0x12), "0x12 (unknown)");
    EXPECT_EQ(LanguageName(12), "(RU) Russia");
}

TEST(SimEventLog, LinesForThePlainLog) {
    struct Case {
        Event event;
        std::string line;
    };
    const Case cases[] = {
        {{EventKind::Frame, 'D', {}, 0, {}}, "frame D"},
        {{EventKind::Frame, '3', {0x04}, 0, {}}, "frame 3 04 -> 115200 bps"},
        {{EventKind::Frame, '@', {0xAA, 0x55}, 0, {}},
         "frame @ AA 55 -> download mode, waiting for the programming tool"},
        {{EventKind::Unknown, 'Z', {0x01}, 0, {}}, "unknown frame Z 01"},
        {{EventKind::Rejected, 'D', {0x02, 0x01, 0x44, 0x03, 0x47}, 0, {}},
         "rejected 02 01 44 03 47"},
        {{EventKind::Characters, 0, {'a', 0xDB}, 0, {}}, "chars 61 DB"},
        {{EventKind::Noise, 0, {1, 2, 3}, 19200, {}},
         "noise 3 bytes at 19200 bps, listening at 9600 bps"},
        {{EventKind::Noise, 0, {1, 2, 3, 4, 5}, 9600, {8, false, 2}},
         "noise 5 bytes at 9600 bps 8N2, listening at 9600 bps 8N1"},
        {{EventKind::Ignored, 0, {1, 2}, 0, {}}, "ignored 2 bytes in download mode"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescribeEvent(c.event, 9600), c.line);
    }
    Bytes text(40, ' ');
    text[0] = 'H';
    text[1] = 0x02;
    text[20] = '"';
    EXPECT_EQ(
        DescribeEvent({EventKind::Frame, '2', text, 0, {}}, 9600),
        "frame 2 \"H\\x02" + std::string(18, ' ') + "\" \"\\x22" + std::string(19, ' ') + "\"");
}

}  // namespace
}  // namespace vyx::sim
