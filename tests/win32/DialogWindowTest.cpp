// The Windows dialog's real window, in this process, under Wine: the dialog manager
// builds it from the template, the dialog's behaviour drives it, and the steps below
// play the operator from inside its message loops (and those of its message boxes).
// The serial line is a FakeLine, so no COM port is needed.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/VYX_UtilityDlg.h"
#include "app/win32/Win32DialogWindow.h"
#include "protocol/CodePage.h"
#include "protocol/Report.h"
#include "resources/ControlIds.h"
#include "resources/Lists.h"
#include "resources/StringTable.h"
#include "resources/Templates.h"
#include "tests/support/FakeDevice.h"
#include "tests/support/InformationReply.h"
#include "tests/win32/WindowDriver.h"

namespace vyx::test {
namespace {

namespace res = vyx::resources;
using win32::Window;

constexpr unsigned kDeadlineMs = 20000;
const std::string kTitle(res::kMainDialogTemplate.title);

// The dialog and its window, run modally by Run() while `steps` play the operator.
class DialogWindowTest : public ::testing::Test {
  protected:
    DialogWindowTest() : m_Line("\\\\.\\COM4") {
        m_Dialog = std::make_unique<app::CVYX_UtilityDlg>(m_Window);
        m_Dialog->m_Comm.SetDeviceOpener(m_Line.Opener());
        // The first step of every test: the dialog is up.
        m_Steps.Add([this] { return (m_Dialog_ = win32::FindDialog(kTitle)) != nullptr; });
    }

    // Runs the dialog until it ends; returns its result. Fails the test when the steps
    // did not all finish in time.
    int Run() {
        m_Steps.Start();
        const int result = m_Window.DoModal(*m_Dialog);
        EXPECT_FALSE(m_Steps.TimedOut()) << "the steps did not finish in time";
        EXPECT_TRUE(m_Steps.Finished());
        return result;
    }
    // A step that waits for a message box with `caption`, keeps its text and closes it.
    void CloseBox(const std::string& caption, std::string* text, bool* icon = nullptr) {
        m_Steps.Add([caption, text, icon] {
            const Window box = win32::FindDialog(caption);
            if (box == nullptr) {
                return false;
            }
            *text = win32::BoxText(box);
            if (icon != nullptr) {
                *icon = win32::HasIcon(box);
            }
            win32::PressOk(box);
            return true;
        });
    }
    void Then(std::function<void()> action) {
        m_Steps.Add([action = std::move(action)] {
            action();
            return true;
        });
    }
    void EndWithEscape() {
        Then([this] { win32::Click(m_Dialog_, res::IDCANCEL); });
    }

