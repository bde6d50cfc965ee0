// The real wx window under Xvfb against a pseudo-terminal mapped as COM4: opening and
// closing the port, the boxes it raises, a reply delivered from the watcher thread, the
// watcher's own box, and the port closed by every way out.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/combobox.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/DialogNavigation.h"
#include "app/VYX_UtilityDlg.h"
#include "app/wx/WxMainDialog.h"
#include "app/wx/WxNotifier.h"
#include "resources/ControlIds.h"
#include "tests/GuiTestSupport.h"
#include "tests/support/PtyPair.h"

namespace vyx::test {
namespace {

namespace res = vyx::resources;
namespace fs = std::filesystem;
using std::chrono_literals::operator""s;
using std::chrono_literals::operator""ms;

const std::vector<int> kCommandButtons{res::IDC_CHANGE_BAUD,      res::IDC_INPUT_STRING,
                                       res::IDC_PROGRAM_DOWNLOAD, res::IDC_FONT_SET,
                                       res::IDC_SET_COMMAND_SET,  res::IDC_SET_DEFAULT_FONT,
                                       res::IDC_INFORMATION,      res::IDC_CELL_TEST};

// A pseudo-terminal linked as COM4 in a private ports folder ($VYX_PORTS_DIR).
class GuiSession : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_Pty.ok());
        char pattern[] = "/tmp/vyx-gui-ports-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_PortsDir = pattern;
        fs::create_symlink(m_Pty.SlavePath(), m_PortsDir / "COM4");
        setenv("VYX_PORTS_DIR", m_PortsDir.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VYX_PORTS_DIR");
        std::error_code ignored;
        fs::remove_all(m_PortsDir, ignored);
    }

    // Descriptors of this process open on the slave, the pair's own hold included.
    int SlaveOpenings() const {
        int count = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (fs::read_symlink(entry.path(), error) == m_Pty.SlavePath()) {
                ++count;
            }
        }
        return count;
    }

    static void ExpectOpenState(app::WxDialogWindow& window, bool open) {
        for (const int id : kCommandButtons) {
            EXPECT_EQ(window.FindWindow(id)->IsEnabled(), open) << id;
        }
        EXPECT_EQ(window.FindWindow(res::IDC_PORT_OPEN)->IsEnabled(), !open);
        EXPECT_EQ(window.FindWindow(res::IDC_CLOSE)->IsEnabled(), open);
        EXPECT_TRUE(window.FindWindow(res::IDC_EXIT)->IsEnabled());
    }

    PtyPair m_Pty;
    fs::path m_PortsDir;
};

TEST_F(GuiSession, PortOpenEnablesTheCommandsAndCloseSaysSo) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    RunModal(dialog, [&] {
        Click(window, res::IDC_PORT_OPEN);
        EXPECT_TRUE(recorder.boxes.empty());
        EXPECT_EQ(dialog.Dialog().m_Comm.m_bConnected.load(), 1);
        EXPECT_EQ(dialog.Dialog().m_nComPort, 4);
        EXPECT_EQ(dialog.Dialog().m_nBaudRate, 9600);
        ExpectOpenState(window, true);

        // The edit box's text reaches the line through the real control.
        dynamic_cast<wxTextCtrl*>(window.FindWindow(res::IDC_LINE1))->SetValue("HELLO PTY");
        Click(window, res::IDC_INPUT_STRING);
        const std::vector<std::uint8_t> sent = m_Pty.ReadUntilQuiet(200ms, 3s);
        const std::string asText(sent.begin(), sent.end());
        EXPECT_NE(asText.find("HELLO PTY"), std::string::npos);

        Click(window, res::IDC_CLOSE);
        ExpectOpenState(window, false);
        EXPECT_EQ(dialog.Dialog().m_Comm.m_bConnected.load(), 0);
    });
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "Com port closed !");
    EXPECT_EQ(recorder.boxes[0].title, app::MessageCaption);
    EXPECT_EQ(recorder.boxes[0].title, " VYX Utility Ver 2.05  ");
    EXPECT_EQ(recorder.boxes[0].icon, wxICON_INFORMATION);
}

// A real click on "Port Open" or "Close", which disable themselves when done.
void ClickPortButton(app::WxDialogWindow& window, int id) {
    RealClick(window, id);
    ASSERT_TRUE(PumpUntil([&] { return !window.FindWindow(id)->IsEnabled(); }, 5s))
        << "click on " << id;
}

