#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

// The user32 calls the Windows dialog needs, behind names of our own. <windows.h> is
// included only by Win32Api.cpp: its macros (PostMessage, MessageBox, GetDlgItemText,
// LoadString, WM_USER, MB_OK, IDOK, ...) would rewrite the names that the dialog's
// toolkit-free headers use for the same things.
namespace vyx::app::win32 {

using WindowHandle = void*;  // an HWND

// What a dialog run by RunModalDialog hands to its owner, on the window thread.
class DialogEvents {
  public:
    virtual ~DialogEvents() = default;
    // WM_INITDIALOG, with the dialog window; the result goes back to the dialog manager
    // (nonzero: it focuses the first control that takes the focus).
    virtual int OnInitDialog(WindowHandle dialog) = 0;
    // The click of a button other than OK (1) and Cancel (2), which end the dialog.
    virtual void OnCommand(int controlId) = 0;
    // WM_SYSCOMMAND; true when it was the program's own command, false for the system's.
    virtual bool OnSysCommand(unsigned command, std::int64_t lParam) = 0;
    // A message the program posted to the window (WM_USER + 1 to WM_USER + 3).
    virtual void OnPosted(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) = 0;
    // Top-left corner of the icon in the minimised window's client area.
    virtual std::pair<int, int> IconPosition(int clientW, int clientH, int iconCx, int iconCy) = 0;
    // WM_DESTROY: the window is going; nothing may be posted to it any more.
    virtual void OnDestroy() = 0;
};

// Runs the dialog of `dialogTemplate` (BuildDialogTemplate's bytes) modally, owned by
// `owner` (nullptr: none), until it is ended; returns its result, -1 when it could not
// be created. `events` may be nullptr (a dialog with no behaviour but OK and Cancel).
// `iconId` names the icon resource the window shows and draws when minimised.
int RunModalDialog(std::span<const std::uint8_t> dialogTemplate, WindowHandle owner,
                   DialogEvents* events, int iconId);
void EndModalDialog(WindowHandle dialog, int result);

// Combo boxes: CB_ADDSTRING, CB_SETCURSEL, CB_GETCURSEL (-1: no entry selected).
void ComboAddString(WindowHandle dialog, int id, std::string_view utf8);
void ComboSetCurSel(WindowHandle dialog, int id, int index);
int ComboGetCurSel(WindowHandle dialog, int id);
// The text of a control, UTF-8.
std::string ControlText(WindowHandle dialog, int id);
void EnableControl(WindowHandle dialog, int id, bool enable);
bool ControlEnabled(WindowHandle dialog, int id);
// Whether control `id` (or a part of it, a combo box's field) has the keyboard focus.
bool ControlHasFocus(WindowHandle dialog, int id);
// Gives the focus to control `id` as the dialog manager moves it (WM_NEXTDLGCTL, which
// also moves the default-button look); id 0 gives it to the dialog itself.
void FocusControl(WindowHandle dialog, int id);

// A modal message box owned by `owner` (nullptr: none), `style` as MessageBox takes it.
void ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                    unsigned style);

// The calling thread's id; closing the message boxes a thread shows, as their OK does.
unsigned long CurrentThreadId();
void CloseThreadMessageBoxes(unsigned long threadId);

// The window menu: present, a separator, a text item.
bool HasWindowMenu(WindowHandle dialog);
void AppendWindowMenuSeparator(WindowHandle dialog);
void AppendWindowMenuItem(WindowHandle dialog, unsigned command, std::string_view utf8);

// Loads icon resource `iconId` and makes it the window's big, then small, icon.
void SetWindowIcons(WindowHandle dialog, int iconId);
void AlertBeep();

// PostMessage to `window`; false when it was not queued.
bool PostToWindow(WindowHandle window, std::uint32_t message, std::uint64_t wParam,
                  std::int64_t lParam);

// The running program's file name without folder and extension: the application's title.
std::string ApplicationTitle();
// The same from a full path, "C:\\x\\VYX_Utility.exe" -> "VYX_Utility".
std::string TitleFromModulePath(std::string_view path);

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace vyx::app::win32
