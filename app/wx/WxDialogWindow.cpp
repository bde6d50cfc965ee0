#include "app/wx/WxDialogWindow.h"

#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "app/DialogNavigation.h"
#include "app/VYX_UtilityDlg.h"
#include "app/wx/WxAboutDlg.h"
#include "app/wx/WxMessageBoxes.h"
#include "app/wx/WxResources.h"
#include "resources/ControlIds.h"
#include "resources/StringTable.h"
#include "resources/Templates.h"

namespace vyx::app {
namespace {
namespace res = vyx::resources;
}

WxDialogWindow::WxDialogWindow() {
    const res::DialogTemplate& dialogTemplate = res::kMainDialogTemplate;
    Create(nullptr, wxID_ANY,
           wxString::FromUTF8(dialogTemplate.title.data(), dialogTemplate.title.size()),
           wxDefaultPosition, wxDefaultSize, WxDialogStyle(dialogTemplate));
    BuildFromTemplate(*this, dialogTemplate);
    m_Notifier = std::make_unique<WxNotifier>(
        *this, [this](std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
            Deliver(message, wParam, lParam);
        });
    Bind(wxEVT_INIT_DIALOG, &WxDialogWindow::OnInitDialogEvent, this);
    Bind(wxEVT_BUTTON, &WxDialogWindow::OnButton, this);
    Bind(wxEVT_CHAR_HOOK, &WxDialogWindow::OnCharHook, this);
    Bind(wxEVT_CHILD_FOCUS, &WxDialogWindow::OnChildFocus, this);
    Bind(wxEVT_CONTEXT_MENU, &WxDialogWindow::OnContextMenu, this);
    m_FlashTimer.SetOwner(this);
    Bind(wxEVT_TIMER, &WxDialogWindow::OnFlashEnd, this, m_FlashTimer.GetId());
}

WxDialogWindow::~WxDialogWindow() {
    // No posted message may reach a dialog that is going away.
    m_Notifier->Detach();
    m_Dialog = nullptr;
}

int WxDialogWindow::ShowModal() {
    if (IsModal()) {
        return wxID_CANCEL;
    }
    SetReturnCode(wxID_CANCEL);
    Show();
    // GTK: a loop of our own, as wx's modal run would grab input from the watcher's box.
    wxGUIEventLoop loop;
    m_ModalLoop = &loop;
    m_Ending = false;
    loop.Run();
    m_ModalLoop = nullptr;
    Hide();
    return GetReturnCode();
}

void WxDialogWindow::EndModal(int retCode) {
    if (!IsModal()) {
        return;  // the first way out decides the result
    }
    SetReturnCode(retCode);
    m_Ending = true;
    m_ModalLoop->ScheduleExit(retCode);
}

void WxDialogWindow::OnInitDialogEvent(wxInitDialogEvent& event) {
    event.Skip();  // wx's own initialisation (data transfer) runs too
    if (!m_Initialised && m_Dialog != nullptr) {
        m_Initialised = true;
        // True asks for the default focus, which GTK would otherwise give by position.
        if (m_Dialog->OnInitDialog() != 0) {
            MoveFocusTo(InitialFocus(res::kMainDialogTemplate, *this));
        }
    }
}

void WxDialogWindow::OnButton(wxCommandEvent& event) {
    const wxWindow* control = FindWindow(event.GetId());
    if (m_Dialog == nullptr || control == nullptr || control->GetParent() != this) {
        event.Skip();
        return;
    }
    // A disabled control clicks nothing; a synthesised event could still arrive.
    if (control->IsEnabled()) {
        m_Dialog->OnCommand(event.GetId());
    }
}

void WxDialogWindow::OnCharHook(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
        case WXK_ESCAPE:
            EndDialog(res::IDCANCEL);
            return;
        case WXK_RETURN:
        case WXK_NUMPAD_ENTER: {
            // Enter presses a focused button; anywhere else it is the dialog's OK.
            const wxWindow* focus = FindFocus();
            if (focus != nullptr && dynamic_cast<const wxButton*>(focus) != nullptr) {
                event.Skip();
                return;
            }
            EndDialog(res::IDOK);
            return;
        }
        case WXK_TAB: {
            // GTK's own chain would reach controls without a tab stop (a combo box's
            // inner field); the dialog's order is the template's.
            if (event.AltDown()) {
                event.Skip();  // the window manager's
                return;
            }
            const int from = m_FocusId;
            const int to = TabTarget(res::kMainDialogTemplate, *this, from, event.ShiftDown());
            if (to != from) {
                MoveFocusTo(to);
            }
            return;
        }
        case WXK_F1:
            SendAboutCommand();
            return;
        default:
            event.Skip();
    }
}

void WxDialogWindow::OnContextMenu(wxContextMenuEvent& /*event*/) {
    const std::string_view text = res::LoadString(res::IDS_ABOUTBOX);
    if (text.empty()) {
        return;
    }
    wxMenu menu;
    menu.Append(static_cast<int>(res::IDM_ABOUTBOX), wxString::FromUTF8(text.data(), text.size()));
    menu.Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { SendAboutCommand(); },
        static_cast<int>(res::IDM_ABOUTBOX));
    PopupMenu(&menu);
}

