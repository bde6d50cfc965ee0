// Start-up, enable states, port open/close/exit, window menu and icon placement.

#include "serial/ComName.h"
#include "tests/DialogTestFixture.h"

namespace vyx::test {
namespace {

using app::CVYX_UtilityDlg;
using app::MessageCaption;

constexpr unsigned kStop = 0x10;
constexpr unsigned kInformation = 0x40;

// Every control that EnablePortControls switches, or must leave alone, with its
// expected state closed and open.
struct EnableRow {
    int id;
    bool closed;
    bool open;
};
constexpr EnableRow kEnableTable[] = {
    {res::IDC_PORT_OPEN, true, false},
    {res::IDC_CLOSE, false, true},
    {res::IDC_CHANGE_BAUD, false, true},
    {res::IDC_INPUT_STRING, false, true},
    {res::IDC_SET_COMMAND_SET, false, true},
    {res::IDC_SET_DEFAULT_FONT, false, true},
    {res::IDC_FONT_SET, false, true},
    {res::IDC_INFORMATION, false, true},
    {res::IDC_CELL_TEST, false, true},
    {res::IDC_PROGRAM_DOWNLOAD, false, true},
    {res::IDC_EXIT, true, true},
    {res::IDC_CURRENT_BAUD, true, true},
    {res::IDC_NEW_BAUD, true, true},
    {res::IDC_COM_PORT, true, true},
    {res::IDC_COMMAND_SET, true, true},
    {res::IDC_DEFAULT_FONT, true, true},
    {res::IDC_LANGUAGE, true, true},
    {res::IDC_LINE1, true, true},
    {res::IDC_LINE2, true, true},
};

void ExpectEnableState(const FakeWindow& fake, bool open) {
    for (const EnableRow& row : kEnableTable) {
        EXPECT_EQ(fake.IsWindowEnabled(row.id), open ? row.open : row.closed)
            << "control " << row.id << (open ? " open" : " closed");
    }
}

TEST(DialogStartTest, InitialisesInOrder) {
    FakeWindow fake;
    CVYX_UtilityDlg dlg(fake);
    fake.Attach(&dlg);
    ASSERT_EQ(dlg.OnInitDialog(), 1);

    FakeWindow::Log expected;
    for (int n = 1; n <= 20; ++n) {
        expected.push_back("AddString 1023  COM " + std::to_string(n) + " ");
    }
    for (const char* sel : {"1023 3", "1020 0", "1022 0", "1024 0", "1025 0", "1053 0"}) {
        expected.push_back(std::string("SetCurSel ") + sel);
    }
    for (const char* en : {"1006 0", "1007 0", "1014 0", "1054 0", "1010 0", "1011 0", "1013 0",
                           "1056 0", "1005 1", "1016 0"}) {
        expected.push_back(std::string("EnableWindow ") + en);
    }
    expected.push_back("AppendSystemMenuSeparator");
    expected.push_back("AppendSystemMenuItem 16 &About VYX Utility Ver 2.05...");
    expected.push_back("SetIcons");
    EXPECT_EQ(fake.Calls(), expected);

    EXPECT_EQ(fake.Entries(res::IDC_COM_PORT).front(), " COM 1 ");
    EXPECT_EQ(fake.Entries(res::IDC_COM_PORT).back(), " COM 20 ");
    EXPECT_EQ(fake.GetCurSel(res::IDC_COM_PORT), 3);
    ExpectEnableState(fake, false);
    EXPECT_TRUE(fake.Boxes().empty());
    EXPECT_EQ(CVYX_UtilityDlg::GetResponseState(), app::ResponseState::Idle);
    EXPECT_EQ(dlg.m_Comm.m_bConnected.load(), 0);
}

TEST(DialogStartTest, NoWindowMenuAppendsNothing) {
    FakeWindow fake;
    fake.SetHasSystemMenu(false);
    CVYX_UtilityDlg dlg(fake);
    dlg.OnInitDialog();
    EXPECT_TRUE(fake.SystemMenu().empty());
    EXPECT_EQ(fake.IconSets(), 1);
}

TEST(DialogStartTest, EnablePortControlsSequence) {
    FakeWindow fake;
    CVYX_UtilityDlg dlg(fake);
    dlg.EnablePortControls(1);
    const std::vector<std::pair<int, bool>> open{
        {1006, true}, {1007, true}, {1014, true}, {1054, true},  {1010, true},
        {1011, true}, {1013, true}, {1056, true}, {1005, false}, {1016, true}};
    EXPECT_EQ(fake.Enables(), open);
    ExpectEnableState(fake, true);
    // Any other state changes nothing.
    fake.ClearLog();
    dlg.EnablePortControls(2);
    dlg.EnablePortControls(-1);
    EXPECT_TRUE(fake.Enables().empty());
}

TEST(DialogStartTest, SystemCommandsMaskLowBits) {
    FakeWindow fake;
    CVYX_UtilityDlg dlg(fake);
    dlg.OnSysCommand(res::IDM_ABOUTBOX | 0x0F, 0);
    EXPECT_EQ(fake.AboutBoxes(), 1);
    dlg.OnMessage(app::WM_SYSCOMMAND, res::IDM_ABOUTBOX | 0x03, 0);
    EXPECT_EQ(fake.AboutBoxes(), 2);
    dlg.OnSysCommand(0xF020, 0);  // minimise: the window's own business
    dlg.OnSysCommand(0x0020, 0);
    EXPECT_EQ(fake.AboutBoxes(), 2);
    EXPECT_TRUE(fake.Boxes().empty());
}

TEST(DialogStartTest, MinimisedIconPlacement) {
    struct Case {
        int client;
        int expected;
    };
    for (const Case c : {Case{32, 0}, Case{33, 1}, Case{30, 0}, Case{28, -1}}) {
        const auto [x, y] = CVYX_UtilityDlg::MinimisedIconPosition(c.client, c.client, 32, 32);
        EXPECT_EQ(x, c.expected) << c.client;
        EXPECT_EQ(y, c.expected) << c.client;
    }
    EXPECT_EQ(CVYX_UtilityDlg::MinimisedIconPosition(100, 28, 32, 32), std::make_pair(34, -1));
}

TEST(DialogStartTest, MessageTableRoutesEveryButton) {
    std::vector<int> commands;
    std::vector<std::uint32_t> messages;
    for (const app::MessageMapEntry& e : CVYX_UtilityDlg::MessageMap()) {
        if (e.kind == app::MessageMapEntry::Kind::Command) {
            commands.push_back(static_cast<int>(e.id));
            EXPECT_NE(e.onCommand, nullptr);
        } else {
            messages.push_back(e.id);
            EXPECT_NE(e.onMessage, nullptr);
        }
    }
    EXPECT_EQ(commands,
              (std::vector<int>{1005, 1015, 1016, 1006, 1007, 1010, 1011, 1054, 1056, 1013, 1014}));
    EXPECT_EQ(messages, (std::vector<std::uint32_t>{0x0112, 0x0401}));
}

using DialogPortTest = DialogFixture;

TEST_F(DialogPortTest, OpensCom1At115200) {
    OpenCom1(4);
    EXPECT_EQ(m_Dlg->m_Comm.m_PortName, "COM1");
    EXPECT_EQ(m_Dlg->m_Comm.m_PortNumber, 1);
    EXPECT_EQ(m_Dlg->m_nComPort, 1);
    EXPECT_EQ(m_Dlg->m_nBaudRate, 115200);
    EXPECT_EQ(m_Dlg->m_Comm.m_hNotifyWnd, &m_Fake.Notifier());
    EXPECT_EQ(m_Line.OpenedRates(), std::vector<std::uint32_t>{115200});
    ExpectEnableState(m_Fake, true);
    // A click on the now disabled "Port Open" does nothing.
    m_Fake.Click(res::IDC_PORT_OPEN);
    EXPECT_TRUE(m_Fake.Boxes().empty());
}

TEST_F(DialogPortTest, OpenFailuresShowTheStopBox) {
    // COM 20 names a device that does not exist (on POSIX a link in the ports folder).
    ASSERT_TRUE(MapComPort(m_Ports.Path(), "COM20", (m_Ports.Path() / "absent").string()));
    ASSERT_NE(ResolvePortName("COM20"), ResolvePortName("COM1"));
    struct Case {
        const char* what;
        int comIndex;  // -1: the text field was edited
        const char* device;
        int comPort;
    };
    for (const Case c : {Case{"missing", 19, "COM20", 20}, Case{"no selection", -1, "COM0", 0}}) {
        m_Fake.ClearLog();
        if (c.comIndex < 0) {
            m_Fake.EditListText(res::IDC_COM_PORT, "COM 1");
        } else {
            m_Fake.Select(res::IDC_COM_PORT, c.comIndex);
        }
        m_Fake.Click(res::IDC_PORT_OPEN);
        ASSERT_EQ(m_Fake.Boxes().size(), 1u) << c.what;
        EXPECT_EQ(m_Fake.Boxes()[0].text, "Com port open failed !");
        EXPECT_EQ(m_Fake.Boxes()[0].caption, " VYX Utility Ver 2.05  ");
        EXPECT_EQ(m_Fake.Boxes()[0].style, kStop);
        EXPECT_EQ(m_Dlg->m_Comm.m_PortName, c.device) << c.what;
        EXPECT_EQ(m_Dlg->m_nComPort, c.comPort);
        EXPECT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 0);
        ExpectEnableState(m_Fake, false);
    }
    EXPECT_EQ(MessageCaption, " VYX Utility Ver 2.05  ");
}

TEST_F(DialogPortTest, CloseAlwaysShowsItsBox) {
    OpenCom1();
    m_Fake.Click(res::IDC_CLOSE);
    ASSERT_EQ(m_Fake.Boxes().size(), 1u);
    EXPECT_EQ(m_Fake.Boxes()[0].text, "Com port closed !");
    EXPECT_EQ(m_Fake.Boxes()[0].caption, MessageCaption);
    EXPECT_EQ(m_Fake.Boxes()[0].style, kInformation);
    EXPECT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 0);
    EXPECT_EQ(m_Dlg->m_Comm.RunningWatchers(), 0);
    ExpectEnableState(m_Fake, false);

