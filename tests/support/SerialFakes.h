#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/Notify.h"

namespace vyx::test {

// A notification target that records every posted message, from any thread, and lets
// the test wait for the n-th one with a deadline.
class RecordingWindow final : public NotifyWindow {
  public:
    struct Message {
        std::uint32_t message;
        std::uint64_t wParam;
        std::int64_t lParam;
        std::chrono::steady_clock::time_point at;
    };

    bool PostMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) override {
        {
            std::lock_guard lock(m_Lock);
            m_Messages.push_back({message, wParam, lParam, std::chrono::steady_clock::now()});
        }
        m_Changed.notify_all();
        if (m_OnPost) {
            m_OnPost();
        }
        return true;
    }

    // Runs on the posting thread after each message is recorded (set before the port opens).
    void SetOnPost(std::function<void()> onPost) { m_OnPost = std::move(onPost); }

    // True once at least `count` messages were posted before the deadline.
    bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_Lock);
        return m_Changed.wait_for(lock, timeout, [&] { return m_Messages.size() >= count; });
    }

    std::vector<Message> Messages() {
        std::lock_guard lock(m_Lock);
        return m_Messages;
    }

    std::size_t Count() {
        std::lock_guard lock(m_Lock);
        return m_Messages.size();
    }

  private:
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::vector<Message> m_Messages;
    std::function<void()> m_OnPost;
};

// An application message box that stays up until the test dismisses it, like the
// operator would. Records every text shown.
class TestMessageBox final : public AppMessageBox {
  public:
    void Show(const std::string& text, std::function<void()> onDismissed) override {
        {
            std::lock_guard lock(m_Lock);
            m_Texts.push_back(text);
            m_Open.push_back(std::move(onDismissed));
        }
        m_Changed.notify_all();
    }

    bool WaitForShown(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_Lock);
        return m_Changed.wait_for(lock, timeout, [&] { return m_Texts.size() >= count; });
    }

    // Dismisses every box still up; returns how many.
    int DismissAll() {
        std::vector<std::function<void()>> open;
        {
            std::lock_guard lock(m_Lock);
            open.swap(m_Open);
        }
        for (auto& dismiss : open) {
            dismiss();
        }
        return static_cast<int>(open.size());
    }

    std::vector<std::string> Texts() {
        std::lock_guard lock(m_Lock);
        return m_Texts;
    }

  private:
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::vector<std::string> m_Texts;
    std::vector<std::function<void()>> m_Open;
};

// Waits (without sleeping a fixed time) until `condition` holds or the deadline passes,
// re-checking every millisecond; for conditions no event announces (thread counts).
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace vyx::test
