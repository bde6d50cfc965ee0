// Entry of the GUI tests: wx is started once for the whole process (under xvfb-run),
// except when the tests are only listed.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/init.h>

#include <cstdio>

namespace {

// A failed wx assertion fails the running test instead of opening a box nobody answers.
void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    ADD_FAILURE_AT(file.utf8_string().c_str(), line)
        << "wx assertion " << cond.utf8_string() << " in " << func.utf8_string() << ": "
        << msg.utf8_string();
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) {
        std::fputs("gui_tests: wx could not start (no X display?)\n", stderr);
        return 1;
    }
    wxSetAssertHandler(FailOnAssert);
    // The application's title, as the program's executable name gives it.
    wxTheApp->SetAppName("VYX_Utility");
    const int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    return result;
}
