#pragma once

#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/timer.h>

#include <memory>

#include "app/DialogNavigation.h"
#include "app/DialogWindow.h"
#include "app/wx/WxNotifier.h"

namespace vyx::app {

class CVYX_UtilityDlg;

// The main dialog's window on wx: built from template 102, it carries out the
// DialogWindow calls of CVYX_UtilityDlg and hands it the operator's clicks and the
// posted messages, all on the window thread.
//
// Keys and menus: Escape ends the dialog as Cancel and Enter as OK (unless a button has
// the focus, which Enter presses); GTK offers no window menu a program can extend, so
// the About item is reached by F1 and by the dialog's context menu instead.
//
// Focus: the window applies the dialog manager's decisions (app/DialogNavigation.h)
// instead of GTK's own: the initial focus, Tab and Shift+Tab over the enabled tab stops
// in template order, and moving the focus on when the focused control is disabled. The
// focus never goes nowhere, where GTK would deliver no key to the dialog at all.
class WxDialogWindow final : public wxDialog, public DialogWindow {
  public:
    WxDialogWindow();
    ~WxDialogWindow() override;

    // Runs the dialog until EndModal. The dialog has no parent, so there is nothing for
    // a toolkit-modal run to block; GTK's modal grab would, however, also block the
    // watcher's box, which must stay usable. So the dialog runs its own event loop.
    int ShowModal() override;
    void EndModal(int retCode) override;
    // False from EndModal on, as wx's own dialogs answer.
    bool IsModal() const override { return m_ModalLoop != nullptr && !m_Ending; }

    // The dialog whose message table gets the clicks and messages; nullptr detaches.
    void Attach(CVYX_UtilityDlg* dialog) { m_Dialog = dialog; }

    // DialogWindow
    void AddString(int id, const std::string& text) override;
    void SetCurSel(int id, int index) override;
    int GetCurSel(int id) const override;
    std::string GetDlgItemText(int id) const override;
    void EnableWindow(int id, bool enable) override;
    bool IsWindowEnabled(int id) const override;
    void MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    void ShowAboutBox() override;
    // GTK: no window menu a program can extend; F1 and the context menu stand in for it.
    bool HasSystemMenu() const override { return false; }
    void AppendSystemMenuSeparator() override {}
    void AppendSystemMenuItem(unsigned /*id*/, const std::string& /*text*/) override {}
    void SetIcons() override;
    using wxDialog::SetIcons;  // wx's own overload, taking the icons, stays callable
    void Beep() override;
    void EndDialog(int result) override;
    NotifyWindow& Notifier() override { return *m_Notifier; }

    // True while Beep's flash is showing.
    bool IsFlashing() const { return m_FlashTimer.IsRunning(); }

    // Id of the template control that holds the dialog's focus (or takes it back when
    // the dialog is activated again); kFocusDialog when the dialog itself has it.
    int FocusedControl() const { return m_FocusId; }

    // The window-menu command of the About item, as the F1 key and the context menu
    // send it.
    void SendAboutCommand();

  private:
    void OnInitDialogEvent(wxInitDialogEvent& event);
    void OnButton(wxCommandEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnChildFocus(wxChildFocusEvent& event);
    // The template control that `window` is or is part of; kFocusDialog for none.
    int ControlOf(const wxWindow* window) const;
    // Gives the focus to the control `id`, or to the dialog itself for kFocusDialog.
    void MoveFocusTo(int id);
    void OnContextMenu(wxContextMenuEvent& event);
    void Deliver(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam);
    void OnFlashEnd(wxTimerEvent& event);

    CVYX_UtilityDlg* m_Dialog = nullptr;
    std::unique_ptr<WxNotifier> m_Notifier;
    bool m_Initialised = false;
    wxEventLoopBase* m_ModalLoop = nullptr;
    bool m_Ending = false;
    wxTimer m_FlashTimer;  // ends the visible part of Beep
    // The dialog's focus as the dialog manager keeps it: set by every control that
    // takes the focus and by MoveFocusTo, also while a message box has the keyboard.
    int m_FocusId = kFocusDialog;
};

}  // namespace vyx::app
