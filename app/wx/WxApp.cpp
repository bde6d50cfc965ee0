#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "app/wx/WxMainDialog.h"
#include "resources/Version.h"

namespace vyx::app {

// The application: its whole run is the main dialog, shown modally. There is no main
// loop of its own, no command line and no setting.
class CVYX_UtilityApp final : public wxApp {
  public:
    // The instance has static storage (see below); wx deletes the application object
    // at clean-up, which then only runs its destructor.
    static void operator delete(void* /*object*/) {}

    // Runs the dialog and returns false: the program ends when the dialog has ended.
    bool OnInit() override {
        // No application name is set: wx takes the title from the executable's file
        // name without extension, "VYX_Utility".
        WxMainDialog dialog(GetAppName());
        dialog.DoModal();
        return false;
    }
};

namespace {
// The one application object, constructed during static initialisation. Not through
// wxIMPLEMENT_APP: its factory creates the application only when wxEntry starts, and
// wxEntry ends the program with status -1 whenever OnInit declines a main loop, which
// is this program's normal end. wxApp's constructor registers the instance as
// wxTheApp, so wxEntryStart takes it as it is; wx's final delete is the no-op above.
alignas(CVYX_UtilityApp) unsigned char g_AppStorage[sizeof(CVYX_UtilityApp)];
CVYX_UtilityApp* const theApp = new (g_AppStorage) CVYX_UtilityApp;
}  // namespace

}  // namespace vyx::app

int main(int argc, char** argv) {
    // Answered before wx starts, so that it needs no display: the one option the program
    // reads, for packaging checks and bug reports.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("VYX_Utility " VYX_VERSION_TEXT "\n", stdout);
        return 0;
    }
    if (!wxEntryStart(argc, argv)) {
        // Almost always: no display to connect to.
        std::fputs("VYX_Utility: cannot open a graphical display (is DISPLAY set?)\n", stderr);
        return 1;
    }
    // OnInit runs the whole dialog; its false only means "no main loop follows".
    wxTheApp->CallOnInit();
    wxEntryCleanup();
    return 0;
}
