// vyxctl's output formatting as pure functions: info's lines, the meaning of a frame,
// the trace dump and the escaping of text from the display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Formatting.h"
#include "tests/support/InformationReply.h"

namespace vyx::cli {
namespace {

using namespace std::chrono_literals;

using test::Reply;

TEST(CliFormattingTest, InformationTextNamesEveryCode) {
    const struct {
        const char* what;
        std::vector<std::uint8_t> reply;
        std::string text;
    } cases[] = {
        {"the first entries", Reply("V1.0", 0, 0, 0, 0),
         "version       V1.0\n"
         "command set   0x00 (0)    LD220\n"
         "default font  0x00 (0)    USA(CP-437)\n"
         "language      0x00 (0)    (US) USA\n"
         "baud rate     0x00 (0)    9600 bps\n"},
        {"the last entries", Reply("VYX 2.05b", 9, 17, 12, 4),
         "version       VYX 2.05b\n"
         "command set   0x09 (9)    LOGIC CONTROL\n"
         "default font  0x11 (17)   Russian(Windows-1251)\n"
         "language      0x0C (12)   (RU) Russia\n"
         "baud rate     0x04 (4)    115200 bps\n"},
        {"codes beyond the lists", Reply("x", 10, 0x1F, 0xFF, 5),
         "version       x\n"
         "command set   0x0A (10)   (not in the list)\n"
         "default font  0x1F (31)   (not in the list)\n"
         "language      0xFF (255)  (not in the list)\n"
         "baud rate     0x05 (5)    (not in the list)\n"},
        // ESC [ 2 J would clear the user's screen; CSI (0x9B in Windows-1252 is a
        // character, the lone C1 0x81 is not) must not reach the terminal either.
        {"control bytes in the version", Reply("\x1b[2J\x07\\a\x7f", 1, 8, 1, 4),
         "version       \\x1B[2J\\x07\\\\a\\x7F\n"
         "command set   0x01 (1)    EPSON POS D101\n"
         "default font  0x08 (8)    Euro(CP-858)\n"
         "language      0x01 (1)    (FR) France\n"
         "baud rate     0x04 (4)    115200 bps\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(InformationText(c.reply, 1252), c.text);
    }
}

TEST(CliFormattingTest, EscapeControlsLeavesNoControlCharacter) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain text €", "plain text €"},
        {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},
        {"\xc2\x9b"
         "31m",
         "\\u009B31m"},  // C1 CSI as UTF-8
        {"a\\b", "a\\\\b"},
        {"\r\n\t", "\\x0D\\x0A\\x09"},
        {"\xc2\xa0", "\xc2\xa0"},  // no-break space is no control
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeControls(c.in), c.out);
    }
}

TEST(CliFormattingTest, DescribeFrameSaysWhatABlockMeans) {
    std::vector<std::uint8_t> text = {0x02, 0x29, 0x32};
    for (const char* line : {"Total               ", "12.50 \x80\"            "}) {
        text.insert(text.end(), line, line + 20);
    }
    text.insert(text.end(), {0x03, 0x00});
    const struct {
        std::vector<std::uint8_t> bytes;
        std::string meaning;
    } cases[] = {
        {{0x02, 0x01, 0x44, 0x03, 0x46}, "information query"},
        {{0x02, 0x02, 0x34, 0x01, 0x03, 0x34}, "command set -> 0x01 EPSON POS D101"},
        {{0x02, 0x02, 0x35, 0x08, 0x03, 0x3C}, "default font -> 0x08 Euro(CP-858)"},
        {{0x02, 0x02, 0x36, 0x01, 0x03, 0x36}, "language -> 0x01 (FR) France"},
        {{0x02, 0x02, 0x33, 0x04, 0x03, 0x36}, "baud rate -> 0x04 115200 bps"},
        {{0x02, 0x02, 0x34, 0x0F, 0x03, 0x3A}, "command set -> 0x0F (not in the list)"},
        {{0x02, 0x03, 0x40, 0xAA, 0x55, 0x03, 0xBD}, "download mode"},
        {text, "text \"Total               \" \"12.50 \\x80\\x22            \""},
        {std::vector<std::uint8_t>(40, 0x20), "cell test: blank"},
        {std::vector<std::uint8_t>(40, 0xDB), "cell test: block"},
        {{0x02, 0x01, 0x58, 0x03, 0x5A}, "unknown command 0x58"},
        {{0x02, 0x05, 0x44, 0x03}, "not a frame"},
        {{}, "not a frame"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescribeFrame(c.bytes), c.meaning) << HexBytes(c.bytes);
    }
}

TEST(CliFormattingTest, TraceLinesDumpHexAndAscii) {
    std::vector<std::uint8_t> eighteen;
    for (std::uint8_t byte = 0x41; byte <= 0x52; ++byte) {
        eighteen.push_back(byte);
    }
    eighteen[1] = 0x00;
    const struct {
        std::chrono::microseconds time;
        char direction;
        std::vector<std::uint8_t> bytes;
        std::string lines;
    } cases[] = {
        {12h + 1s + 234567us,
         '>',
         {0x02, 0x01, 0x44, 0x03, 0x46},
         "12:00:01.234567 > 02 01 44 03 46  ..D.F\n"},
        {23h + 59min + 59s + 999999us, '<', eighteen,
         "23:59:59.999999 < 41 00 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50  A.CDEFGHIJKLMNOP\n"
         "23:59:59.999999 < 51 52  QR\n"},
        {0us,
         '<',
         {0x1B, 0x5B, 0x32, 0x4A, 0xDB, 0x7F},
         "00:00:00.000000 < 1B 5B 32 4A DB 7F  .[2J..\n"},
        {0us, '>', {}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TraceLines(c.time, c.direction, c.bytes), c.lines);
    }
}

}  // namespace
}  // namespace vyx::cli