    // The port stopped being connected behind the controls' back: "Close" still says so.
    OpenCom1();
    m_Dlg->m_Comm.ClosePort();
    ExpectEnableState(m_Fake, true);
    m_Fake.Click(res::IDC_CLOSE);
    ASSERT_EQ(m_Fake.Boxes().size(), 2u);
    EXPECT_EQ(m_Fake.Boxes()[1].text, "Com port closed !");
    ExpectEnableState(m_Fake, false);
}

TEST_F(DialogPortTest, ExitClosesWithoutAMessage) {
    OpenCom1();
    m_Fake.Click(res::IDC_EXIT);
    EXPECT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 0);
    EXPECT_EQ(m_Dlg->m_Comm.RunningWatchers(), 0);
    EXPECT_EQ(m_Fake.EndResult(), res::IDCANCEL);
    EXPECT_TRUE(m_Fake.Boxes().empty());
}

TEST_F(DialogPortTest, DestructionClosesTheOpenPort) {
    // One opening first, so that runtime threads started with the first thread (TSan's)
    // are in the baseline.
    OpenCom1();
    m_Fake.Click(res::IDC_CLOSE);
    const int threads = ThreadCount();
    OpenCom1();
    EXPECT_EQ(m_Line.OpenNow(), 1);
    m_Dlg.reset();
    m_Fake.Attach(nullptr);
    EXPECT_EQ(m_Line.OpenNow(), 0);
    EXPECT_EQ(ThreadCount(), threads);
}

