#include "app/wx/WxMainDialog.h"

namespace vyx::app {

WxMainDialog::WxMainDialog(const wxString& appTitle)
    : m_AppMessageBox(appTitle), m_Dialog(std::make_unique<CVYX_UtilityDlg>(m_Window)) {
    m_Dialog->m_Comm.m_pAppMessageBox = &m_AppMessageBox;
    m_Window.Attach(m_Dialog.get());
}

WxMainDialog::~WxMainDialog() {
    m_AppMessageBox.Shutdown();
    m_Window.Attach(nullptr);
    m_Dialog.reset();  // closes a port still open and joins its watcher
}

int WxMainDialog::DoModal() {
    return m_Window.ShowModal();
}

}  // namespace vyx::app