// The focused control of the dialog: its id, 0 for the dialog itself, -1 for anything else
// (nothing focused, or a part of a control the dialog does not know).
int FocusedId(app::WxDialogWindow& window) {
    const wxWindow* focus = wxWindow::FindFocus();
    if (focus == &window) {
        return app::kFocusDialog;
    }
    if (focus == nullptr || focus->GetParent() != &window) {
        return -1;
    }
    return focus->GetId();
}

// Waits until the control `id` (0: the dialog itself) has the focus.
bool FocusReaches(app::WxDialogWindow& window, int id) {
    return PumpUntil([&] { return FocusedId(window) == id; }, 2s);
}

// Presses `key` (with `modifiers`) and then F1, and waits for the About box F1 shows: the
// X server delivers keys in order, so by then the first key has been handled whatever it
// did. Returns the control that has the focus then.
int AfterKey(app::WxDialogWindow& window, BoxRecorder& recorder, int key, int modifiers) {
    const std::size_t boxes = recorder.boxes.size();
    PressKeys({key}, modifiers);
    PressKeys({WXK_F1});
    EXPECT_TRUE(PumpUntil([&] { return recorder.boxes.size() > boxes; }, 5s));
    return FocusedId(window);
}

// At start "EXIT" has the focus (the first control that can take it), so Enter ends the
// program at once and the port is never opened.
TEST_F(GuiSession, EnterAtStartPressesExit) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    bool ended = false;
    const int result = RunModal(dialog, [&] {
        PointAt(window, window);
        EXPECT_TRUE(FocusReaches(window, res::IDC_EXIT)) << FocusedId(window);
        PressKeys({WXK_RETURN});
        ended = PumpUntil([&] { return !window.IsModal(); }, 5s);
    });
    EXPECT_TRUE(ended);
    EXPECT_EQ(result, wxID_CANCEL);  // "EXIT"'s way out
    EXPECT_EQ(dialog.Dialog().m_Comm.SuccessfulOpens(), 0u);
    EXPECT_TRUE(recorder.boxes.empty());
}

struct AfterPortCase {
    const char* name;
    std::vector<int> clicks;  // real clicks, in order
    int focusThen;            // who has the focus after them (0: the dialog itself)
    int key;
    int result;
};

std::string AfterPortCaseName(const testing::TestParamInfo<AfterPortCase>& param) {
    return param.param.name;
}

class GuiKeysAfterPortButtons : public GuiSession,
                                public testing::WithParamInterface<AfterPortCase> {};

