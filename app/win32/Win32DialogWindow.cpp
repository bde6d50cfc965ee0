#include "app/win32/Win32DialogWindow.h"

#include <chrono>

#include "app/DialogNavigation.h"
#include "app/VYX_UtilityDlg.h"
#include "app/win32/DialogTemplate.h"
#include "resources/ControlIds.h"
#include "resources/Lists.h"
#include "resources/Templates.h"

namespace vyx::app {

namespace res = vyx::resources;

bool Win32Notifier::PostMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
    std::lock_guard lock(m_Lock);
    return m_Window != nullptr && win32::PostToWindow(m_Window, message, wParam, lParam);
}

void Win32Notifier::Attach(win32::WindowHandle window) {
    std::lock_guard lock(m_Lock);
    m_Window = window;
}

void Win32AppMessageBox::Show(const std::string& text, std::function<void()> onDismissed) {
    const unsigned long thread = win32::CurrentThreadId();
    {
        std::lock_guard lock(m_Lock);
        if (m_ShutDown) {
            onDismissed();
            return;
        }
        m_Showing.push_back(thread);
    }
    // Style 0: an OK button and no icon, owned by no window, as the application's own
    // box is. It blocks the watcher, not the dialog: the box runs its own message loop.
    win32::ShowMessageBox(nullptr, text, m_Title, 0);
    {
        std::lock_guard lock(m_Lock);
        std::erase(m_Showing, thread);
    }
    m_Closed.notify_all();
    onDismissed();
}

void Win32AppMessageBox::Shutdown() {
    std::unique_lock lock(m_Lock);
    m_ShutDown = true;
    // A box may be on its way, its thread listed but its window not yet made: the close
    // is repeated until every listed box has gone, for a bounded time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!m_Showing.empty() && std::chrono::steady_clock::now() < deadline) {
        for (const unsigned long thread : m_Showing) {
            win32::CloseThreadMessageBoxes(thread);
        }
        m_Closed.wait_for(lock, std::chrono::milliseconds(20));
    }
}

int Win32DialogWindow::DoModal(CVYX_UtilityDlg& dialog) {
    m_Dialog = &dialog;
    const std::vector<std::uint8_t> bytes =
        win32::BuildDialogTemplate(res::kMainDialogTemplate, res::IDR_MAINFRAME);
    const int result = win32::RunModalDialog(bytes, nullptr, this, res::IDR_MAINFRAME);
    m_Dialog = nullptr;
    return result;
}

int Win32DialogWindow::OnInitDialog(win32::WindowHandle dialog) {
    m_Window = dialog;
    m_Notifier.Attach(dialog);
    // The list entries stored with the template go in before the dialog's own
    // initialisation, as the dialog manager does with a resource template's.
    for (const res::ControlTemplate& control : res::kMainDialogTemplate.controls) {
        for (const std::string_view entry : control.entries) {
            win32::ComboAddString(dialog, control.id, entry);
        }
    }
    return m_Dialog->OnInitDialog();
}

void Win32DialogWindow::OnCommand(int controlId) {
    m_Dialog->OnCommand(controlId);
}

bool Win32DialogWindow::OnSysCommand(unsigned command, std::int64_t lParam) {
    m_Dialog->OnMessage(WM_SYSCOMMAND, command, lParam);
    // The About item is the program's own; the system's commands keep their handling.
    return (command & 0xFFF0u) == res::IDM_ABOUTBOX;
}

void Win32DialogWindow::OnPosted(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
    m_Dialog->OnMessage(message, wParam, lParam);
}

std::pair<int, int> Win32DialogWindow::IconPosition(int clientW, int clientH, int iconCx,
                                                    int iconCy) {
    return CVYX_UtilityDlg::MinimisedIconPosition(clientW, clientH, iconCx, iconCy);
}

void Win32DialogWindow::OnDestroy() {
    // The watcher may still run (the dialog ended by Escape with the port open) until
    // the dialog object closes the port: from here on its posts are refused.
    m_Notifier.Detach();
    m_Window = nullptr;
}

void Win32DialogWindow::AddString(int id, const std::string& text) {
    win32::ComboAddString(m_Window, id, text);
}

void Win32DialogWindow::SetCurSel(int id, int index) {
    win32::ComboSetCurSel(m_Window, id, index);
}

int Win32DialogWindow::GetCurSel(int id) const {
    return win32::ComboGetCurSel(m_Window, id);
}

std::string Win32DialogWindow::GetDlgItemText(int id) const {
    // The whole text as UTF-8; the dialog converts it to the ANSI code page and cuts it
    // to 20 bytes, as GetDlgItemTextA with room for 21 would hand it over.
    return win32::ControlText(m_Window, id);
}

void Win32DialogWindow::EnableWindow(int id, bool enable) {
    // The dialog manager leaves the focus on a control that is disabled, where no key
    // reaches anything ("Port Open" disables itself when clicked): it moves on, as the
    // wx window does, to the next enabled tab stop or to the dialog itself.
    const bool hadFocus = !enable && win32::ControlHasFocus(m_Window, id);
    win32::EnableControl(m_Window, id, enable);
    if (hadFocus) {
        win32::FocusControl(m_Window, FocusAfterDisabling(res::kMainDialogTemplate, *this, id));
    }
}

bool Win32DialogWindow::IsWindowEnabled(int id) const {
    return win32::ControlEnabled(m_Window, id);
}

void Win32DialogWindow::MessageBox(const std::string& text, const std::string& caption,
                                   unsigned style) {
    win32::ShowMessageBox(m_Window, text, caption, style);
}

void Win32DialogWindow::ShowAboutBox() {
    const std::vector<std::uint8_t> bytes =
        win32::BuildDialogTemplate(res::kAboutDialogTemplate, res::IDR_MAINFRAME);
    static_cast<void>(win32::RunModalDialog(bytes, m_Window, nullptr, res::IDR_MAINFRAME));
}

bool Win32DialogWindow::HasSystemMenu() const {
    return win32::HasWindowMenu(m_Window);
}

void Win32DialogWindow::AppendSystemMenuSeparator() {
    win32::AppendWindowMenuSeparator(m_Window);
}

void Win32DialogWindow::AppendSystemMenuItem(unsigned commandId, const std::string& text) {
    win32::AppendWindowMenuItem(m_Window, commandId, text);
}

void Win32DialogWindow::SetIcons() {
    win32::SetWindowIcons(m_Window, res::IDR_MAINFRAME);
}

void Win32DialogWindow::Beep() {
    win32::AlertBeep();
}

void Win32DialogWindow::EndDialog(int result) {
    win32::EndModalDialog(m_Window, result);
}

}  // namespace vyx::app
