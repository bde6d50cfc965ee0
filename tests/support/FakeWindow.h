#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/DialogWindow.h"

namespace vyx::app {
class CVYX_UtilityDlg;
}

namespace vyx::test {

// A window without a screen for the dialog's behaviour. It records every call the
// dialog makes and plays the operator: typing, picking list entries, clicking, answering
// message boxes. Posted messages queue up (from any thread) and reach the dialog only
// when the test pumps them, also from inside a message box, as a modal box does.
// Everything but PostMessage belongs to the test's thread, which plays the window thread.
class FakeWindow final : public app::DialogWindow {
  public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned style = 0;
    };
    struct Posted {
        std::uint32_t message = 0;
        std::uint64_t wParam = 0;
        std::int64_t lParam = 0;
    };
    // One entry per call, in order, e.g. "EnableWindow 1005 0", "MessageBox", "SetIcons".
    using Log = std::vector<std::string>;

    // The lists hold their template entries; every control starts enabled.
    FakeWindow();
    ~FakeWindow() override;

    // The dialog that clicks and posted messages go to (nullptr: none).
    void Attach(app::CVYX_UtilityDlg* dialog) { m_Dialog = dialog; }

    // DialogWindow
    void AddString(int id, const std::string& text) override;
    void SetCurSel(int id, int index) override;
    int GetCurSel(int id) const override;
    std::string GetDlgItemText(int id) const override;
    void EnableWindow(int id, bool enable) override;
    bool IsWindowEnabled(int id) const override;
    void MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    void ShowAboutBox() override;
    bool HasSystemMenu() const override { return m_HasSystemMenu; }
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(unsigned commandId, const std::string& text) override;
    void SetIcons() override;
    void Beep() override;
    void EndDialog(int result) override;
    vyx::NotifyWindow& Notifier() override { return m_Notifier; }

    // The operator.
    void Click(int id);  // as a real window: nothing happens on a disabled control
    void Type(int id, const std::string& text);
    void Select(int id, int index);
    // Edits a list's text field so that it names no selected entry: the query gives -1.
    void EditListText(int id, const std::string& text);
    // Called inside MessageBox, before it returns (the operator's "OK"); it may pump.
    void OnMessageBox(std::function<void(const Box&, int depth)> answer) {
        m_Answer = std::move(answer);
    }
    void SetHasSystemMenu(bool has) { m_HasSystemMenu = has; }

    // Delivers queued messages to the dialog until `done` holds (checked before each
    // wait and after each delivery) or the timeout passes; returns done().
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Delivers the messages queued now; returns how many.
    int PumpPending();
    // Waits, without delivering, until at least `count` messages are queued.
    bool WaitForPosted(std::size_t count, std::chrono::milliseconds timeout);
    std::size_t PostedCount() const;

    // What the dialog did.
    const Log& Calls() const { return m_Calls; }
    const std::vector<Box>& Boxes() const { return m_Boxes; }
    const std::vector<std::string>& Entries(int id) const;
    const std::vector<std::pair<unsigned, std::string>>& SystemMenu() const { return m_Menu; }
    const std::vector<std::pair<int, bool>>& Enables() const { return m_Enables; }
    int AboutBoxes() const { return m_AboutBoxes; }
    int Beeps() const { return m_Beeps; }
    int IconSets() const { return m_IconSets; }
    int EndResult() const { return m_EndResult; }  // 0 while not ended
    int BoxDepth() const { return m_BoxDepth; }
    void ClearLog();

  private:
    class PostQueue final : public vyx::NotifyWindow {
      public:
        explicit PostQueue(FakeWindow& owner) : m_Owner(owner) {}
        bool PostMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) override;

      private:
        FakeWindow& m_Owner;
    };
    bool DeliverOne(std::chrono::steady_clock::time_point deadline);

    app::CVYX_UtilityDlg* m_Dialog = nullptr;
    PostQueue m_Notifier{*this};

    // The posted-message queue: the only state other threads reach.
    mutable std::mutex m_PostLock;
    std::condition_variable m_PostCv;
    std::deque<Posted> m_Posted;

    std::map<int, std::vector<std::string>> m_Lists;
    std::map<int, int> m_Selection;
    std::map<int, std::string> m_Texts;
    std::map<int, bool> m_Enabled;
    std::function<void(const Box&, int)> m_Answer;
    bool m_HasSystemMenu = true;
    Log m_Calls;
    std::vector<Box> m_Boxes;
    std::vector<std::pair<unsigned, std::string>> m_Menu;
    std::vector<std::pair<int, bool>> m_Enables;
    int m_AboutBoxes = 0;
    int m_Beeps = 0;
    int m_IconSets = 0;
    int m_EndResult = 0;
    int m_BoxDepth = 0;
};

}  // namespace vyx::test
