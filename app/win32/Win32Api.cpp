// The one translation unit of the Windows dialog that includes <windows.h>.
#include <windows.h>

#include "app/win32/Win32Api.h"

namespace vyx::app::win32 {

namespace {

// What a running dialog keeps with its window (GWLP_USERDATA).
struct DialogRun {
    DialogEvents* events;
    int iconId;
};

HWND Hwnd(WindowHandle window) {
    return static_cast<HWND>(window);
}

HWND Item(WindowHandle dialog, int id) {
    return GetDlgItem(Hwnd(dialog), id);
}

std::wstring Wide(std::string_view utf8) {
    const std::u16string text = Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

HICON LoadAppIcon(int iconId) {
    return LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId));
}

// The minimised window draws the icon centred in its client area itself.
void PaintMinimised(HWND window, const DialogRun& run) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window, &paint);
    SendMessageW(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(window, &client);
    const auto [x, y] =
        run.events->IconPosition(client.right - client.left, client.bottom - client.top, cx, cy);
    DrawIcon(dc, x, y, LoadAppIcon(run.iconId));
    EndPaint(window, &paint);
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* run = reinterpret_cast<DialogRun*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        return run->events != nullptr ? run->events->OnInitDialog(window) : TRUE;
    }
    auto* run = reinterpret_cast<DialogRun*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (run == nullptr) {
        return FALSE;
    }
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK || id == IDCANCEL) {
                // Enter, Escape, the close command, the About box's OK: the dialog
                // manager's default ending, which the program keeps.
                EndDialog(window, id);
                return TRUE;
            }
            if (HIWORD(wParam) == BN_CLICKED && lParam != 0 && run->events != nullptr) {
                run->events->OnCommand(id);
                return TRUE;
            }
            return FALSE;
        }
        case WM_SYSCOMMAND:
            return run->events != nullptr &&
                           run->events->OnSysCommand(static_cast<unsigned>(wParam),
                                                     static_cast<std::int64_t>(lParam))
                       ? TRUE
                       : FALSE;
        case WM_PAINT:
            if (run->events != nullptr && IsIconic(window)) {
                PaintMinimised(window, *run);
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            // One of the messages whose result a dialog procedure returns directly.
            return reinterpret_cast<INT_PTR>(LoadAppIcon(run->iconId));
        case WM_DESTROY:
            if (run->events != nullptr) {
                run->events->OnDestroy();
            }
            return FALSE;
        default:
            break;
    }
    // The posted messages must not reach the dialog manager: WM_USER + 1 and + 2 are
    // its DM_SETDEFID and DM_REPOSITION, which would take the port number for a
    // default button id.
    if (message >= WM_USER + 1 && message <= WM_USER + 3 && run->events != nullptr) {
        run->events->OnPosted(message, static_cast<std::uint64_t>(wParam),
                              static_cast<std::int64_t>(lParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int RunModalDialog(std::span<const std::uint8_t> dialogTemplate, WindowHandle owner,
                   DialogEvents* events, int iconId) {
    DialogRun run{events, iconId};
    // The template must be DWORD-aligned; a vector's storage is.
    return static_cast<int>(DialogBoxIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()),
        Hwnd(owner), DialogProc, reinterpret_cast<LPARAM>(&run)));
}

void EndModalDialog(WindowHandle dialog, int result) {
    EndDialog(Hwnd(dialog), result);
}

void ComboAddString(WindowHandle dialog, int id, std::string_view utf8) {
    const std::wstring text = Wide(utf8);
    SendMessageW(Item(dialog, id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ComboSetCurSel(WindowHandle dialog, int id, int index) {
    SendMessageW(Item(dialog, id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int ComboGetCurSel(WindowHandle dialog, int id) {
    // CB_ERR (-1) when no entry is selected.
    return static_cast<int>(SendMessageW(Item(dialog, id), CB_GETCURSEL, 0, 0));
}

std::string ControlText(WindowHandle dialog, int id) {
    const HWND item = Item(dialog, id);
    const int length = GetWindowTextLengthW(item);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(item, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

void EnableControl(WindowHandle dialog, int id, bool enable) {
    EnableWindow(Item(dialog, id), enable ? TRUE : FALSE);
}

bool ControlEnabled(WindowHandle dialog, int id) {
    return IsWindowEnabled(Item(dialog, id)) != FALSE;
}

bool ControlHasFocus(WindowHandle dialog, int id) {
    const HWND item = Item(dialog, id);
    const HWND focus = GetFocus();
    return item != nullptr && focus != nullptr && (focus == item || IsChild(item, focus));
}

void FocusControl(WindowHandle dialog, int id) {
    if (id == 0) {
        SetFocus(Hwnd(dialog));
        return;
    }
    SendMessageW(Hwnd(dialog), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(dialog, id)), TRUE);
}

void ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                    unsigned style) {
    MessageBoxW(Hwnd(owner), Wide(text).c_str(), Wide(caption).c_str(), style);
}

unsigned long CurrentThreadId() {
    return GetCurrentThreadId();
}

void CloseThreadMessageBoxes(unsigned long threadId) {
    EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM) -> BOOL {
            wchar_t cls[16] = {};
            GetClassNameW(window, cls, 16);
            if (lstrcmpW(cls, L"#32770") == 0) {
                // A box with only an OK button takes WM_CLOSE as OK.
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
            return TRUE;
        },
        0);
}

bool HasWindowMenu(WindowHandle dialog) {
    return GetSystemMenu(Hwnd(dialog), FALSE) != nullptr;
}

void AppendWindowMenuSeparator(WindowHandle dialog) {
    AppendMenuW(GetSystemMenu(Hwnd(dialog), FALSE), MF_SEPARATOR, 0, nullptr);
}

void AppendWindowMenuItem(WindowHandle dialog, unsigned command, std::string_view utf8) {
    AppendMenuW(GetSystemMenu(Hwnd(dialog), FALSE), MF_STRING, command, Wide(utf8).c_str());
}

void SetWindowIcons(WindowHandle dialog, int iconId) {
    const HICON icon = LoadAppIcon(iconId);
    SendMessageW(Hwnd(dialog), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(Hwnd(dialog), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void AlertBeep() {
    MessageBeep(MB_OK);
}

bool PostToWindow(WindowHandle window, std::uint32_t message, std::uint64_t wParam,
                  std::int64_t lParam) {
    return PostMessageW(Hwnd(window), message, static_cast<WPARAM>(wParam),
                        static_cast<LPARAM>(lParam)) != FALSE;
}

std::string TitleFromModulePath(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/:");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    return std::string(name);
}

std::string ApplicationTitle() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return TitleFromModulePath(Utf16ToUtf8(std::u16string(path.begin(), path.end())));
}

std::u16string Utf8ToUtf16(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), n);
    return std::u16string(out.begin(), out.end());
}

std::string Utf16ToUtf8(std::u16string_view text) {
    if (text.empty()) {
        return {};
    }
    const std::wstring wide(text.begin(), text.end());
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace vyx::app::win32
