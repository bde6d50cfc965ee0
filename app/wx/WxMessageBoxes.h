#pragma once

#include <wx/dialog.h>
#include <wx/string.h>
#include <wx/window.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/Notify.h"

namespace vyx::app {

// Modal message box owned by `parent`: `text`, `caption` as its title, one OK button and
// the stop (MB_ICONHAND) or information (MB_ICONINFORMATION) icon. GTK's native box
// draws no icon, so wx's generic box is used. Returns when the operator has closed it;
// the event loop runs meanwhile, so posted messages are still handled.
void ShowMessageBox(wxWindow* parent, const std::string& text, const std::string& caption,
                    unsigned style);

// The application's own message box for the serial watcher: shown on the window thread,
// captioned with the application's title, OK only, no icon, and not modal, so the
// dialog goes on working while it is up. Show may be called from any thread.
class WxAppMessageBox final : public AppMessageBox {
  public:
    explicit WxAppMessageBox(const wxString& title);
    ~WxAppMessageBox() override;
    WxAppMessageBox(const WxAppMessageBox&) = delete;
    WxAppMessageBox& operator=(const WxAppMessageBox&) = delete;

    void Show(const std::string& text, std::function<void()> onDismissed) override;

    // Closes every box still up (or not yet shown) and reports each one dismissed; any
    // later Show is dismissed at once. Window thread only. Needed before the dialog
    // ends: a watcher waiting for its box would otherwise never be joined.
    void Shutdown();

    // Boxes currently on the screen (window thread).
    std::vector<wxDialog*> ShownBoxes() const;

  private:
    struct Pending {
        std::string text;
        std::function<void()> onDismissed;
        wxDialog* box = nullptr;  // set once shown on the window thread
    };
    // Shared with the calls queued onto the window thread, which may run after this
    // object has gone; the lock guards every field of State.
    struct State {
        wxString title;
        std::mutex lock;
        bool shutDown = false;
        int nextId = 0;
        std::map<int, Pending> boxes;
    };
    static void Present(const std::shared_ptr<State>& state, int id);
    static void Dismiss(const std::shared_ptr<State>& state, int id);

    std::shared_ptr<State> m_State;
};

}  // namespace vyx::app
