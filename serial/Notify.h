#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vyx {

constexpr std::uint32_t WM_USER = 0x0400;
// Posted by the serial watcher after each drain: bytes may have been added to the
// receive queue. wParam: the port number; lParam: last position of the latest chunk.
constexpr std::uint32_t WM_COMM_READ = WM_USER + 1;
// Posted, when asked for, after every non-empty chunk has been queued, before the
// gathering pause: for callers that want to act as soon as a reply is complete rather
// than when the drain ends. Same parameters as WM_COMM_READ.
constexpr std::uint32_t WM_COMM_CHUNK = WM_USER + 2;
// Posted to the chunk listener, once, when the watcher finds the device lost (hung up
// or gone): nothing more will arrive, so a caller waiting for bytes can stop at once.
// wParam: the port number; lParam: 0.
constexpr std::uint32_t WM_COMM_LOST = WM_USER + 3;

// A window that accepts posted messages. PostMessage is called from any thread,
// must not block and must not run the handler itself: the message is handled later
// on the window's own thread. Returns true when the message was queued.
class NotifyWindow {
  public:
    virtual ~NotifyWindow() = default;
    virtual bool PostMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) = 0;
};

// The application's own message box: OK button only, no icon, captioned with the
// application's title. Show returns at once; `onDismissed` is called exactly once,
// from any thread, when the operator has closed the box.
class AppMessageBox {
  public:
    virtual ~AppMessageBox() = default;
    virtual void Show(const std::string& text, std::function<void()> onDismissed) = 0;
};

// Default for programs without a window: prints the text on standard error and
// counts it as dismissed at once.
class StderrMessageBox final : public AppMessageBox {
  public:
    void Show(const std::string& text, std::function<void()> onDismissed) override;
};

}  // namespace vyx
