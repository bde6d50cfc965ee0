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
    const auto blank = EncodeTextLine("", kWesternCodePage);
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
    const auto line = EncodeTextLine("12345678901234567890", kWesternCodePage);
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
    const auto line1 = EncodeTextLine("abc", kWesternCodePage);
    const auto line2 = EncodeTextLine("Z", kWesternCodePage);
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
        const auto line = EncodeTextLine(c.text, kWesternCodePage);
        EXPECT_EQ(std::string(line.begin(), line.end()), c.expected) << c.text;
    }
}

// The same text in each code page the program may choose: characters of one and two
// bytes, "?" for what the code page lacks, and a cut that never splits a character.
TEST(TextLine, EncodesForEachCodePage) {
    struct Case {
        CodePage page;
        std::string text;
        std::string expected;  // before the padding
        std::size_t replaced;
        bool cut;
    };
    const std::string a18(18, 'a');
    const std::string a19(19, 'a');
    const Case cases[] = {
        {1251, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xCF\xF0\xE8\xE2\xE5\xF2", 0,
         false},                                                       // Привет
        {1251, "caf\xC3\xA9", "caf?", 1, false},                       // é is not Cyrillic
        {1253, "\xCE\x91\xCE\xB2\xCE\xB3", "\xC1\xE2\xE3", 0, false},  // Αβγ
        {1250, "\xC5\x82\xC5\xBA", "\xB3\x9F", 0, false},              // łź
        {1254, "\xC4\x9F\xC5\x9F", "\xF0\xFE", 0, false},              // ğş
        {1255, "\xD7\xA9\xD7\x9C", "\xF9\xEC", 0, false},              // של
        {1256, "\xD8\xB3\xD9\x84", "\xD3\xE1", 0, false},              // سل
        {1257, "\xC4\x85\xC4\x8D", "\xE0\xE8", 0, false},              // ąč
        {874, "\xE0\xB8\xAA\xE0\xB8\xA7", "\xCA\xC7", 0, false},       // สว
        {858, "\xE2\x82\xAC\xC3\xA9", "\xD5\x82", 0, false},           // €é
        {932, "\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBD\xB1", "\x93\xFA\x96\x7B\xB1", 0, false},  // 日本ｱ
        {932,
         "\xE2\x82\xAC"
         "1",
         "?1", 1, false},                                                           // no euro sign
        {936, "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4", 0, false},            // 中文
        {949, "\xED\x95\x9C\xEA\xB5\xAD", "\xC7\xD1\xB1\xB9", 0, false},            // 한국
        {950, "\xE4\xB8\xAD\xE6\x96\x87", "\xA4\xA4\xA4\xE5", 0, false},            // 中文
        {kJisX0201, "\xEF\xBD\xB1\xEF\xBD\xB2\xC2\xA5", "\xB1\xB2\x5C", 0, false},  // ｱｲ¥
        {kJisX0201, "\\~\xE3\x82\xA2", "???", 3, false},  // backslash, tilde, full-width ア
        // A character of two bytes that does not fit whole is left out, with the rest.
        {932, a18 + "\xE6\x97\xA5", a18 + "\x93\xFA", 0, false},
        {932, a19 + "\xE6\x97\xA5x", a19, 0, true},
        {936, a19 + "\xE4\xB8\xAD", a19, 0, true},
        {949, a19 + "\xED\x95\x9C", a19, 0, true},
        {950, a19 + "\xE4\xB8\xAD", a19, 0, true},
        {1258, a19 + "\xE1\xBA\xA5", a19, 0, true},  // ấ is a letter and a tone mark
        {932, a19 + "\xE2\x82\xAC\xE2\x82\xAC", a19 + "?", 1, true},  // "?" is one byte
        {1252, std::string(25, 'b'), std::string(20, 'b'), 0, true},
        {1252, std::string(20, 'b'), std::string(20, 'b'), 0, false},
    };
    for (const Case& c : cases) {
        const EncodedLine line = EncodeLine(c.text, c.page);
        std::string expected = c.expected;
        expected.resize(kLineLength, ' ');
        EXPECT_EQ(std::string(line.bytes.begin(), line.bytes.end()), expected)
            << c.page << " " << c.text;
        EXPECT_EQ(line.replaced, c.replaced) << c.page << " " << c.text;
        EXPECT_EQ(line.cut, c.cut) << c.page << " " << c.text;
        // What was taken is a whole number of characters from the start of the text.
        if (line.cut) {
            EXPECT_EQ(EncodeLine(c.text.substr(0, line.taken), c.page).bytes, line.bytes)
                << c.page << " " << c.text;
        } else {
            EXPECT_EQ(line.taken, c.text.size()) << c.page << " " << c.text;
        }
    }
}

}  // namespace
}  // namespace vyx::protocol