// "Port Open" and "Close" disable themselves under the focus; the focus moves on, so
// Escape and Enter still end the dialog, and the port is free afterwards.
TEST_P(GuiKeysAfterPortButtons, EndTheDialogAndFreeThePort) {
    const AfterPortCase& c = GetParam();
    const int holdOnly = SlaveOpenings();
    int result = 0;
    bool ended = false;
    {
        app::WxMainDialog dialog("VYX_Utility");
        app::WxDialogWindow& window = dialog.Window();
        BoxRecorder recorder(&window);
        result = RunModal(dialog, [&] {
            for (const int id : c.clicks) {
                ClickPortButton(window, id);
            }
            EXPECT_TRUE(FocusReaches(window, c.focusThen)) << FocusedId(window);
            EXPECT_EQ(window.FocusedControl(), c.focusThen);
            PressKeys({c.key});
            ended = PumpUntil([&] { return !window.IsModal(); }, 5s);
        });
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(SlaveOpenings(), holdOnly);
}

INSTANTIATE_TEST_SUITE_P(Keys, GuiKeysAfterPortButtons,
                         testing::Values(AfterPortCase{"EscapeAfterPortOpen",
                                                       {res::IDC_PORT_OPEN},
                                                       res::IDC_CHANGE_BAUD,
                                                       WXK_ESCAPE,
                                                       wxID_CANCEL},
                                         AfterPortCase{"EscapeAfterClose",
                                                       {res::IDC_PORT_OPEN, res::IDC_CLOSE},
                                                       app::kFocusDialog,
                                                       WXK_ESCAPE,
                                                       wxID_CANCEL},
                                         AfterPortCase{"EnterAfterClose",
                                                       {res::IDC_PORT_OPEN, res::IDC_CLOSE},
                                                       app::kFocusDialog,
                                                       WXK_RETURN,
                                                       wxID_OK}),
                         AfterPortCaseName);

// Lets every box but the main dialog come up on the screen and answers it with a real
// click on its OK button.
class BoxClicker final : public wxModalDialogHook {
  public:
    explicit BoxClicker(wxDialog* keep) : m_Keep(keep) { Register(); }
    ~BoxClicker() override { Unregister(); }
    int clicked = 0;

  protected:
    int Enter(wxDialog* box) override {
        // A message box passes here twice on its way up (its own ShowModal, then the
        // dialog's); one click is enough.
        if (box != m_Keep && box != m_Answering) {
            m_Answering = box;
            box->CallAfter([this, box] {
                RealClick(*box, wxID_OK);
                ++clicked;
            });
        }
        return wxID_NONE;
    }
    void Exit(wxDialog* box) override {
        if (box == m_Answering) {
            m_Answering = nullptr;
        }
    }

  private:
    wxDialog* m_Keep;
    wxDialog* m_Answering = nullptr;
};

// "Close" with its box really up: the box takes the keyboard and gives it back, and the
// dialog still answers Escape.
TEST_F(GuiSession, EscapeAfterCloseWithItsBoxOnTheScreen) {
    const int holdOnly = SlaveOpenings();
    int result = 0;
    bool ended = false;
    int clicked = 0;
    {
        app::WxMainDialog dialog("VYX_Utility");
        app::WxDialogWindow& window = dialog.Window();
        BoxClicker clicker(&window);
        result = RunModal(dialog, [&] {
            ClickPortButton(window, res::IDC_PORT_OPEN);
            ClickPortButton(window, res::IDC_CLOSE);
            PointAt(window, window);
            EXPECT_TRUE(FocusReaches(window, app::kFocusDialog)) << FocusedId(window);
            PressKeys({WXK_ESCAPE});
            ended = PumpUntil([&] { return !window.IsModal(); }, 5s);
        });
        clicked = clicker.clicked;
    }
    EXPECT_EQ(clicked, 1);
    EXPECT_TRUE(ended);
    EXPECT_EQ(result, wxID_CANCEL);
    EXPECT_EQ(SlaveOpenings(), holdOnly);
}

// After "Port Open" the focus is on "Change", the next tab stop: Enter presses it (the
// baud-rate command goes out) and the dialog goes on.
TEST_F(GuiSession, EnterAfterPortOpenPressesTheButtonThatTookTheFocus) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    std::vector<std::uint8_t> sent;
    RunModal(dialog, [&] {
        ClickPortButton(window, res::IDC_PORT_OPEN);
        ASSERT_TRUE(FocusReaches(window, res::IDC_CHANGE_BAUD)) << FocusedId(window);
        PressKeys({WXK_RETURN});
        // The window thread handles the key while the far end reads.
        PumpUntil(
            [&] {
                const std::vector<std::uint8_t> got = m_Pty.Read(6 - sent.size(), 10ms);
                sent.insert(sent.end(), got.begin(), got.end());
                return sent.size() >= 6;
            },
            5s);
        EXPECT_TRUE(window.IsModal());
    });
    // The baud-rate command with index 0 ("9600"): STX, LEN, '3', 0, ETX, BCC.
    EXPECT_EQ(sent, (std::vector<std::uint8_t>{0x02, 0x02, 0x33, 0x00, 0x03, 0x32}));
    EXPECT_TRUE(recorder.boxes.empty());
}