    FakeLine m_Line;
    app::Win32DialogWindow m_Window;
    std::unique_ptr<app::CVYX_UtilityDlg> m_Dialog;
    // The steps end the dialog themselves; if they time out, Cancel ends it.
    win32::StepRunner m_Steps{kDeadlineMs, [this] {
                                  if (m_Dialog_ != nullptr) {
                                      win32::Click(m_Dialog_, res::IDCANCEL);
                                  }
                              }};
    Window m_Dialog_ = nullptr;  // the dialog's window, once it is up
};

TEST_F(DialogWindowTest, StartsWithTheListsFilledSelectedAndOnlyPortOpenAndExitEnabled) {
    struct ListCase {
        int id;
        int count;
    };
    const ListCase lists[] = {
        {res::IDC_COM_PORT, res::kComPortCount},
        {res::IDC_CURRENT_BAUD, static_cast<int>(res::kBaudRateEntries.size())},
        {res::IDC_NEW_BAUD, static_cast<int>(res::kBaudRateEntries.size())},
        {res::IDC_COMMAND_SET, static_cast<int>(res::kCommandSetEntries.size())},
        {res::IDC_DEFAULT_FONT, static_cast<int>(res::kDefaultFontEntries.size())},
        {res::IDC_LANGUAGE, static_cast<int>(res::kLanguageEntries.size())},
    };
    Then([&] {
        EXPECT_EQ(win32::Title(m_Dialog_), "VYX Utility Ver 2.05");
        for (const ListCase& list : lists) {
            EXPECT_EQ(win32::ComboCount(m_Dialog_, list.id), list.count) << list.id;
            EXPECT_EQ(win32::ComboSelection(m_Dialog_, list.id),
                      list.id == res::IDC_COM_PORT ? res::kDefaultComIndex : 0)
                << list.id;
        }
        for (const int id : {res::IDC_PORT_OPEN, res::IDC_EXIT, res::IDC_LINE1, res::IDC_LINE2}) {
            EXPECT_TRUE(win32::Enabled(m_Dialog_, id)) << id;
        }
        for (const int id : {res::IDC_CLOSE, res::IDC_CHANGE_BAUD, res::IDC_INPUT_STRING,
                             res::IDC_PROGRAM_DOWNLOAD, res::IDC_FONT_SET, res::IDC_SET_COMMAND_SET,
                             res::IDC_SET_DEFAULT_FONT, res::IDC_INFORMATION, res::IDC_CELL_TEST}) {
            EXPECT_FALSE(win32::Enabled(m_Dialog_, id)) << id;
        }
    });
    EndWithEscape();
    EXPECT_EQ(Run(), res::IDCANCEL);
}

TEST_F(DialogWindowTest, TheWindowMenuEndsWithASeparatorAndTheAboutItem) {
    std::vector<win32::MenuEntry> menu;
    Then([&] { menu = win32::WindowMenu(m_Dialog_); });
    EndWithEscape();
    Run();
    ASSERT_GE(menu.size(), 3u);
    const win32::MenuEntry& separator = menu[menu.size() - 2];
    const win32::MenuEntry& about = menu.back();
    EXPECT_TRUE(separator.separator);
    EXPECT_FALSE(about.separator);
    EXPECT_EQ(about.id, res::IDM_ABOUTBOX);
    EXPECT_EQ(about.text, res::kAboutItemText);
    EXPECT_FALSE(menu[menu.size() - 3].separator) << "one separator, after the system's items";
}

TEST_F(DialogWindowTest, TheAboutCommandWithItsLowBitsSetOpensTheAboutBoxAndOkClosesIt) {
    std::string aboutTitle;
    bool mainStillUp = false;
    // The system delivers window-menu commands with four low bits of its own.
    Then([&] { win32::SendSysCommand(m_Dialog_, res::IDM_ABOUTBOX | 0x3); });
    m_Steps.Add([&] {
        const Window about = win32::FindDialog(std::string(res::kAboutDialogTemplate.title));
        if (about == nullptr) {
            return false;
        }
        aboutTitle = win32::Title(about);
        win32::PressOk(about);
        return true;
    });
    m_Steps.Add([&]() -> bool {
        return win32::FindDialog(std::string(res::kAboutDialogTemplate.title)) == nullptr;
    });
    Then([&] { mainStillUp = win32::FindDialog(kTitle) != nullptr; });
    EndWithEscape();
    EXPECT_EQ(Run(), res::IDCANCEL);
    EXPECT_EQ(aboutTitle, res::kAboutDialogTemplate.title);
    EXPECT_TRUE(mainStillUp);
}

TEST_F(DialogWindowTest, AFailedOpenShowsItsBoxAndLeavesTheClosedState) {
    std::string text;
    bool icon = false;
    bool portOpenEnabled = false;
    bool closeEnabled = true;
    Then([&] {
        m_Line.FailNextOpen(
            SerialError{SerialError::Kind::NoDevice, "CreateFile", "\\\\.\\COM4", 2, "not found"});
    });
    Then([&] { win32::Click(m_Dialog_, res::IDC_PORT_OPEN); });
    CloseBox(app::MessageCaption, &text, &icon);
    m_Steps.Add([&] { return win32::FindDialog(app::MessageCaption) == nullptr; });
    Then([&] {
        portOpenEnabled = win32::Enabled(m_Dialog_, res::IDC_PORT_OPEN);
        closeEnabled = win32::Enabled(m_Dialog_, res::IDC_CLOSE);
    });
    EndWithEscape();
    Run();
    EXPECT_EQ(text, "Com port open failed !");
    EXPECT_TRUE(icon) << "the stop icon";
    EXPECT_TRUE(portOpenEnabled);
    EXPECT_FALSE(closeEnabled);
}

// The watcher's WM_COMM_READ reaches the dialog through the system's PostMessage; it is
// WM_USER + 1, which the dialog manager would take for DM_SETDEFID.
TEST_F(DialogWindowTest, AnInformationReplyPostedByTheWatcherShowsTheReportAndSetsNoDefaultButton) {
    const auto reply = Reply("V1.0", 1, 9, 2, 0);
    std::string report;
    int defaultBefore = -1;
    int defaultButton = -1;
    Then([&] { defaultBefore = win32::DefaultButton(m_Dialog_); });
    Then([&] { win32::Click(m_Dialog_, res::IDC_PORT_OPEN); });
    m_Steps.Add([&] { return win32::Enabled(m_Dialog_, res::IDC_INFORMATION); });
    Then([&] { win32::Click(m_Dialog_, res::IDC_INFORMATION); });
    m_Steps.Add([&] {
        // The query is out before the reply comes.
        return m_Line.TakeWritten(5, std::chrono::milliseconds(0)).size() == 5 &&
               m_Line.Arrive(reply);
    });
    CloseBox(app::InformationCaption, &report);
    m_Steps.Add([&] { return win32::FindDialog(app::InformationCaption) == nullptr; });
    Then([&] { defaultButton = win32::DefaultButton(m_Dialog_); });
    Then([&] { win32::Click(m_Dialog_, res::IDC_EXIT); });
    EXPECT_EQ(Run(), res::IDCANCEL);
    EXPECT_EQ(report, protocol::BuildInformationReport(reply, protocol::SystemCodePage()));
    EXPECT_NE(defaultButton, 4) << "the port number became the default button id";
    EXPECT_EQ(defaultButton, defaultBefore);
    EXPECT_EQ(m_Line.OpenNow(), 0) << "EXIT closes the port";
}

// The watcher's own box: the application's message box, style 0 (OK, no icon), captioned
// with the application's title, shown on the watcher's thread while the dialog goes on.
TEST_F(DialogWindowTest, TheOverflowBoxIsTheApplicationsOwnOnTheWatcherThread) {
    app::Win32AppMessageBox appBox("VYX_Utility");
    m_Dialog->m_Comm.m_pAppMessageBox = &appBox;
    std::string text;
    bool icon = true;
    bool dialogThread = true;
    bool dialogUsable = false;
    Then([&] { win32::Click(m_Dialog_, res::IDC_PORT_OPEN); });
    m_Steps.Add([&] { return m_Line.OpenNow() == 1; });
    Then([&] { m_Line.Arrive(std::vector<std::uint8_t>(8192, 0x41)); });
    m_Steps.Add([&] {
        const Window box = win32::FindDialog("VYX_Utility");
        if (box == nullptr) {
            return false;
        }
        text = win32::BoxText(box);
        icon = win32::HasIcon(box);
        dialogThread = win32::SameThread(box, m_Dialog_);
        // The dialog is not held up by the box: its controls still answer.
        dialogUsable = win32::Enabled(m_Dialog_, res::IDC_CLOSE);
        win32::PressOk(box);
        return true;
    });
    // Dismissed, the watcher closes and reopens the port on the same settings.
    m_Steps.Add([&] { return m_Dialog->m_Comm.SuccessfulOpens() == 2; });
    Then([&] { win32::Click(m_Dialog_, res::IDC_EXIT); });
    EXPECT_EQ(Run(), res::IDCANCEL);
    m_Dialog.reset();
    EXPECT_EQ(text, "m_QueueRead FULL!");
    EXPECT_FALSE(icon);
    EXPECT_FALSE(dialogThread);
    EXPECT_TRUE(dialogUsable);
}

// "Port Open" disables itself when it opens the port; the focus it held moves on to the
// next enabled tab stop instead of staying on a control no key reaches.
TEST_F(DialogWindowTest, TheFocusLeavesAButtonThatIsDisabledWhileItHasIt) {
    int focusBefore = -1;
    int focusAfterOpen = -1;
    int focusAfterClose = -1;
    Then([&] {
        win32::Focus(m_Dialog_, res::IDC_PORT_OPEN);
        focusBefore = win32::FocusedControl(m_Dialog_);
        win32::Click(m_Dialog_, res::IDC_PORT_OPEN);
    });
    m_Steps.Add([&] { return m_Line.OpenNow() == 1; });
    Then([&] {
        focusAfterOpen = win32::FocusedControl(m_Dialog_);
        // "Close" shows its box; the steps after it run inside the box.
        win32::Focus(m_Dialog_, res::IDC_CLOSE);
        win32::Click(m_Dialog_, res::IDC_CLOSE);
    });
    std::string text;
    CloseBox(app::MessageCaption, &text);
    bool focusEnabled = false;
    Then([&] {
        focusAfterClose = win32::FocusedControl(m_Dialog_);
        focusEnabled = focusAfterClose != 0 && win32::Enabled(m_Dialog_, focusAfterClose);
    });
    EndWithEscape();
    Run();
    EXPECT_EQ(focusBefore, res::IDC_PORT_OPEN);
    EXPECT_EQ(focusAfterOpen, res::IDC_CHANGE_BAUD) << "the first enabled tab stop after it";
    // With the port closed no tab stop is enabled: the focus goes to the dialog, whose
    // manager hands it to an enabled control that takes it.
    EXPECT_NE(focusAfterClose, res::IDC_CLOSE);
    EXPECT_TRUE(focusEnabled) << "focus on control " << focusAfterClose;
}

// The dialog ends while the overflow box is up: the box is closed with the dialog, so
// that closing the port (which waits for the watcher) does not wait for the operator.
TEST_F(DialogWindowTest, TheOverflowBoxStillUpWhenTheDialogEndsIsClosedWithIt) {
    app::Win32AppMessageBox appBox("VYX_Utility");
    m_Dialog->m_Comm.m_pAppMessageBox = &appBox;
    Then([&] { win32::Click(m_Dialog_, res::IDC_PORT_OPEN); });
    m_Steps.Add([&] { return m_Line.OpenNow() == 1; });
    Then([&] { m_Line.Arrive(std::vector<std::uint8_t>(8192, 0x41)); });
    m_Steps.Add([&] { return win32::FindDialog("VYX_Utility") != nullptr; });
    EndWithEscape();
    EXPECT_EQ(Run(), res::IDCANCEL);
    appBox.Shutdown();
    const Window left = win32::FindDialog("VYX_Utility");
    EXPECT_EQ(left, nullptr);
    if (left != nullptr) {
        win32::PressOk(left);  // so that the failure does not hang the test
    }
    m_Dialog.reset();  // joins the watcher
    EXPECT_EQ(m_Line.OpenNow(), 0);
    // A box asked for from now on is dismissed at once, without a window.
    bool dismissed = false;
    appBox.Show("late", [&] { dismissed = true; });
    EXPECT_TRUE(dismissed);
}

TEST_F(DialogWindowTest, TheEditBoxesTextReachesTheDialogAsUtf8InFull) {
    struct TextCase {
        const char* typed;
    };
    const TextCase cases[] = {
        {""}, {"Hello"}, {"\xc3\xa9t\xc3\xa9 \xe2\x82\xac"}, {"twenty-one characters"}};
    std::vector<std::string> read;
    for (const TextCase& c : cases) {
        Then([&, c] {
            win32::SetControlText(m_Dialog_, res::IDC_LINE1, c.typed);
            read.push_back(m_Window.GetDlgItemText(res::IDC_LINE1));
        });
    }
    EndWithEscape();
    Run();
    ASSERT_EQ(read.size(), std::size(cases));
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i], cases[i].typed);
    }
}

