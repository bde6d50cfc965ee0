#pragma once

// Helpers of the GUI tests: a hook that answers every modal box (an unexpected box
// would otherwise wait for a person), a modal run of the main dialog with a script, clicks
// and waits on the window thread.

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/uiaction.h>

// Needs wx/msgdlg.h first.
#include <wx/generic/msgdlgg.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/wx/WxAboutDlg.h"
#include "app/wx/WxMainDialog.h"

namespace vyx::test {

struct RecordedBox {
    std::string title;
    std::string text;  // empty for a box that is not a message box
    long icon = 0;     // wxICON_ERROR, wxICON_INFORMATION, ... (wxICON_MASK bits)
    bool about = false;
};

// Records every modal dialog but `keep` (the main dialog) and answers it with OK at
// once, without showing it.
class BoxRecorder final : public wxModalDialogHook {
  public:
    explicit BoxRecorder(wxDialog* keep) : m_Keep(keep) { Register(); }
    ~BoxRecorder() override { Unregister(); }

    std::vector<RecordedBox> boxes;
    // Called with each recorded dialog before it is answered (e.g. to inspect it).
    std::function<void(wxDialog&)> inspect;

  protected:
    int Enter(wxDialog* dialog) override {
        if (dialog == m_Keep) {
            return wxID_NONE;
        }
        RecordedBox box;
        box.title = dialog->GetTitle().utf8_string();
        if (auto* message = dynamic_cast<wxGenericMessageDialog*>(dialog)) {
            box.text = message->GetMessage().utf8_string();
            box.icon = message->GetMessageDialogStyle() & wxICON_MASK;
        }
        box.about = dynamic_cast<app::CAboutDlg*>(dialog) != nullptr;
        boxes.push_back(box);
        if (inspect) {
            inspect(*dialog);
        }
        return wxID_OK;
    }
    void Exit(wxDialog* /*box*/) override {}

  private:
    wxDialog* m_Keep;
};

// Runs the main dialog modally; `script` runs on the window thread once the dialog is
// up and initialised. When the script has not ended the dialog, it is ended as Cancel.
// Returns the dialog's result.
inline int RunModal(app::WxMainDialog& dialog, const std::function<void()>& script) {
    app::WxDialogWindow& window = dialog.Window();
    window.CallAfter([&window, script] {
        script();
        if (window.IsModal()) {
            window.EndModal(wxID_CANCEL);
        }
    });
    return dialog.DoModal();
}

// Dispatches window-thread events until `done` holds or `timeout` passes; returns done().
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        wxEventLoopBase* loop = wxEventLoopBase::GetActive();
        if (loop == nullptr) {
            return done();
        }
        // Waits for the next event (at most 20 ms), then handles what is pending.
        loop->DispatchTimeout(20);
        while (loop->Pending()) {
            loop->Dispatch();
        }
        wxTheApp->ProcessPendingEvents();
    }
    return true;
}

// A click as the button sends it; like the real thing it passes through the button's
// own handler chain up to the dialog.
inline void Click(wxWindow& dialog, int id) {
    wxWindow* control = dialog.FindWindow(id);
    ASSERT_NE(control, nullptr) << "no control " << id;
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
}

// Moves the pointer onto the centre of `window` and waits until it is there.
inline void MovePointerOnto(wxWindow& window) {
    PumpUntil([&] { return window.IsShownOnScreen(); }, std::chrono::seconds(2));
    wxUIActionSimulator sim;
    const wxRect rect = window.GetScreenRect();
    const wxPoint centre = rect.GetPosition() + rect.GetSize() / 2;
    sim.MouseMove(centre);
    PumpUntil([&] { return wxGetMousePosition() == centre; }, std::chrono::seconds(2));
}

// Moves the pointer onto `window` (a control of the dialog, or the dialog) and waits
// until the dialog is active. Without a window manager the X server's focus follows the
// pointer, so this is what gives the dialog the keyboard.
inline void PointAt(wxDialog& dialog, wxWindow& window) {
    MovePointerOnto(window);
    PumpUntil([&] { return dialog.IsActive(); }, std::chrono::seconds(2));
}

// Gives `control` the keyboard focus.
inline void FocusInDialog(wxDialog& dialog, wxWindow& control) {
    PointAt(dialog, control);
    control.SetFocus();
    PumpUntil([&] { return wxWindow::FindFocus() == &control; }, std::chrono::seconds(2));
}

// A real click through the X server on the control `id`: the button takes the focus
// and clicks, as under the operator's hand.
inline void RealClick(wxDialog& dialog, int id) {
    wxWindow* control = dialog.FindWindow(id);
    ASSERT_NE(control, nullptr) << "no control " << id;
    MovePointerOnto(*control);
    wxUIActionSimulator sim;
    sim.MouseClick();
}

// Real key presses through the X server, to the window with the focus.
inline void PressKeys(std::initializer_list<int> keys, int modifiers = wxMOD_NONE) {
    wxUIActionSimulator sim;
    for (const int key : keys) {
        sim.Char(key, modifiers);
    }
}

}  // namespace vyx::test
