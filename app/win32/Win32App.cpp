// The Windows application: its whole run is the main dialog, shown modally. There is no
// main loop of its own, no command line and no setting.
#include <memory>

#include "app/VYX_UtilityDlg.h"
#include "app/win32/Win32Api.h"
#include "app/win32/Win32DialogWindow.h"

namespace vyx::app {

namespace {

// Lifetime: the dialog object (and with it m_Comm, whose destruction closes a port still
// open and joins its watcher) goes after the window has ended, before the box it reports
// through.
int RunApplication() {
    // The application's title is the executable's name without extension: it captions
    // the watcher's boxes.
    Win32AppMessageBox appBox(win32::ApplicationTitle());
    Win32DialogWindow window;
    auto dialog = std::make_unique<CVYX_UtilityDlg>(window);
    dialog->m_Comm.m_pAppMessageBox = &appBox;
    window.DoModal(*dialog);
    appBox.Shutdown();
    dialog.reset();
    return 0;
}

}  // namespace

}  // namespace vyx::app

// A GUI program (linked for the Windows subsystem): mingw's start-up calls main.
int main() {
    return vyx::app::RunApplication();
}
