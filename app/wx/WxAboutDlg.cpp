#include "app/wx/WxAboutDlg.h"

#include "app/wx/WxResources.h"
#include "resources/Templates.h"

namespace vyx::app {

CAboutDlg::CAboutDlg(wxWindow* parent) {
    const resources::DialogTemplate& dialogTemplate = resources::kAboutDialogTemplate;
    Create(parent, wxID_ANY,
           wxString::FromUTF8(dialogTemplate.title.data(), dialogTemplate.title.size()),
           wxDefaultPosition, wxDefaultSize, WxDialogStyle(dialogTemplate) & ~wxDIALOG_NO_PARENT);
    BuildFromTemplate(*this, dialogTemplate);
    SetIcons(ApplicationIcons());
    CentreOnParent();
}

}  // namespace vyx::app
