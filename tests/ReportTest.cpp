#include "protocol/Report.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(BuildInformationReport(reply),
              "\n\nVersion :\nV1.0\n\nCommand Set :\n 1\n\nDefault Font :\n11"
              "\n\nLanguage :\n C\n\nBPS :\n1F");
}

TEST(Report, ZeroVersionBytesAreSkippedWherever) {
    const auto reply = Reply({0, 'A', 0, 'B', 0, 0, 'C'}, 0, 0, 0, 0);
    EXPECT_EQ(ParseInformation(reply).version, "ABC");
}

TEST(Report, HighVersionBytesShowTheirCodePoint) {
    const auto reply = Reply({0xE9, 0xFF, 0x80}, 0xC3, 0xFF, 0x00, 0x0A);
    const auto text = BuildInformationReport(reply);
    EXPECT_EQ(ParseInformation(reply).version, "\xC3\xA9\xC3\xBF\xC2\x80");
    EXPECT_NE(text.find("\nC3\n"), std::string::npos);
    EXPECT_NE(text.find("Font :\nFF\n"), std::string::npos);
    EXPECT_NE(text.find("BPS :\n A"), std::string::npos);
}

TEST(Report, ReadsOnlyPositionsThreeToEighteen) {
    std::vector<std::uint8_t> reply(25, 0xEE);
    for (std::size_t i = 3; i <= 18; ++i) {
        reply[i] = static_cast<std::uint8_t>('a' + i - 3);
    }
    const auto f = ParseInformation(reply);
    EXPECT_EQ(f.version, "abcdefghijkl");
    EXPECT_EQ(f.commandSet, 'm');
    EXPECT_EQ(f.baudRate, 'p');
}

TEST(Report, ShortReplyReadsZerosNotPastTheEnd) {
    const std::vector<std::uint8_t> reply{0x02, 0x12, 'D', 'X'};
    const auto f = ParseInformation(reply);
    EXPECT_EQ(f.version, "X");
    EXPECT_EQ(f.baudRate, 0);
}

}  // namespace
}  // namespace vyx::protocol