TEST_F(DialogPortTest, RateWithoutSelectionReusesThePreviousOne) {
    OpenCom1(3);  // 57600
    m_Fake.Click(res::IDC_CLOSE);
    m_Fake.EditListText(res::IDC_CURRENT_BAUD, "14400");
    m_Fake.Click(res::IDC_PORT_OPEN);
    ASSERT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 1);
    EXPECT_EQ(m_Dlg->m_nBaudRate, 57600);
    EXPECT_EQ(m_Line.OpenedRates(), (std::vector<std::uint32_t>{57600, 57600}));
}

TEST_F(DialogPortTest, RateWithoutSelectionBeforeAnyOpenIsRefused) {
    m_Fake.Select(res::IDC_COM_PORT, 0);
    m_Fake.EditListText(res::IDC_CURRENT_BAUD, "9600 baud");
    m_Fake.Click(res::IDC_PORT_OPEN);
    ASSERT_EQ(m_Fake.Boxes().size(), 1u);
    EXPECT_EQ(m_Fake.Boxes()[0].text, "Com port open failed !");
    EXPECT_EQ(m_Fake.Boxes()[0].style, kStop);
    EXPECT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 0);
    ExpectEnableState(m_Fake, false);
}

TEST_F(DialogPortTest, NewSelectionsWaitForTheNextOpen) {
    OpenCom1(4);
    m_Fake.Select(res::IDC_CURRENT_BAUD, 0);
    m_Fake.Select(res::IDC_COM_PORT, 5);
    EXPECT_EQ(m_Line.OpenedRates(), std::vector<std::uint32_t>{115200});
    EXPECT_EQ(m_Dlg->m_nComPort, 1);
    m_Fake.Click(res::IDC_CLOSE);
    m_Fake.Select(res::IDC_COM_PORT, 0);
    m_Fake.Click(res::IDC_PORT_OPEN);
    EXPECT_EQ(m_Line.OpenedRates(), (std::vector<std::uint32_t>{115200, 9600}));
}

}  // namespace
}  // namespace vyx::test
