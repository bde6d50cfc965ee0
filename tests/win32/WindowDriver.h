#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Drives this process's own windows from inside their message loops, for the tests of
// the Windows dialog. Free of <windows.h>, so that the tests can use the dialog's headers
// beside it.
namespace vyx::test::win32 {

using Window = void*;

// Runs queued steps one at a time from a thread timer, in whatever message loop this
// thread is in at the moment (the dialog's, or a message box's nested in it). A step
// returns true when done; false runs it again on the next tick. A step that opens a
// modal window returns only when that window has closed: the next steps run inside it.
// Past the deadline `onTimeout` runs once and the queue is dropped.
class StepRunner {
  public:
    using Step = std::function<bool()>;
    StepRunner(unsigned deadlineMs, std::function<void()> onTimeout);
    ~StepRunner();
    StepRunner(const StepRunner&) = delete;
    StepRunner& operator=(const StepRunner&) = delete;

    void Add(Step step) { m_Steps.push_back(std::move(step)); }
    void Start();
    bool Finished() const { return m_Next >= m_Steps.size(); }
    bool TimedOut() const { return m_TimedOut; }
    // Called by the timer.
    void Tick();

  private:
    std::vector<Step> m_Steps;
    std::size_t m_Next = 0;
    bool m_TimedOut = false;
    unsigned m_DeadlineMs;
    std::uint64_t m_StartMs = 0;
    std::function<void()> m_OnTimeout;
    std::uintptr_t m_Timer = 0;
};

// A visible top-level dialog (#32770) of this process, on any of its threads, with the
// caption; nullptr if none.
Window FindDialog(const std::string& caption);

struct MenuEntry {
    bool separator = false;
    unsigned id = 0;
    std::string text;
};
std::vector<MenuEntry> WindowMenu(Window window);

// DM_GETDEFID's id, 0 when the dialog has no default push button.
int DefaultButton(Window dialog);
// A click of a control, as the dialog manager sends it (WM_COMMAND, BN_CLICKED).
void Click(Window dialog, int id);
void SendSysCommand(Window window, unsigned command);
void SetControlText(Window dialog, int id, const std::string& utf8);
bool Enabled(Window dialog, int id);
// Keyboard focus: give it to control `id`; the id of the control holding it (0: the
// dialog itself or nothing of the dialog).
void Focus(Window dialog, int id);
int FocusedControl(Window dialog);
int ComboSelection(Window dialog, int id);
int ComboCount(Window dialog, int id);
// The text of a message box (its longest static text).
std::string BoxText(Window box);
// Whether a message box shows an icon.
bool HasIcon(Window box);
// Whether two windows belong to the same thread.
bool SameThread(Window a, Window b);
// The title of a window.
std::string Title(Window window);
bool IsMinimised(Window window);
// Posts a message to a window, as another thread would.
void Post(Window window, std::uint32_t message, std::uint64_t wParam, std::int64_t lParam);
// Ends a message box or dialog as its OK button does.
void PressOk(Window window);

}  // namespace vyx::test::win32
