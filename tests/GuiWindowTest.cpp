// The real wx window under Xvfb: built from template 102, its start state, its keys and
// the About box.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/menu.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <string>

#include "app/VYX_UtilityDlg.h"
#include "app/wx/WxMainDialog.h"
#include "resources/ControlIds.h"
#include "resources/Templates.h"
#include "tests/GuiTestSupport.h"

namespace vyx::test {
namespace {

namespace res = vyx::resources;
using std::chrono_literals::operator""s;

std::string Utf8(std::string_view text) {
    return std::string(text);
}

bool IsKind(wxWindow* window, res::ControlKind kind) {
    switch (kind) {
        case res::ControlKind::PushButton:
        case res::ControlKind::DefPushButton:
            return dynamic_cast<wxButton*>(window) != nullptr;
        case res::ControlKind::GroupBox:
            return dynamic_cast<wxStaticBox*>(window) != nullptr;
        case res::ControlKind::ComboBox:
            return dynamic_cast<wxComboBox*>(window) != nullptr;
        case res::ControlKind::EditBox:
            return dynamic_cast<wxTextCtrl*>(window) != nullptr;
        case res::ControlKind::Label:
            return dynamic_cast<wxStaticText*>(window) != nullptr;
        case res::ControlKind::Icon:
            return dynamic_cast<wxStaticBitmap*>(window) != nullptr;
    }
    return false;
}

// Every template control, in template order, as a child of the window at its id, kind,
// text, place and size, with its template enable state and tab stop.
void ExpectBuiltFromTemplate(wxDialog& dialog, const res::DialogTemplate& dialogTemplate) {
    const wxWindowList& children = dialog.GetChildren();
    ASSERT_EQ(children.size(), dialogTemplate.controls.size());
    auto child = children.begin();
    for (const res::ControlTemplate& control : dialogTemplate.controls) {
        wxWindow* window = *child++;
        SCOPED_TRACE("control " + std::to_string(control.id) + " \"" + Utf8(control.text) + "\"");
        ASSERT_TRUE(IsKind(window, control.kind));
        if (control.id > 2) {
            EXPECT_EQ(window->GetId(), control.id);
            EXPECT_EQ(dialog.FindWindow(control.id), window);
        }
        if (control.kind != res::ControlKind::ComboBox &&
            control.kind != res::ControlKind::EditBox && control.kind != res::ControlKind::Icon) {
            EXPECT_EQ(window->GetLabel().utf8_string(), Utf8(control.text));
        }
        const wxPoint pos = dialog.ConvertDialogToPixels(wxPoint(control.x, control.y));
        const wxSize size = dialog.ConvertDialogToPixels(wxSize(control.w, control.h));
        if (control.kind == res::ControlKind::Icon) {
            // Centred in its box.
            EXPECT_TRUE(wxRect(pos, size).Contains(window->GetRect()));
        } else {
            EXPECT_EQ(window->GetPosition(), pos);
            EXPECT_EQ(window->GetSize().x, size.x);
        }
        if (control.kind == res::ControlKind::ComboBox) {
            // The field alone: the template height includes the dropped list.
            EXPECT_LT(window->GetSize().y, size.y);
            auto* combo = dynamic_cast<wxComboBox*>(window);
            ASSERT_EQ(combo->GetCount(), control.entries.size());
            for (unsigned i = 0; i < combo->GetCount(); ++i) {
                EXPECT_EQ(combo->GetString(i).utf8_string(), Utf8(control.entries[i]));
            }
            EXPECT_FALSE(combo->HasFlag(wxCB_SORT));
            EXPECT_FALSE(combo->HasFlag(wxCB_READONLY));
        } else if (control.kind != res::ControlKind::Icon) {
            EXPECT_EQ(window->GetSize().y, size.y);
        }
        EXPECT_EQ(window->IsThisEnabled(), control.enabled);
        if (!control.tabStop) {
            EXPECT_FALSE(window->CanAcceptFocusFromKeyboard());
        }
    }
}

TEST(GuiWindow, BuildsTemplate102InTemplateOrder) {
    app::WxMainDialog dialog("VYX_Utility");
    wxDialog& window = dialog.Window();
    EXPECT_EQ(window.GetTitle().utf8_string(), "VYX Utility Ver 2.05");
    EXPECT_EQ(window.GetClientSize(), window.ConvertDialogToPixels(wxSize(351, 338)));
    EXPECT_FALSE(window.HasFlag(wxRESIZE_BORDER));
    EXPECT_FALSE(window.HasFlag(wxMAXIMIZE_BOX));
    EXPECT_TRUE(window.HasFlag(wxMINIMIZE_BOX));
    EXPECT_TRUE(window.HasFlag(wxCAPTION));
    // With a title bar it still fits a 1024 x 768 screen.
    EXPECT_LE(window.GetSize().x, 1024);
    EXPECT_LE(window.GetSize().y + 40, 768);
    ExpectBuiltFromTemplate(window, res::kMainDialogTemplate);
}

TEST(GuiWindow, TextsFitTheirControls) {
    app::WxMainDialog dialog("VYX_Utility");
    for (wxWindow* window : dialog.Window().GetChildren()) {
        const wxString label = window->GetLabel();
        if (label.empty() || dynamic_cast<wxComboBox*>(window) != nullptr ||
            dynamic_cast<wxTextCtrl*>(window) != nullptr) {
            continue;
        }
        SCOPED_TRACE(label.utf8_string());
        // Room for a button's face and a group box's frame; a label needs none.
        int margin = 0;
        if (dynamic_cast<wxButton*>(window) != nullptr) {
            margin = 8;
        } else if (dynamic_cast<wxStaticBox*>(window) != nullptr) {
            margin = 16;
        }
        const int textWidth = window->GetTextExtent(label).x;
        EXPECT_LE(textWidth, window->GetSize().x - margin);
        EXPECT_LE(window->GetCharHeight(), window->GetSize().y);
    }
}

TEST(GuiWindow, StartsWithTheDefaultsInTheClosedState) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    RunModal(dialog, [&] {
        auto* com = dynamic_cast<wxComboBox*>(window.FindWindow(res::IDC_COM_PORT));
        ASSERT_NE(com, nullptr);
        ASSERT_EQ(com->GetCount(), 20u);
        for (unsigned i = 0; i < 20; ++i) {
            EXPECT_EQ(com->GetString(i).utf8_string(), " COM " + std::to_string(i + 1) + " ");
        }
        EXPECT_EQ(com->GetValue().utf8_string(), " COM 4 ");
        EXPECT_EQ(window.GetCurSel(res::IDC_COM_PORT), 3);
        const std::pair<int, const char*> firsts[] = {
            {res::IDC_CURRENT_BAUD, "9600"}, {res::IDC_NEW_BAUD, "9600"},
            {res::IDC_COMMAND_SET, "LD220"}, {res::IDC_DEFAULT_FONT, "USA(CP-437)"},
            {res::IDC_LANGUAGE, "(US) USA"},
        };
        for (const auto& [id, text] : firsts) {
            EXPECT_EQ(window.GetCurSel(id), 0) << id;
            EXPECT_EQ(window.GetDlgItemText(id), text) << id;
        }
        const std::pair<int, bool> enabled[] = {
            {res::IDC_PORT_OPEN, true},
            {res::IDC_EXIT, true},
            {res::IDC_CLOSE, false},
            {res::IDC_CHANGE_BAUD, false},
            {res::IDC_INPUT_STRING, false},
            {res::IDC_SET_COMMAND_SET, false},
            {res::IDC_SET_DEFAULT_FONT, false},
            {res::IDC_FONT_SET, false},
            {res::IDC_INFORMATION, false},
            {res::IDC_CELL_TEST, false},
            {res::IDC_PROGRAM_DOWNLOAD, false},
            {res::IDC_COM_PORT, true},
            {res::IDC_CURRENT_BAUD, true},
            {res::IDC_NEW_BAUD, true},
            {res::IDC_COMMAND_SET, true},
            {res::IDC_DEFAULT_FONT, true},
            {res::IDC_LANGUAGE, true},
            {res::IDC_LINE1, true},
            {res::IDC_LINE2, true},
        };
        for (const auto& [id, on] : enabled) {
            EXPECT_EQ(window.FindWindow(id)->IsEnabled(), on) << id;
        }
        EXPECT_TRUE(window.GetIcons().GetIconCount() >= 1);
    });
    EXPECT_TRUE(recorder.boxes.empty());
}

// A real key press through the X server, to the control with the focus.
void PressKey(int key) {
    wxUIActionSimulator sim;
    sim.Char(key);
}

struct KeyCase {
    const char* name;
    int key;
    int focusId;  // control given the focus first
    int result;   // the dialog's result; 0: the dialog goes on
    bool about;   // the About box was run
};

std::string KeyCaseName(const testing::TestParamInfo<KeyCase>& param) {
    return param.param.name;
}

class GuiKeys : public testing::TestWithParam<KeyCase> {};

TEST_P(GuiKeys, EndTheDialogOrShowAbout) {
    const KeyCase& c = GetParam();
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    bool endedByKey = false;
    const int result = RunModal(dialog, [&] {
        wxWindow* focus = window.FindWindow(c.focusId);
        FocusInDialog(window, *focus);
        EXPECT_EQ(window.FindFocus(), focus);
        PressKey(c.key);
        endedByKey = PumpUntil([&] { return !window.IsModal() || !recorder.boxes.empty(); }, 5s);
    });
    EXPECT_TRUE(endedByKey);
    if (c.result != 0) {
        EXPECT_EQ(result, c.result);
    }
    ASSERT_EQ(recorder.boxes.size(), c.about ? 1u : 0u);
    if (c.about) {
        EXPECT_TRUE(recorder.boxes[0].about);
        EXPECT_EQ(recorder.boxes[0].title, "About VYX Utility");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, GuiKeys,
    testing::Values(KeyCase{"EscapeIsCancel", WXK_ESCAPE, res::IDC_COM_PORT, wxID_CANCEL, false},
                    KeyCase{"EnterInAComboIsOk", WXK_RETURN, res::IDC_COM_PORT, wxID_OK, false},
                    KeyCase{"EnterInAnEditBoxIsOk", WXK_RETURN, res::IDC_LINE1, wxID_OK, false},
                    KeyCase{"F1ShowsAbout", WXK_F1, res::IDC_LINE2, 0, true}),
    KeyCaseName);

// The context menu holds the About item (string 101); choosing it runs the About box.
// The menu is chosen with real keys once it is up and holds the keyboard.
TEST(GuiWindow, ContextMenuOffersAbout) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    bool menuShown = false;
    wxString itemText;
    window.Bind(wxEVT_MENU_OPEN, [&](wxMenuEvent& event) {
        event.Skip();
        if (menuShown || event.GetMenu() == nullptr) {
            return;
        }
        menuShown = true;
        const wxMenuItemList& items = event.GetMenu()->GetMenuItems();
        if (!items.empty()) {
            itemText = items.front()->GetItemLabel();
        }
        // Runs inside the menu's own loop, once it has taken the keyboard.
        window.CallAfter([] {
            wxUIActionSimulator sim;
            sim.Char(WXK_DOWN);
            sim.Char(WXK_RETURN);
        });
    });
    RunModal(dialog, [&] {
        FocusInDialog(window, *window.FindWindow(res::IDC_LINE1));
        const wxPoint at = window.ClientToScreen(wxPoint(20, 300));
        wxContextMenuEvent event(wxEVT_CONTEXT_MENU, window.GetId(), at);
        event.SetEventObject(&window);
        window.GetEventHandler()->ProcessEvent(event);
        PumpUntil([&] { return !recorder.boxes.empty(); }, 5s);
    });
    EXPECT_TRUE(menuShown);
    EXPECT_EQ(itemText.utf8_string(), "&About VYX Utility Ver 2.05...");
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_TRUE(recorder.boxes[0].about);
}

TEST(GuiWindow, AboutBoxIsBuiltFromTemplate100) {
    app::WxMainDialog dialog("VYX_Utility");
    app::WxDialogWindow& window = dialog.Window();
    BoxRecorder recorder(&window);
    recorder.inspect = [](wxDialog& about) {
        EXPECT_EQ(about.GetTitle().utf8_string(), "About VYX Utility");
        ExpectBuiltFromTemplate(about, res::kAboutDialogTemplate);
        auto* ok = dynamic_cast<wxButton*>(about.FindWindow(wxID_OK));
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(about.GetDefaultItem(), ok);
    };
    RunModal(dialog, [&] { window.SendAboutCommand(); });
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_TRUE(recorder.boxes[0].about);
}

}  // namespace
}  // namespace vyx::test
