#include "app/wx/WxMessageBoxes.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

// Needs wx/msgdlg.h first.
#include <wx/generic/msgdlgg.h>

#include <utility>
#include <vector>

#include "app/DialogWindow.h"

namespace vyx::app {

void ShowMessageBox(wxWindow* parent, const std::string& text, const std::string& caption,
                    unsigned style) {
    long icon = wxICON_NONE;
    if ((style & 0xF0) == MB_ICONHAND) {
        icon = wxICON_ERROR;
    } else if ((style & 0xF0) == MB_ICONINFORMATION) {
        icon = wxICON_INFORMATION;
    }
    // GTK: its native box draws no icon, so wx's generic box shows the stop or the "i".
    wxGenericMessageDialog box(parent, wxString::FromUTF8(text), wxString::FromUTF8(caption),
                               wxOK | wxCENTRE | icon);
    box.ShowModal();
}

WxAppMessageBox::WxAppMessageBox(const wxString& title) : m_State(std::make_shared<State>()) {
    m_State->title = title;
}

WxAppMessageBox::~WxAppMessageBox() {
    Shutdown();
}

void WxAppMessageBox::Show(const std::string& text, std::function<void()> onDismissed) {
    int id = 0;
    std::function<void()> refused;  // called outside the lock
    {
        std::lock_guard<std::mutex> guard(m_State->lock);
        if (!m_State->shutDown && wxTheApp != nullptr) {
            id = ++m_State->nextId;
            m_State->boxes.emplace(id, Pending{text, std::move(onDismissed), nullptr});
        } else {
            refused = std::move(onDismissed);
        }
    }
    if (id == 0) {
        // No window thread to show it on any more: counts as dismissed.
        if (refused) {
            refused();
        }
        return;
    }
    // CallAfter queues the call thread-safely; it runs on the window thread.
    std::shared_ptr<State> state = m_State;
    wxTheApp->CallAfter([state, id] { Present(state, id); });
}

void WxAppMessageBox::Present(const std::shared_ptr<State>& state, int id) {
    std::string text;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        const auto it = state->boxes.find(id);
        if (it == state->boxes.end()) {
            return;  // dismissed by Shutdown before it could be shown
        }
        text = it->second.text;
    }
    auto* box =
        new wxDialog(nullptr, wxID_ANY, state->title, wxDefaultPosition, wxDefaultSize,
                     wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxDIALOG_NO_PARENT | wxSTAY_ON_TOP);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(box, wxID_ANY, wxString::FromUTF8(text)), 0, wxALL, 16);
    sizer->Add(new wxButton(box, wxID_OK, "OK"), 0, wxALIGN_CENTRE | wxLEFT | wxRIGHT | wxBOTTOM,
               12);
    box->SetSizerAndFit(sizer);
    box->Bind(wxEVT_BUTTON, [state, id](wxCommandEvent&) { Dismiss(state, id); });
    box->Bind(wxEVT_CLOSE_WINDOW, [state, id](wxCloseEvent&) { Dismiss(state, id); });
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->boxes[id].box = box;
    }
    box->Centre(wxBOTH);
    box->Show();
    box->Raise();
}

void WxAppMessageBox::Dismiss(const std::shared_ptr<State>& state, int id) {
    Pending pending;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        const auto it = state->boxes.find(id);
        if (it == state->boxes.end()) {
            return;
        }
        pending = std::move(it->second);
        state->boxes.erase(it);
    }
    if (pending.box != nullptr) {
        pending.box->Destroy();
    }
    if (pending.onDismissed) {
        pending.onDismissed();
    }
}

void WxAppMessageBox::Shutdown() {
    std::vector<int> ids;
    {
        std::lock_guard<std::mutex> guard(m_State->lock);
        m_State->shutDown = true;
        for (const auto& entry : m_State->boxes) {
            ids.push_back(entry.first);
        }
    }
    for (const int id : ids) {
        Dismiss(m_State, id);
    }
}

std::vector<wxDialog*> WxAppMessageBox::ShownBoxes() const {
    std::vector<wxDialog*> shown;
    std::lock_guard<std::mutex> guard(m_State->lock);
    for (const auto& entry : m_State->boxes) {
        if (entry.second.box != nullptr) {
            shown.push_back(entry.second.box);
        }
    }
    return shown;
}

}  // namespace vyx::app
