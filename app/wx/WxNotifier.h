#pragma once

#include <wx/event.h>

#include <cstdint>
#include <functional>
#include <mutex>

#include "serial/Notify.h"

namespace vyx::app {

// The dialog's NotifyWindow on wx: PostMessage, called on the watcher thread, queues an
// event to `target` (wxQueueEvent is thread-safe and does not wait for the handler);
// on the window thread the event calls `deliver` with the message. Detach, called by
// the window as it goes, makes every later PostMessage a refused no-op.
class WxNotifier final : public NotifyWindow {
  public:
    using Deliver = std::function<void(std::uint32_t, std::uint64_t, std::int64_t)>;
    WxNotifier(wxEvtHandler& target, Deliver deliver);
    ~WxNotifier() override;
    WxNotifier(const WxNotifier&) = delete;
    WxNotifier& operator=(const WxNotifier&) = delete;

    bool PostMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) override;
    void Detach();

  private:
    void OnPosted(wxThreadEvent& event);

    // Guards m_Target against a post racing the window's destruction.
    std::mutex m_Lock;
    wxEvtHandler* m_Target;
    Deliver m_Deliver;  // window thread only
};

}  // namespace vyx::app