// Only the command buttons are tab stops, so with the port open Tab and Shift+Tab run
// through them in template order and wrap around.
TEST_F(GuiSession, TabRunsThroughTheCommandButtonsOnly) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    std::vector<int> forward;
    std::vector<int> backward;
    RunModal(dialog, [&] {
        ClickPortButton(window, res::IDC_PORT_OPEN);
        ExpectOpenState(window, true);
        ASSERT_TRUE(FocusReaches(window, res::IDC_CHANGE_BAUD)) << FocusedId(window);
        wxUIActionSimulator sim;
        for (int i = 0; i < 8; ++i) {
            const int before = FocusedId(window);
            sim.Char(WXK_TAB);
            PumpUntil([&] { return FocusedId(window) != before; }, 2s);
            forward.push_back(FocusedId(window));
        }
        for (int i = 0; i < 8; ++i) {
            const int before = FocusedId(window);
            sim.Char(WXK_TAB, wxMOD_SHIFT);
            PumpUntil([&] { return FocusedId(window) != before; }, 2s);
            backward.push_back(FocusedId(window));
        }
        Click(window, res::IDC_CLOSE);
    });
    EXPECT_EQ(forward,
              (std::vector<int>{res::IDC_INPUT_STRING, res::IDC_PROGRAM_DOWNLOAD, res::IDC_FONT_SET,
                                res::IDC_SET_COMMAND_SET, res::IDC_SET_DEFAULT_FONT,
                                res::IDC_INFORMATION, res::IDC_CELL_TEST, res::IDC_CHANGE_BAUD}));
    EXPECT_EQ(backward, (std::vector<int>{res::IDC_CELL_TEST, res::IDC_INFORMATION,
                                          res::IDC_SET_DEFAULT_FONT, res::IDC_SET_COMMAND_SET,
                                          res::IDC_FONT_SET, res::IDC_PROGRAM_DOWNLOAD,
                                          res::IDC_INPUT_STRING, res::IDC_CHANGE_BAUD}));
}

// With the port closed no tab stop is enabled: Tab and Shift+Tab leave the focus where it
// is, on "EXIT" at start and on the dialog itself after "Close".
TEST_F(GuiSession, TabWithNoEnabledTabStopLeavesTheFocus) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    std::vector<int> atStart;
    std::vector<int> afterClose;
    RunModal(dialog, [&] {
        PointAt(window, window);
        ASSERT_TRUE(FocusReaches(window, res::IDC_EXIT)) << FocusedId(window);
        atStart.push_back(AfterKey(window, recorder, WXK_TAB, wxMOD_NONE));
        atStart.push_back(AfterKey(window, recorder, WXK_TAB, wxMOD_NONE));
        atStart.push_back(AfterKey(window, recorder, WXK_TAB, wxMOD_SHIFT));

        ClickPortButton(window, res::IDC_PORT_OPEN);
        ASSERT_TRUE(FocusReaches(window, res::IDC_CHANGE_BAUD)) << FocusedId(window);
        ClickPortButton(window, res::IDC_CLOSE);
        ASSERT_TRUE(FocusReaches(window, app::kFocusDialog)) << FocusedId(window);
        afterClose.push_back(AfterKey(window, recorder, WXK_TAB, wxMOD_NONE));
        afterClose.push_back(AfterKey(window, recorder, WXK_TAB, wxMOD_SHIFT));
    });
    EXPECT_EQ(atStart, (std::vector<int>{res::IDC_EXIT, res::IDC_EXIT, res::IDC_EXIT}));
    EXPECT_EQ(afterClose, (std::vector<int>{app::kFocusDialog, app::kFocusDialog}));
}

TEST_F(GuiSession, AnEditedComFieldNamesNoPortAndOpenFails) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    RunModal(dialog, [&] {
        // Typed over: the field no longer names an entry (the entries carry blanks).
        auto* com = dynamic_cast<wxComboBox*>(window.FindWindow(res::IDC_COM_PORT));
        com->SetValue("COM 4");
        EXPECT_EQ(window.GetCurSel(res::IDC_COM_PORT), -1);
        Click(window, res::IDC_PORT_OPEN);
        ExpectOpenState(window, false);
    });
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "Com port open failed !");
    EXPECT_EQ(recorder.boxes[0].title, " VYX Utility Ver 2.05  ");
    EXPECT_EQ(recorder.boxes[0].icon, wxICON_ERROR);
    EXPECT_EQ(dialog.Dialog().m_nComPort, 0);
}

// A list edited into no selection: the command sends nothing, and the window's cue is
// seen as well as heard (a short flash of the dialog).
TEST_F(GuiSession, ACommandWithoutSelectionSendsNothingAndFlashes) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    bool flashed = false;
    bool flashEnded = false;
    RunModal(dialog, [&] {
        Click(window, res::IDC_PORT_OPEN);
        dynamic_cast<wxComboBox*>(window.FindWindow(res::IDC_NEW_BAUD))->SetValue("4800");
        Click(window, res::IDC_CHANGE_BAUD);
        flashed = window.IsFlashing();
        flashEnded = PumpUntil([&] { return !window.IsFlashing(); }, 2s);
        Click(window, res::IDC_CLOSE);
    });
    EXPECT_TRUE(flashed);
    EXPECT_TRUE(flashEnded);
    EXPECT_TRUE(m_Pty.ReadUntilQuiet(100ms, 1s).empty());
    ASSERT_EQ(recorder.boxes.size(), 1u);  // only Close's
}

