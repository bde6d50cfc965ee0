#include "protocol/Frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vyx::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Sent(const std::array<std::uint8_t, kMainTxBufferSize>& buffer, std::size_t count) {
    return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
}

Bytes TextFrame(std::uint8_t bcc, const Bytes& data) {
    Bytes frame(data.size() + 5, 0);
    frame[0] = STX;
    frame[1] = 0x29;
    frame[2] = '2';
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    frame[3 + data.size()] = ETX;
    frame.pop_back();
    frame.push_back(bcc);
    return frame;
}

TEST(Frame, WorkedFramesByteForByte) {
    std::array<std::uint8_t, kMainTxBufferSize> buf{};
    struct Case {
        const char* name;
        std::size_t count;
        Bytes expected;
    };
    const Case cases[] = {
        {"query", BuildInformationQuery(buf), {0x02, 0x01, 0x44, 0x03, 0x46}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sent(buf, c.count), c.expected) << c.name;
    }
    EXPECT_EQ(Sent(buf, BuildDownloadModeFrame(buf)),
              (Bytes{0x02, 0x03, 0x40, 0xAA, 0x55, 0x03, 0xBF}));
    EXPECT_EQ(Sent(buf, BuildBaudRateFrame(buf, 4)), (Bytes{0x02, 0x02, 0x33, 0x04, 0x03, 0x36}));
    EXPECT_EQ(Sent(buf, BuildCommandSetFrame(buf, 0)), (Bytes{0x02, 0x02, 0x34, 0x00, 0x03, 0x35}));
    const auto blank = EncodeTextLine("");
    EXPECT_EQ(Sent(buf, BuildTextFrame(buf, blank, blank)), TextFrame(0x18, Bytes(40, 0x20)));
}

TEST(Frame, IndexFramesApplyTheirMasks) {
    std::array<std::uint8_t, kMainTxBufferSize> buf{};
    struct Case {
        std::size_t (*build)(std::span<std::uint8_t>, int);
        int index;
        std::uint8_t cmd;
        std::uint8_t data;
    };
    const Case cases[] = {
        {BuildBaudRateFrame, 4, '3', 0x04},     {BuildBaudRateFrame, -1, '3', 0xFF},
        {BuildCommandSetFrame, 9, '4', 0x09},   {BuildCommandSetFrame, -1, '4', 0x0F},
        {BuildDefaultFontFrame, 17, '5', 0x11}, {BuildDefaultFontFrame, -1, '5', 0x1F},
        {BuildLanguageFrame, 12, '6', 0x0C},    {BuildLanguageFrame, -1, '6', 0x0F},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.build(buf, c.index), 6u);
        const std::uint8_t bcc = static_cast<std::uint8_t>(0x02 ^ c.cmd ^ c.data ^ 0x03);
        EXPECT_EQ(Sent(buf, 6), (Bytes{0x02, 0x02, c.cmd, c.data, 0x03, bcc}))
            << char(c.cmd) << " index " << c.index;
    }
}

TEST(Frame, BlockCheckCoversLenThroughEtxOnly) {
    const std::uint8_t frame[] = {0x02, 0x01, 0x44, 0x03};
    EXPECT_EQ(BCC(&frame[1], 3), 0x46);
    EXPECT_EQ(BCC(&frame[1], 0), 0);
    EXPECT_EQ(BCC(&frame[1], -5), 0);
}

TEST(Frame, StxAndEtxInsideDataAreNotEscaped) {
    std::array<std::uint8_t, kMainTxBufferSize> buf{};
    const std::uint8_t data[] = {0x02, 0x03};
    ASSERT_EQ(BuildFrame(buf, 'X', data), 7u);
    EXPECT_EQ(Sent(buf, 7), (Bytes{0x02, 0x03, 'X', 0x02, 0x03, 0x03,
                                   static_cast<std::uint8_t>(0x03 ^ 'X' ^ 0x02 ^ 0x03 ^ 0x03)}));
}

TEST(Frame, ShortFrameAfterLongOneSendsOnlyItsOwnBytes) {
    std::array<std::uint8_t, kMainTxBufferSize> buf{};
    const auto line = EncodeTextLine("12345678901234567890");
    ASSERT_EQ(BuildTextFrame(buf, line, line), 45u);
    const auto before = buf;
    ASSERT_EQ(BuildCommandSetFrame(buf, 0), 6u);
    EXPECT_EQ(Sent(buf, 6), (Bytes{0x02, 0x02, 0x34, 0x00, 0x03, 0x35}));
    // The builder writes its own bytes only; the rest of the buffer is left as it was.
    EXPECT_TRUE(std::equal(buf.begin() + 6, buf.end(), before.begin() + 6));
}

