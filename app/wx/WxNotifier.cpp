#include "app/wx/WxNotifier.h"

#include <utility>

namespace vyx::app {
namespace {

wxDEFINE_EVENT(EVT_VYX_POSTED_MESSAGE, wxThreadEvent);

struct PostedMessage {
    std::uint32_t message;
    std::uint64_t wParam;
    std::int64_t lParam;
};

}  // namespace

WxNotifier::WxNotifier(wxEvtHandler& target, Deliver deliver)
    : m_Target(&target), m_Deliver(std::move(deliver)) {
    target.Bind(EVT_VYX_POSTED_MESSAGE, &WxNotifier::OnPosted, this);
}

WxNotifier::~WxNotifier() {
    Detach();
}

bool WxNotifier::PostMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_Target == nullptr) {
        return false;
    }
    auto* event = new wxThreadEvent(EVT_VYX_POSTED_MESSAGE);
    event->SetPayload(PostedMessage{message, wParam, lParam});
    wxQueueEvent(m_Target, event);  // takes ownership
    return true;
}

void WxNotifier::Detach() {
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_Target != nullptr) {
        m_Target->Unbind(EVT_VYX_POSTED_MESSAGE, &WxNotifier::OnPosted, this);
        // Events already queued are dropped with the handler's pending list.
        m_Target = nullptr;
    }
}

void WxNotifier::OnPosted(wxThreadEvent& event) {
    const auto posted = event.GetPayload<PostedMessage>();
    if (m_Deliver) {
        m_Deliver(posted.message, posted.wParam, posted.lParam);
    }
}

}  // namespace vyx::app