void WxDialogWindow::SendAboutCommand() {
    if (m_Dialog != nullptr) {
        m_Dialog->OnMessage(WM_SYSCOMMAND, res::IDM_ABOUTBOX, 0);
    }
}

void WxDialogWindow::Deliver(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
    if (m_Dialog != nullptr) {
        m_Dialog->OnMessage(message, wParam, lParam);
    }
}

void WxDialogWindow::AddString(int id, const std::string& text) {
    if (auto* combo = dynamic_cast<wxComboBox*>(FindWindow(id))) {
        combo->Append(wxString::FromUTF8(text));
    }
}

void WxDialogWindow::SetCurSel(int id, int index) {
    auto* combo = dynamic_cast<wxComboBox*>(FindWindow(id));
    if (combo == nullptr) {
        return;
    }
    if (index >= 0 && static_cast<unsigned>(index) < combo->GetCount()) {
        combo->SetSelection(index);
    } else {
        // An index that names no entry clears the selection and the field.
        combo->SetSelection(wxNOT_FOUND);
        combo->ChangeValue(wxEmptyString);
    }
}

int WxDialogWindow::GetCurSel(int id) const {
    // wxComboBox reports wxNOT_FOUND (-1) once the text field has been edited.
    if (const auto* combo = dynamic_cast<wxComboBox*>(FindWindow(id))) {
        return combo->GetSelection();
    }
    return -1;
}

std::string WxDialogWindow::GetDlgItemText(int id) const {
    const wxWindow* window = FindWindow(id);
    if (window == nullptr) {
        return {};
    }
    if (const auto* text = dynamic_cast<const wxTextCtrl*>(window)) {
        return text->GetValue().utf8_string();
    }
    if (const auto* combo = dynamic_cast<const wxComboBox*>(window)) {
        return combo->GetValue().utf8_string();
    }
    return window->GetLabel().utf8_string();
}

void WxDialogWindow::EnableWindow(int id, bool enable) {
    wxWindow* window = FindWindow(id);
    if (window == nullptr) {
        return;
    }
    // GTK drops the focus of a control it disables, and with no focus no key reaches
    // the dialog: move it on as the dialog manager does.
    const bool hadFocus = !enable && m_FocusId == id;
    window->Enable(enable);
    if (hadFocus) {
        MoveFocusTo(FocusAfterDisabling(res::kMainDialogTemplate, *this, id));
    }
}

int WxDialogWindow::ControlOf(const wxWindow* window) const {
    // The control itself or a part of it (a combo box's field) may hold the focus.
    for (; window != nullptr && window != this; window = window->GetParent()) {
        if (window->GetParent() == this) {
            const int id = window->GetId();
            return res::FindControl(res::kMainDialogTemplate, id) != nullptr ? id : kFocusDialog;
        }
        if (window->IsTopLevel()) {
            break;
        }
    }
    return kFocusDialog;
}

void WxDialogWindow::OnChildFocus(wxChildFocusEvent& event) {
    event.Skip();  // wx keeps its own record too
    m_FocusId = ControlOf(event.GetWindow());
}

void WxDialogWindow::MoveFocusTo(int id) {
    m_FocusId = id;
    if (id != kFocusDialog) {
        if (wxWindow* control = FindWindow(id)) {
            control->SetFocus();
            return;
        }
        m_FocusId = kFocusDialog;
    }
    // The dialog's own area takes the focus only when asked to: wx keeps it from doing
    // so while it has focusable children, and then its SetFocus would pass the focus on
    // to the first of them.
    SetCanFocus(true);
    SetFocusIgnoringChildren();
}

bool WxDialogWindow::IsWindowEnabled(int id) const {
    const wxWindow* window = FindWindow(id);
    return window != nullptr && window->IsThisEnabled();
}

void WxDialogWindow::MessageBox(const std::string& text, const std::string& caption,
                                unsigned style) {
    ShowMessageBox(this, text, caption, style);
}

void WxDialogWindow::ShowAboutBox() {
    CAboutDlg about(this);
    about.ShowModal();
}

void WxDialogWindow::SetIcons() {
    wxDialog::SetIcons(ApplicationIcons());
}

void WxDialogWindow::Beep() {
    wxBell();
    // Also visible, for machines without a sound: the dialog's face flashes briefly.
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT));
    Refresh();
    m_FlashTimer.StartOnce(150);
}

void WxDialogWindow::OnFlashEnd(wxTimerEvent& /*event*/) {
    SetBackgroundColour(wxNullColour);  // back to the theme's own
    Refresh();
}

void WxDialogWindow::EndDialog(int result) {
    EndModal(result == res::IDOK ? wxID_OK : wxID_CANCEL);
}

}  // namespace vyx::app
