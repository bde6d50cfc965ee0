#pragma once

#include <wx/string.h>

#include <memory>

#include "app/VYX_UtilityDlg.h"
#include "app/wx/WxDialogWindow.h"
#include "app/wx/WxMessageBoxes.h"

namespace vyx::app {

// The main dialog as the application runs it: the wx window, the toolkit-free dialog
// driving it, and the application message box of the port's watcher.
//
// Lifetime: the dialog (and with it m_Comm, whose destruction closes the port and joins
// the watcher) goes before the window it posts to, and the watcher's message boxes are
// dismissed before that, so a watcher waiting for one can be joined.
class WxMainDialog {
  public:
    // `appTitle` captions the watcher's boxes: the application's title.
    explicit WxMainDialog(const wxString& appTitle);
    ~WxMainDialog();
    WxMainDialog(const WxMainDialog&) = delete;
    WxMainDialog& operator=(const WxMainDialog&) = delete;

    // Runs the dialog modally until it ends; returns wxID_OK or wxID_CANCEL.
    int DoModal();

    WxDialogWindow& Window() { return m_Window; }
    CVYX_UtilityDlg& Dialog() { return *m_Dialog; }
    WxAppMessageBox& AppMessageBox() { return m_AppMessageBox; }

  private:
    WxAppMessageBox m_AppMessageBox;
    WxDialogWindow m_Window;
    std::unique_ptr<CVYX_UtilityDlg> m_Dialog;
};

}  // namespace vyx::app
