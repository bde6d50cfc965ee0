// The display commands, byte for byte on a pseudo-terminal.

#include "tests/DialogTestFixture.h"

namespace vyx::test {
namespace {

using app::CVYX_UtilityDlg;

Bytes Blanks(std::size_t n) {
    return Bytes(n, 0x20);
}
Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}
Bytes Ascii(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

using DialogCommandTest = DialogFixture;

// One press each, in this order on the same open port, so that a longer frame left in
// the main buffer would show up behind a shorter one.
TEST_F(DialogCommandTest, EveryButtonPutsItsExactBytesOnTheLine) {
    struct Case {
        const char* what;
        std::function<void(FakeWindow&)> operate;
        int button;
        Bytes line;
    };
    const Bytes emptyLines = Concat({{0x02, 0x29, 0x32}, Blanks(40), {0x03, 0x18}});
    const std::vector<Case> cases{
        {"two empty lines", [](FakeWindow&) {}, res::IDC_INPUT_STRING, emptyLines},
        {"change to 115200",
         [](FakeWindow& f) { f.Select(res::IDC_NEW_BAUD, 4); },
         res::IDC_CHANGE_BAUD,
         {0x02, 0x02, 0x33, 0x04, 0x03, 0x36}},
        {"change to 9600",
         [](FakeWindow& f) { f.Select(res::IDC_NEW_BAUD, 0); },
         res::IDC_CHANGE_BAUD,
         {0x02, 0x02, 0x33, 0x00, 0x03, 0x32}},
        {"command set LD220",
         [](FakeWindow&) {},
         res::IDC_SET_COMMAND_SET,
         {0x02, 0x02, 0x34, 0x00, 0x03, 0x35}},
        {"command set LOGIC CONTROL",
         [](FakeWindow& f) { f.Select(res::IDC_COMMAND_SET, 9); },
         res::IDC_SET_COMMAND_SET,
         {0x02, 0x02, 0x34, 0x09, 0x03, 0x3C}},
        {"default font USA",
         [](FakeWindow&) {},
         res::IDC_SET_DEFAULT_FONT,
         {0x02, 0x02, 0x35, 0x00, 0x03, 0x34}},
        {"default font Russian(Windows-1251)",
         [](FakeWindow& f) { f.Select(res::IDC_DEFAULT_FONT, 17); },
         res::IDC_SET_DEFAULT_FONT,
         {0x02, 0x02, 0x35, 0x11, 0x03, 0x25}},
        {"language USA",
         [](FakeWindow&) {},
         res::IDC_FONT_SET,
         {0x02, 0x02, 0x36, 0x00, 0x03, 0x37}},
        {"language Russia",
         [](FakeWindow& f) { f.Select(res::IDC_LANGUAGE, 12); },
         res::IDC_FONT_SET,
         {0x02, 0x02, 0x36, 0x0C, 0x03, 0x3B}},
        {"abc on line 1",
         [](FakeWindow& f) {
             f.Type(res::IDC_LINE1, "abc");
             f.Type(res::IDC_LINE2, "");
         },
         res::IDC_INPUT_STRING,
         Concat({{0x02, 0x29, 0x32}, Ascii("abc"), Blanks(17), Blanks(20), {0x03, 0x58}})},
        {"20 and 25 characters, non-Latin text",
         [](FakeWindow& f) {
             f.Type(res::IDC_LINE1, "ABCDEFGHIJKLMNOPQRSTUVWXY");
             f.Type(res::IDC_LINE2, "\xD0\x96\xC3\xA9\xE2\x82\xAC");  // Cyrillic Zhe, e-acute, euro
         },
         res::IDC_INPUT_STRING,
         Concat({{0x02, 0x29, 0x32},
                 Ascii("ABCDEFGHIJKLMNOPQRST"),
                 {'?', 0xE9, 0x80},
                 Blanks(17),
                 {0x03, 0x7A}})},
        {"information query",
         [](FakeWindow&) {},
         res::IDC_INFORMATION,
         {0x02, 0x01, 0x44, 0x03, 0x46}},
    };
    OpenCom1();
    for (const Case& c : cases) {
        c.operate(m_Fake);
        m_Fake.Click(c.button);
        EXPECT_EQ(Line(c.line.size()), c.line) << c.what;
    }
    EXPECT_TRUE(QueuedNothingMore().empty());
    EXPECT_TRUE(m_Fake.Boxes().empty());
    // The edit boxes keep the operator's text.
    EXPECT_EQ(m_Fake.GetDlgItemText(res::IDC_LINE1), "ABCDEFGHIJKLMNOPQRSTUVWXY");
}

TEST_F(DialogCommandTest, ListsWithoutSelectionSendNothingAndCue) {
    OpenCom1();
    const std::pair<int, int> lists[] = {{res::IDC_NEW_BAUD, res::IDC_CHANGE_BAUD},
                                         {res::IDC_COMMAND_SET, res::IDC_SET_COMMAND_SET},
                                         {res::IDC_DEFAULT_FONT, res::IDC_SET_DEFAULT_FONT},
                                         {res::IDC_LANGUAGE, res::IDC_FONT_SET}};
    int beeps = 0;
    for (const auto& [list, button] : lists) {
        m_Fake.EditListText(list, "typed");
        m_Fake.Click(button);
        EXPECT_EQ(m_Fake.Beeps(), ++beeps) << button;
    }
    // Nothing went out before the query: its five bytes are the first on the line.
    m_Fake.Click(res::IDC_INFORMATION);
    EXPECT_EQ(Line(5), (Bytes{0x02, 0x01, 0x44, 0x03, 0x46}));
    EXPECT_TRUE(m_Fake.Boxes().empty());
}

TEST_F(DialogCommandTest, CommandButtonsAreInertWhileClosed) {
    for (const int button : {res::IDC_CHANGE_BAUD, res::IDC_INPUT_STRING, res::IDC_CELL_TEST,
                             res::IDC_INFORMATION, res::IDC_PROGRAM_DOWNLOAD, res::IDC_CLOSE}) {
        m_Fake.Click(button);
    }
    const bool toggle = CVYX_UtilityDlg::CellTestToggle();
    EXPECT_TRUE(m_Fake.Boxes().empty());
    EXPECT_EQ(CVYX_UtilityDlg::CellTestToggle(), toggle);
    EXPECT_EQ(CVYX_UtilityDlg::GetResponseState(), app::ResponseState::Idle);
    OpenCom1();
    EXPECT_TRUE(QueuedNothingMore().empty());
}

TEST_F(DialogCommandTest, CellTestAlternatesAcrossCloseAndReopen) {
    // The toggle lives for the whole program; earlier tests in this process may have
    // flipped it, so the sequence is checked from wherever it stands.
    bool block = CVYX_UtilityDlg::CellTestToggle();
    auto pattern = [](bool b) { return Bytes(40, b ? 0xDB : 0x20); };
    OpenCom1();
    m_Fake.Click(res::IDC_CELL_TEST);
    EXPECT_EQ(Line(40), pattern(block));
    block = !block;
    EXPECT_EQ(CVYX_UtilityDlg::CellTestToggle(), block);
    m_Fake.Click(res::IDC_CELL_TEST);
    EXPECT_EQ(Line(40), pattern(block));
    block = !block;

    m_Fake.Click(res::IDC_CLOSE);
    OpenCom1();
    m_Fake.Click(res::IDC_CELL_TEST);
    EXPECT_EQ(Line(40), pattern(block));
    // A 6-byte frame after it sends only its own bytes.
    m_Fake.Click(res::IDC_SET_COMMAND_SET);
    EXPECT_EQ(Line(6), (Bytes{0x02, 0x02, 0x34, 0x00, 0x03, 0x35}));
    EXPECT_TRUE(QueuedNothingMore().empty());
}

TEST_F(DialogCommandTest, FirstCellTestOfTheProgramSendsBlanks) {
    // ctest runs each test in a process of its own, where this is the first press.
    // Within one longer run the toggle is whatever earlier tests left.
    if (CVYX_UtilityDlg::CellTestToggle()) {
        GTEST_SKIP() << "an earlier test in this process pressed the cell test";
    }
    OpenCom1();
    m_Fake.Click(res::IDC_CELL_TEST);
    EXPECT_EQ(Line(40), Blanks(40));
}

}  // namespace
}  // namespace vyx::test
