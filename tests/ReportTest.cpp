#include "protocol/Report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vyx::protocol {
namespace {

std::vector<std::uint8_t> Reply(std::vector<std::uint8_t> version, std::uint8_t cs,
                                std::uint8_t font, std::uint8_t lang, std::uint8_t bps) {
    std::vector<std::uint8_t> r{0x02, 0x12, 'D'};
    version.resize(12, 0);
    r.insert(r.end(), version.begin(), version.end());
    r.insert(r.end(), {cs, font, lang, bps, 0x00, 0x03, 0x00});
    return r;
}

TEST(Report, TextLineByLine) {
    const auto reply = Reply({'V', '1', '.', '0'}, 0x01, 0x11, 0x0C, 0x1F);
    EXPECT_EQ(BuildInformationReport(reply, kWesternCodePage),
              "\n\nVersion :\nV1.0\n\nCommand Set :\n 1\n\nDefault Font :\n11"
              "\n\nLanguage :\n C\n\nBPS :\n1F");
}

TEST(Report, ZeroVersionBytesAreSkippedWherever) {
    const auto reply = Reply({0, 'A', 0, 'B', 0, 0, 'C'}, 0, 0, 0, 0);
    EXPECT_EQ(ParseInformation(reply, kWesternCodePage).version, "ABC");
}

TEST(Report, HighVersionBytesShowTheirCharacterOfTheCodePage) {
    const auto reply = Reply({0xE9, 0xFF, 0x80}, 0xC3, 0xFF, 0x00, 0x0A);
    const auto text = BuildInformationReport(reply, kWesternCodePage);
    EXPECT_EQ(ParseInformation(reply, kWesternCodePage).version,
              "\xC3\xA9\xC3\xBF\xE2\x82\xAC");  // é ÿ €
    EXPECT_NE(text.find("\nC3\n"), std::string::npos);
    EXPECT_NE(text.find("Font :\nFF\n"), std::string::npos);
    EXPECT_NE(text.find("BPS :\n A"), std::string::npos);
}

TEST(Report, ReadsOnlyPositionsThreeToEighteen) {
    std::vector<std::uint8_t> reply(25, 0xEE);
    for (std::size_t i = 3; i <= 18; ++i) {
        reply[i] = static_cast<std::uint8_t>('a' + i - 3);
    }
    const auto f = ParseInformation(reply, kWesternCodePage);
    EXPECT_EQ(f.version, "abcdefghijkl");
    EXPECT_EQ(f.commandSet, 'm');
    EXPECT_EQ(f.defaultFont, 'n');
    EXPECT_EQ(f.language, 'o');
    EXPECT_EQ(f.baudRate, 'p');
    EXPECT_EQ(BuildInformationReport(reply, kWesternCodePage),
              "\n\nVersion :\nabcdefghijkl\n\nCommand Set :\n6D\n\nDefault Font :\n6E"
              "\n\nLanguage :\n6F\n\nBPS :\n70");
}

TEST(Report, SettingBytesInTwoHexDigits) {
    struct Case {
        std::uint8_t value;
        const char* shown;
    };
    const Case cases[] = {{0x00, " 0"}, {0x05, " 5"}, {0x0A, " A"}, {0x10, "10"},
                          {0x1F, "1F"}, {0xC3, "C3"}, {0xFF, "FF"}};
    for (const auto& c : cases) {
        const auto text = BuildInformationReport(Reply({}, c.value, 0, 0, 0), kWesternCodePage);
        EXPECT_NE(text.find(std::string("Command Set :\n") + c.shown + "\n"), std::string::npos)
            << text;
    }
}

TEST(Report, EmptyVersionLeavesItsLineEmpty) {
    EXPECT_EQ(BuildInformationReport(Reply({}, 0, 0, 0, 0), kWesternCodePage),
              "\n\nVersion :\n\n\nCommand Set :\n 0\n\nDefault Font :\n 0"
              "\n\nLanguage :\n 0\n\nBPS :\n 0");
}

TEST(Report, VersionIsExactlyPositionsThreeToFourteen) {
    // Neighbouring bytes are not zero, so reading one position too many or too few
    // shows up in the text.
    std::vector<std::uint8_t> reply(22, 'X');
    for (std::size_t i = 3; i <= 14; ++i) {
        reply[i] = static_cast<std::uint8_t>('0' + (i - 3) % 10);
    }
    EXPECT_EQ(ParseInformation(reply, kWesternCodePage).version, "012345678901");
}

TEST(Report, ShortReplyReadsZerosNotPastTheEnd) {
    const std::vector<std::uint8_t> reply{0x02, 0x12, 'D', 'X'};
    const auto f = ParseInformation(reply, kWesternCodePage);
    EXPECT_EQ(f.version, "X");
    EXPECT_EQ(f.baudRate, 0);
}

// The version's bytes read as text of the host's code page, zero bytes skipped first.
TEST(Report, VersionIsTextOfTheCodePage) {
    struct Case {
        CodePage page;
        std::vector<std::uint8_t> version;
        const char* shown;
    };
    const Case cases[] = {
        {1252, {'V', 0x80, 0xE9}, "V\xE2\x82\xAC\xC3\xA9"},  // V€é
        {1252,
         {'A', 0x81, 'B'},
         "A\xEF\xBF\xBD"
         "B"},                                                          // 0x81 has no character
        {1251, {0xC0, 0, 0xE1, 0x98}, "\xD0\x90\xD0\xB1\xEF\xBF\xBD"},  // Аб, then none
        {1253, {0xC1, 0xE2}, "\xCE\x91\xCE\xB2"},                       // Αβ
        {932, {0x83, 0x41, 0xB1}, "\xE3\x82\xA2\xEF\xBD\xB1"},          // アｱ
        {932, {0x83, 0, 0, 0x41}, "\xE3\x82\xA2"},                      // zeros between halves
        {932, {'V', '1', 0x83}, "V1\xEF\xBF\xBD"},                      // a half at the end
        {kJisX0201, {0x5C, 0xB1, 0xE0}, "\xC2\xA5\xEF\xBD\xB1\xEF\xBF\xBD"},  // ¥ｱ, none
        {1258,
         {'a', 0xEC, 'b'},
         "\xC3\xA1"
         "b"},  // a + acute: á
    };
    for (const Case& c : cases) {
        const auto reply = Reply(c.version, 0, 0, 0, 0);
        EXPECT_EQ(ParseInformation(reply, c.page).version, c.shown) << c.page;
        const std::string head = std::string("\n\nVersion :\n") + c.shown + "\n\n";
        EXPECT_EQ(BuildInformationReport(reply, c.page).substr(0, head.size()), head) << c.page;
    }
}

}  // namespace
}  // namespace vyx::protocol