// "Input String" takes the edit boxes' text as GetDlgItemTextA would: in the ANSI code
// page, a character it lacks as "?", cut to 20 bytes, padded with blanks.
TEST_F(DialogWindowTest, InputStringSendsTheEditTextInTheAnsiCodePageCutTo20Bytes) {
    if (protocol::SystemCodePage() != 1252) {
        GTEST_SKIP() << "the expected bytes are those of code page 1252";
    }
    std::vector<std::uint8_t> frame;
    Then([&] { win32::Click(m_Dialog_, res::IDC_PORT_OPEN); });
    m_Steps.Add([&] { return m_Line.OpenNow() == 1; });
    Then([&] {
        win32::SetControlText(m_Dialog_, res::IDC_LINE1,
                              "Caf\xc3\xa9 \xe2\x98\x83 na\xc3\xafve 123456789");
        win32::SetControlText(m_Dialog_, res::IDC_LINE2, "");
        win32::Click(m_Dialog_, res::IDC_INPUT_STRING);
    });
    m_Steps.Add([&] {
        frame = m_Line.TakeWritten(45, std::chrono::milliseconds(0));
        return frame.size() == 45;
    });
    Then([&] { win32::Click(m_Dialog_, res::IDC_EXIT); });
    Run();
    ASSERT_EQ(frame.size(), 45u);
    const std::string line1(frame.begin() + 3, frame.begin() + 23);
    const std::string line2(frame.begin() + 23, frame.begin() + 43);
    EXPECT_EQ(line1, "Caf\xe9 ? na\xefve 1234567");
    EXPECT_EQ(line2, std::string(20, ' '));
}

TEST_F(DialogWindowTest, EscapeWithThePortOpenEndsTheDialogAndTheDialogObjectClosesThePort) {
    Then([&] { win32::Click(m_Dialog_, res::IDC_PORT_OPEN); });
    m_Steps.Add([&] { return m_Line.OpenNow() == 1; });
    EndWithEscape();
    EXPECT_EQ(Run(), res::IDCANCEL);
    // A post after the window has gone is refused, not delivered to a stale handle.
    EXPECT_FALSE(m_Window.Notifier().PostMessage(WM_COMM_READ, 4, 0));
    m_Dialog.reset();
    EXPECT_EQ(m_Line.OpenNow(), 0);
}

}  // namespace
}  // namespace vyx::test
