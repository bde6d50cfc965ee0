#include "tests/win32/WindowDriver.h"

#include <windows.h>

namespace vyx::test::win32 {

namespace {

HWND H(Window w) {
    return static_cast<HWND>(w);
}

StepRunner* g_Runner = nullptr;  // the one runner of the test's thread

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_Runner != nullptr) {
        g_Runner->Tick();
    }
}

std::string Utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), n);
    out.resize(out.size() - 1);
    return out;
}

struct Search {
    std::wstring caption;
    HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t cls[16] = {};
    wchar_t title[256] = {};
    GetClassNameW(window, cls, 16);
    GetWindowTextW(window, title, 256);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && lstrcmpW(cls, L"#32770") == 0 &&
        search->caption == title && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

StepRunner::StepRunner(unsigned deadlineMs, std::function<void()> onTimeout)
    : m_DeadlineMs(deadlineMs), m_OnTimeout(std::move(onTimeout)) {}

StepRunner::~StepRunner() {
    if (m_Timer != 0) {
        KillTimer(nullptr, m_Timer);
    }
    g_Runner = nullptr;
}

void StepRunner::Start() {
    g_Runner = this;
    m_StartMs = GetTickCount64();
    m_Timer = SetTimer(nullptr, 0, 10, OnTimer);
}

void StepRunner::Tick() {
    if (m_TimedOut || Finished()) {
        return;
    }
    if (GetTickCount64() - m_StartMs > m_DeadlineMs) {
        m_TimedOut = true;
        m_Next = m_Steps.size();
        m_OnTimeout();
        return;
    }
    // The index moves on before the step runs: a step that opens a modal window leaves
    // the following steps to the ticks that window's loop dispatches.
    const std::size_t current = m_Next++;
    const bool done = m_Steps[current]();
    if (!done && m_Next == current + 1) {
        m_Next = current;  // not yet: again on the next tick
    }
}

Window FindDialog(const std::string& caption) {
    Search search{Wide(caption)};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<MenuEntry> WindowMenu(Window window) {
    std::vector<MenuEntry> entries;
    const HMENU menu = GetSystemMenu(H(window), FALSE);
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW info{};
        wchar_t text[256] = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 256;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        entries.push_back({(info.fType & MFT_SEPARATOR) != 0, info.wID, Utf8(text)});
    }
    return entries;
}

int DefaultButton(Window dialog) {
    const LRESULT r = SendMessageW(H(dialog), DM_GETDEFID, 0, 0);
    return HIWORD(r) == DC_HASDEFID ? LOWORD(r) : 0;
}

void Click(Window dialog, int id) {
    SendMessageW(H(dialog), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(H(dialog), id)));
}

void SendSysCommand(Window window, unsigned command) {
    SendMessageW(H(window), WM_SYSCOMMAND, command, 0);
}

void SetControlText(Window dialog, int id, const std::string& utf8) {
    SetDlgItemTextW(H(dialog), id, Wide(utf8).c_str());
}

bool Enabled(Window dialog, int id) {
    return IsWindowEnabled(GetDlgItem(H(dialog), id)) != FALSE;
}

void Focus(Window dialog, int id) {
    SetFocus(GetDlgItem(H(dialog), id));
}

int FocusedControl(Window dialog) {
    for (HWND w = GetFocus(); w != nullptr && w != H(dialog); w = GetParent(w)) {
        if (GetParent(w) == H(dialog)) {
            return GetDlgCtrlID(w);
        }
    }
    return 0;
}

int ComboSelection(Window dialog, int id) {
    return static_cast<int>(SendDlgItemMessageW(H(dialog), id, CB_GETCURSEL, 0, 0));
}

int ComboCount(Window dialog, int id) {
    return static_cast<int>(SendDlgItemMessageW(H(dialog), id, CB_GETCOUNT, 0, 0));
}

std::string BoxText(Window box) {
    std::string text;
    for (HWND child = GetWindow(H(box), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        wchar_t t[1024] = {};
        GetClassNameW(child, cls, 32);
        if (lstrcmpiW(cls, L"Static") == 0 && GetWindowTextW(child, t, 1024) > 0) {
            const std::string s = Utf8(t);
            if (s.size() > text.size()) {
                text = s;
            }
        }
    }
    return text;
}

bool HasIcon(Window box) {
    for (HWND child = GetWindow(H(box), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        GetClassNameW(child, cls, 32);
        // The box keeps its icon control also when it shows no icon: ask for the icon.
        if (lstrcmpiW(cls, L"Static") == 0 &&
            (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            return true;
        }
    }
    return false;
}

bool SameThread(Window a, Window b) {
    return GetWindowThreadProcessId(H(a), nullptr) == GetWindowThreadProcessId(H(b), nullptr);
}

std::string Title(Window window) {
    wchar_t t[256] = {};
    GetWindowTextW(H(window), t, 256);
    return Utf8(t);
}

bool IsMinimised(Window window) {
    return IsIconic(H(window)) != FALSE;
}

void Post(Window window, std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
    PostMessageW(H(window), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

void PressOk(Window window) {
    PostMessageW(H(window), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

}  // namespace vyx::test::win32