TEST_F(GuiSession, ClicksOnDisabledButtonsDoNothing) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    RunModal(dialog, [&] {
        Click(window, res::IDC_CLOSE);  // would say "Com port closed !"
        for (const int id : kCommandButtons) {
            Click(window, id);
        }
        ExpectOpenState(window, false);
    });
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_TRUE(m_Pty.ReadUntilQuiet(100ms, 1s).empty());
}

TEST_F(GuiSession, InformationReplyIsReportedOnTheWindowThread) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    const std::thread::id windowThread = std::this_thread::get_id();
    std::thread::id shownOn;
    recorder.inspect = [&](wxDialog&) { shownOn = std::this_thread::get_id(); };
    RunModal(dialog, [&] {
        Click(window, res::IDC_PORT_OPEN);
        Click(window, res::IDC_INFORMATION);
        const std::vector<std::uint8_t> query = m_Pty.Read(5, 3s);
        EXPECT_EQ(query, (std::vector<std::uint8_t>{0x02, 0x01, 0x44, 0x03, 0x46}));
        std::vector<std::uint8_t> reply(22, 0);
        const std::string version = "V2.05-TEST";
        std::copy(version.begin(), version.end(), reply.begin() + 3);
        reply[15] = 2;  // command set
        reply[18] = 4;  // baud rate code
        ASSERT_TRUE(m_Pty.Write(reply));
        // The watcher queues the bytes and posts WM_COMM_READ; the window thread reports.
        EXPECT_TRUE(PumpUntil([&] { return !recorder.boxes.empty(); }, 5s));
        Click(window, res::IDC_CLOSE);
    });
    ASSERT_GE(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].title, "VYX Information");
    EXPECT_NE(recorder.boxes[0].text.find("V2.05-TEST"), std::string::npos);
    EXPECT_EQ(recorder.boxes[0].icon, wxICON_INFORMATION);
    EXPECT_EQ(shownOn, windowThread);
}

// The watcher's box is not modal: while it is up the dialog opens the port, and a real
// click (through the X server) on its OK button dismisses it.
TEST_F(GuiSession, WatcherBoxLeavesTheDialogWorking) {
    app::WxMainDialog dialog(wxTheApp->GetAppName());
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    std::atomic<bool> dismissed{false};
    RunModal(dialog, [&] {
        std::thread watcher(
            [&] { dialog.AppMessageBox().Show("m_QueueRead FULL!", [&] { dismissed = true; }); });
        watcher.join();  // Show returns at once
        ASSERT_TRUE(PumpUntil([&] { return !dialog.AppMessageBox().ShownBoxes().empty(); }, 5s));
        wxDialog* box = dialog.AppMessageBox().ShownBoxes().front();
        EXPECT_EQ(box->GetTitle().utf8_string(), "VYX_Utility");
        EXPECT_TRUE(box->IsShown());

        EXPECT_TRUE(window.IsEnabled());
        Click(window, res::IDC_PORT_OPEN);
        ExpectOpenState(window, true);

        wxWindow* ok = box->FindWindow(wxID_OK);
        ASSERT_NE(ok, nullptr);
        PumpUntil([&] { return ok->IsShownOnScreen(); }, 2s);
        wxUIActionSimulator sim;
        const wxPoint centre = ok->GetScreenRect().GetPosition() + ok->GetSize() / 2;
        sim.MouseMove(centre);
        PumpUntil([&] { return wxGetMousePosition() == centre; }, 2s);
        sim.MouseClick();
        EXPECT_TRUE(PumpUntil([&] { return dismissed.load(); }, 5s));
        EXPECT_TRUE(dialog.AppMessageBox().ShownBoxes().empty());
        Click(window, res::IDC_CLOSE);
    });
    EXPECT_TRUE(dismissed.load());
}

TEST_F(GuiSession, EndingTheDialogDismissesAWatcherBoxStillUp) {
    std::atomic<bool> dismissed{false};
    {
        app::WxMainDialog dialog("VYX_Utility");
        RunModal(dialog, [&] {
            dialog.AppMessageBox().Show("m_QueueRead FULL!", [&] { dismissed = true; });
            PumpUntil([&] { return !dialog.AppMessageBox().ShownBoxes().empty(); }, 5s);
        });
        EXPECT_FALSE(dismissed.load());
    }
    EXPECT_TRUE(dismissed.load());
}

