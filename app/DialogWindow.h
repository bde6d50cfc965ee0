#pragma once

#include <cstdint>
#include <string>

#include "serial/Notify.h"

namespace vyx::app {

// Message box styles, as the dialog asks for them: one OK button and an icon.
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_ICONHAND = 0x10;         // stop
constexpr unsigned MB_ICONINFORMATION = 0x40;  // information

// The narrow interface through which the dialog's behaviour (CVYX_UtilityDlg) reaches
// the screen. Controls are addressed by their numeric id. Every call is made on the
// window thread. Two implementations: the wx window (app/) and a recording fake
// (tests/support/).
class DialogWindow {
  public:
    virtual ~DialogWindow() = default;

    // Combo boxes (CB_ADDSTRING, CB_SETCURSEL, CB_GETCURSEL).
    virtual void AddString(int id, const std::string& text) = 0;
    virtual void SetCurSel(int id, int index) = 0;
    // Selected index, -1 when no entry is selected (e.g. the text field was edited).
    virtual int GetCurSel(int id) const = 0;

    // Text of an edit box, UTF-8.
    virtual std::string GetDlgItemText(int id) const = 0;

    virtual void EnableWindow(int id, bool enable) = 0;
    virtual bool IsWindowEnabled(int id) const = 0;

    // Modal message box owned by the dialog: text, caption, OK button, icon by `style`.
    // Returns when the operator has closed it; the window keeps dispatching its
    // messages (WM_COMM_READ among them) meanwhile.
    virtual void MessageBox(const std::string& text, const std::string& caption,
                            unsigned style) = 0;

    // Runs the About box modally.
    virtual void ShowAboutBox() = 0;

    // The window menu, where the platform has one the program can extend; false on
    // platforms without (the About item is then reachable otherwise).
    virtual bool HasSystemMenu() const = 0;
    virtual void AppendSystemMenuSeparator() = 0;
    virtual void AppendSystemMenuItem(unsigned commandId, const std::string& text) = 0;

    // Big and small window icon (the application icon, resource 128).
    virtual void SetIcons() = 0;

    // A short audible or visible cue that a request was not carried out.
    virtual void Beep() = 0;

    // Ends the dialog with a result (IDOK 1 / IDCANCEL 2).
    virtual void EndDialog(int result) = 0;

    // Thread-safe receiver of posted messages (WM_COMM_READ); the posted message is
    // delivered later on the window thread to the dialog's message table.
    virtual NotifyWindow& Notifier() = 0;
};

}  // namespace vyx::app