TEST(Frame, BuildersWriteNothingPastTheirFrame) {
    struct Case {
        const char* name;
        std::size_t (*build)(std::span<std::uint8_t>);
        std::size_t size;
    };
    const Case cases[] = {
        {"query", BuildInformationQuery, 5},
        {"download", BuildDownloadModeFrame, 7},
        {"baud", [](std::span<std::uint8_t> o) { return BuildBaudRateFrame(o, 2); }, 6},
        {"language", [](std::span<std::uint8_t> o) { return BuildLanguageFrame(o, 5); }, 6},
        {"cell test", [](std::span<std::uint8_t> o) { return BuildCellTest(o, true); }, 40},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, kMainTxBufferSize> buf;
        buf.fill(0xEE);
        ASSERT_EQ(c.build(buf), c.size) << c.name;
        EXPECT_TRUE(std::all_of(buf.begin() + static_cast<std::ptrdiff_t>(c.size), buf.end(),
                                [](std::uint8_t b) { return b == 0xEE; }))
            << c.name;
        // A buffer of exactly the frame's size is enough; one byte less is not.
        Bytes exact(c.size);
        EXPECT_EQ(c.build(exact), c.size) << c.name;
        EXPECT_EQ(exact, Sent(buf, c.size)) << c.name;
        Bytes shorter(c.size - 1);
        EXPECT_EQ(c.build(shorter), 0u) << c.name;
    }
}

TEST(Frame, TextFrameCarriesBothLinesAndItsCheck) {
    std::array<std::uint8_t, kMainTxBufferSize> buf{};
    const auto line1 = EncodeTextLine("abc");
    const auto line2 = EncodeTextLine("Z");
    ASSERT_EQ(BuildTextFrame(buf, line1, line2), 45u);
    Bytes data(40, ' ');
    data[0] = 'a';
    data[1] = 'b';
    data[2] = 'c';
    data[20] = 'Z';
    // Blanks cancel in pairs: 38 of them leave 0x29 ^ '2' ^ a ^ b ^ c ^ Z ^ ETX.
    const auto bcc = static_cast<std::uint8_t>(0x29 ^ 0x32 ^ 'a' ^ 'b' ^ 'c' ^ 'Z' ^ 0x03);
    EXPECT_EQ(Sent(buf, 45), TextFrame(bcc, data));
}

TEST(Frame, RefusesTooSmallBuffersAndOversizedData) {
    std::array<std::uint8_t, 5> tiny{};
    EXPECT_EQ(BuildBaudRateFrame(tiny, 1), 0u);
    EXPECT_EQ(BuildCellTest(tiny, false), 0u);
    std::array<std::uint8_t, 64> big{};
    const Bytes data(41, 'x');
    EXPECT_EQ(BuildFrame(big, 'X', data), 0u);
}

TEST(Frame, CellTestIsFortyRawBytes) {
    std::array<std::uint8_t, kMainTxBufferSize> buf{};
    ASSERT_EQ(BuildCellTest(buf, false), 40u);
    EXPECT_EQ(Sent(buf, 40), Bytes(40, 0x20));
    ASSERT_EQ(BuildCellTest(buf, true), 40u);
    EXPECT_EQ(Sent(buf, 40), Bytes(40, 0xDB));
}

TEST(TextLine, EncodesCutsAndPads) {
    struct Case {
        std::string text;
        std::string expected;  // 20 bytes, Windows-1252
    };
    const Case cases[] = {
        {"", std::string(20, ' ')},
        {"abc", "abc" + std::string(17, ' ')},
        {"12345678901234567890", "12345678901234567890"},
        {"1234567890123456789012345", "12345678901234567890"},
        {"caf\xC3\xA9", "caf\xE9" + std::string(16, ' ')},          // é
        {"\xE2\x82\xAC 5", "\x80 5" + std::string(17, ' ')},        // € is 0x80
        {"\xD0\x96x", "?x" + std::string(18, ' ')},                 // Cyrillic Ж
        {"\xE6\x97\xA5\xE6\x9C\xAC", "??" + std::string(18, ' ')},  // two CJK characters
        {"\xF0\x9F\x98\x80!", "?!" + std::string(18, ' ')},         // emoji
        {"a\xFF"
         "b",
         "a?b" + std::string(17, ' ')},                   // invalid UTF-8
        {"\xE2\x82x\xC3", "?x?" + std::string(17, ' ')},  // cut-off characters
        {"\x80\x80y", "??y" + std::string(17, ' ')},      // stray continuations
        {"\xED\xA0\x80z", "?z" + std::string(18, ' ')},   // a surrogate
        {std::string(19, 'a') + "\xC3\xA9\xC3\xA9", std::string(19, 'a') + "\xE9"},
        {std::string("ab\0cd", 5), "ab" + std::string(18, ' ')},  // NUL ends the text
        {"\t\x01", "\t\x01" + std::string(18, ' ')},              // controls pass
    };
    for (const auto& c : cases) {
        const auto line = EncodeTextLine(c.text);
        EXPECT_EQ(std::string(line.begin(), line.end()), c.expected) << c.text;
    }
}

}  // namespace
}  // namespace vyx::protocol
