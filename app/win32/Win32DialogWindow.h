#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/DialogWindow.h"
#include "app/win32/Win32Api.h"
#include "serial/Notify.h"

namespace vyx::app {

class CVYX_UtilityDlg;

// The dialog's NotifyWindow on Windows: PostMessage queues the message to the dialog's
// window with the system's PostMessage, from any thread; the dialog procedure hands it
// to the message table on the window thread. Posts before the window exists or after
// it has gone are refused.
class Win32Notifier final : public NotifyWindow {
  public:
    bool PostMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) override;
    void Attach(win32::WindowHandle window);
    void Detach() { Attach(nullptr); }

  private:
    // Guards m_Window: the watcher posts while the window thread may be destroying it.
    std::mutex m_Lock;
    win32::WindowHandle m_Window = nullptr;
};

// The watcher's application message box on Windows: the system's message box with
// style 0 (OK, no icon), captioned with the application's title, shown on the thread
// that calls Show (the watcher), which it blocks until the operator closes it. The
// dialog goes on meanwhile; a ClosePort from the window waits for the watcher, and so
// for the box.
class Win32AppMessageBox final : public AppMessageBox {
  public:
    explicit Win32AppMessageBox(std::string title) : m_Title(std::move(title)) {}
    void Show(const std::string& text, std::function<void()> onDismissed) override;

    // Closes every box still up (waiting at most 2 s for them to go) and dismisses at
    // once any later Show. Called when the dialog has ended, before the port is closed:
    // a watcher waiting in its box would otherwise keep the program alive until the
    // operator closed it.
    void Shutdown();

  private:
    std::string m_Title;
    // Guards the fields below: Show runs on watchers, Shutdown on the window thread.
    std::mutex m_Lock;
    std::condition_variable m_Closed;  // a box has gone
    bool m_ShutDown = false;
    std::vector<unsigned long> m_Showing;  // threads with a box up
};

// The main dialog's window on Windows: a native dialog built from template 102 by the
// dialog manager, which gives it the keyboard handling (Tab over the tab stops, Enter
// as OK, Escape as Cancel) and the window menu. It carries out the DialogWindow calls
// of CVYX_UtilityDlg and hands it the clicks, window-menu commands and posted messages.
class Win32DialogWindow final : public DialogWindow, private win32::DialogEvents {
  public:
    // Runs the dialog until it ends; returns its result (1 OK, 2 Cancel, -1 not created).
    int DoModal(CVYX_UtilityDlg& dialog);

    // DialogWindow
    void AddString(int id, const std::string& text) override;
    void SetCurSel(int id, int index) override;
    int GetCurSel(int id) const override;
    std::string GetDlgItemText(int id) const override;
    void EnableWindow(int id, bool enable) override;
    bool IsWindowEnabled(int id) const override;
    void MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    void ShowAboutBox() override;
    bool HasSystemMenu() const override;
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(unsigned commandId, const std::string& text) override;
    void SetIcons() override;
    void Beep() override;
    void EndDialog(int result) override;
    NotifyWindow& Notifier() override { return m_Notifier; }

  private:
    // win32::DialogEvents
    int OnInitDialog(win32::WindowHandle dialog) override;
    void OnCommand(int controlId) override;
    bool OnSysCommand(unsigned command, std::int64_t lParam) override;
    void OnPosted(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) override;
    std::pair<int, int> IconPosition(int clientW, int clientH, int iconCx, int iconCy) override;
    void OnDestroy() override;

    CVYX_UtilityDlg* m_Dialog = nullptr;
    win32::WindowHandle m_Window = nullptr;
    Win32Notifier m_Notifier;
};

}  // namespace vyx::app