enum class WayOut { Exit, Escape, Enter, CloseButton };

std::string WayOutName(const testing::TestParamInfo<WayOut>& param) {
    const char* const names[] = {"Exit", "Escape", "Enter", "CloseButton"};
    return names[static_cast<int>(param.param)];
}

class GuiWaysOut : public GuiSession, public testing::WithParamInterface<WayOut> {};

// By every way out the port is closed and its watcher joined: after the dialog has gone,
// only the test's own hold is left open on the device.
TEST_P(GuiWaysOut, CloseThePort) {
    const int holdOnly = SlaveOpenings();
    bool closedBeforeEnd = false;
    int result = 0;
    {
        app::WxMainDialog dialog("VYX_Utility");
        app::WxDialogWindow& window = dialog.Window();
        BoxRecorder recorder(&window);
        result = RunModal(dialog, [&] {
            Click(window, res::IDC_PORT_OPEN);
            ASSERT_EQ(dialog.Dialog().m_Comm.m_bConnected.load(), 1);
            ASSERT_GT(SlaveOpenings(), holdOnly);
            wxKeyEvent key(wxEVT_CHAR_HOOK);
            switch (GetParam()) {
                case WayOut::Exit:
                    Click(window, res::IDC_EXIT);
                    closedBeforeEnd = dialog.Dialog().m_Comm.m_bConnected.load() == 0;
                    return;
                case WayOut::Escape:
                    key.m_keyCode = WXK_ESCAPE;
                    break;
                case WayOut::Enter: {
                    // Enter in an edit box; on a focused button it would press that.
                    wxWindow* line1 = window.FindWindow(res::IDC_LINE1);
                    FocusInDialog(window, *line1);
                    EXPECT_EQ(window.FindFocus(), line1);
                    key.m_keyCode = WXK_RETURN;
                    break;
                }
                case WayOut::CloseButton:
                    window.Close();
                    return;
            }
            key.SetEventObject(&window);
            window.GetEventHandler()->ProcessEvent(key);
        });
        EXPECT_TRUE(recorder.boxes.empty());
    }
    EXPECT_EQ(result, GetParam() == WayOut::Enter ? wxID_OK : wxID_CANCEL);
    if (GetParam() == WayOut::Exit) {
        EXPECT_TRUE(closedBeforeEnd);
    }
    EXPECT_EQ(SlaveOpenings(), holdOnly);
}

INSTANTIATE_TEST_SUITE_P(All, GuiWaysOut,
                         testing::Values(WayOut::Exit, WayOut::Escape, WayOut::Enter,
                                         WayOut::CloseButton),
                         WayOutName);

TEST(GuiNotifier, DeliversPostedMessagesInOrderOnTheWindowThreadUntilDetached) {
    wxEvtHandler target;
    struct Delivered {
        std::uint32_t message;
        std::uint64_t wParam;
        std::int64_t lParam;
        std::thread::id thread;
    };
    std::vector<Delivered> delivered;
    app::WxNotifier notifier(target, [&](std::uint32_t m, std::uint64_t w, std::int64_t l) {
        delivered.push_back({m, w, l, std::this_thread::get_id()});
    });
    std::thread watcher([&] {
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(notifier.PostMessage(WM_COMM_READ, 4, i));
        }
    });
    watcher.join();
    wxEventLoop loop;
    wxEventLoopActivator active(&loop);
    EXPECT_TRUE(PumpUntil([&] { return delivered.size() == 3; }, 5s));
    ASSERT_EQ(delivered.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(delivered[i].message, WM_COMM_READ);
        EXPECT_EQ(delivered[i].wParam, 4u);
        EXPECT_EQ(delivered[i].lParam, static_cast<std::int64_t>(i));
        EXPECT_EQ(delivered[i].thread, std::this_thread::get_id());
    }
    notifier.Detach();
    EXPECT_FALSE(notifier.PostMessage(WM_COMM_READ, 4, 9));
    wxTheApp->ProcessPendingEvents();
    EXPECT_EQ(delivered.size(), 3u);
}

}  // namespace
}  // namespace vyx::test
