#pragma once

#include <wx/dialog.h>

namespace vyx::app {

// The About box, built from template 100: the application icon, the program's name and
// version, the maker and copyright year, and OK. OK and Escape close it.
class CAboutDlg final : public wxDialog {
  public:
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace vyx::app
