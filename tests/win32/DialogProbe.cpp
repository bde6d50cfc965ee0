// Reads the state of a running program's windows for the Windows dialog's end-to-end
// test (scripts/test-windows-dialog), which clicks and types with xdotool: where a
// control is, whether it is enabled, which list entry is selected, the text and icon of
// a message box. Every wait polls with a bounded timeout. A test tool, never shipped.
//
//   dialog_probe ready TITLE MS          wait until the dialog TITLE is up and
//                                        initialised (its COM list has a selection)
//   dialog_probe centre TITLE ID         screen position of control ID: "x y"
//   dialog_probe caption TITLE           screen position of a point in the title bar
//   dialog_probe geometry TITLE          the window on the screen: "WxH+X+Y"
//   dialog_probe enabled TITLE ID...     "1" or "0" per control
//   dialog_probe cursel TITLE ID         the selected index of a combo box
//   dialog_probe expect TITLE MS ID:E... wait until each control ID is enabled (E 1)
//                                        or disabled (E 0); print the states last seen
//   dialog_probe box CAPTION MS          wait for a message box CAPTION; print
//                                        "icon=stop|information|none|other", then its text
//   dialog_probe gone CAPTION MS         wait until no window has the caption CAPTION
//   dialog_probe syscommand TITLE CMD    post WM_SYSCOMMAND CMD to the dialog TITLE
//   dialog_probe title MS TITLE...       wait for a window with one of the captions
//
// Exit status: 0 done, 1 timed out or not found, 2 usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
    return out;
}

std::string Utf8(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
    return out;
}

std::wstring TextOf(HWND window) {
    wchar_t buffer[2048] = {};
    // WM_GETTEXT, which the system carries across processes.
    SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

// A visible dialog window (class #32770) with the caption.
HWND FindDialog(const std::wstring& caption) {
    HWND window = FindWindowW(L"#32770", caption.c_str());
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

template <typename Condition>
bool WaitFor(DWORD timeoutMs, Condition ready) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (ready()) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        // Polling interval of the probe's own wait; the condition decides, not the time.
        Sleep(20);
    }
}

LRESULT ComboSelection(HWND dialog, int id) {
    DWORD_PTR result = static_cast<DWORD_PTR>(-2);
    SendMessageTimeoutW(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000,
                        &result);
    return static_cast<LRESULT>(result);
}

// Which of the two icons a box shows, told by colour: the stop icon is mostly red, the
// information icon mostly blue. Icons are per process, so their pixels are read from
// the screen.
const char* IconKind(HWND box) {
    HWND icon = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        GetClassNameW(child, cls, 32);
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (lstrcmpiW(cls, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(child)) {
            icon = child;
        }
    }
    if (icon == nullptr) {
        return "none";
    }
    RECT rect;
    GetWindowRect(icon, &rect);
    const HDC screen = GetDC(nullptr);
    long red = 0;
    long blue = 0;
    for (int y = rect.top; y < rect.bottom; y += 2) {
        for (int x = rect.left; x < rect.right; x += 2) {
            const COLORREF c = GetPixel(screen, x, y);
            const int r = GetRValue(c);
            const int g = GetGValue(c);
            const int b = GetBValue(c);
            red += r > 150 && g < 100 && b < 100 ? 1 : 0;
            blue += b > 150 && r < 120 ? 1 : 0;
        }
    }
    ReleaseDC(nullptr, screen);
    if (red > 4 * blue && red > 10) {
        return "stop";
    }
    if (blue > 4 * red && blue > 10) {
        return "information";
    }
    return "other";
}

// The text of a message box: its static control that is not the icon.
std::wstring BoxText(HWND box) {
    std::wstring text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        GetClassNameW(child, cls, 32);
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (lstrcmpiW(cls, L"Static") == 0 && (style & SS_TYPEMASK) != SS_ICON) {
            const std::wstring t = TextOf(child);
            if (t.size() > text.size()) {
                text = t;
            }
        }
    }
    return text;
}

int Usage() {
    std::fputs("usage: dialog_probe ready|centre|enabled|cursel|box|gone|syscommand|title ...\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string command = argv[1];
    auto ms = [](const char* text) { return static_cast<DWORD>(std::strtoul(text, nullptr, 10)); };
    if (command == "title") {
        std::vector<std::wstring> titles;
        for (int i = 3; i < argc; ++i) {
            titles.push_back(Wide(argv[i]));
        }
        std::wstring found;
        const bool ok = WaitFor(ms(argv[2]), [&] {
            for (const std::wstring& t : titles) {
                if (FindDialog(t) != nullptr) {
                    found = t;
                    return true;
                }
            }
            return false;
        });
        if (ok) {
            std::printf("%s\n", Utf8(found).c_str());
        }
        return ok ? 0 : 1;
    }
    const std::wstring caption = Wide(argv[2]);
    if (command == "ready" && argc == 4) {
        // The COM list's selection is made by the dialog's own initialisation, the last
        // thing before the dialog is shown.
        return WaitFor(ms(argv[3]),
                       [&] {
                           const HWND d = FindDialog(caption);
                           return d != nullptr && ComboSelection(d, 1023) >= 0;
                       })
                   ? 0
                   : 1;
    }
    if (command == "box" && argc == 4) {
        HWND box = nullptr;
        if (!WaitFor(ms(argv[3]), [&] { return (box = FindDialog(caption)) != nullptr; })) {
            return 1;
        }
        // The text is set before the box is shown; the icon is read once it is drawn.
        RedrawWindow(box, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        std::printf("icon=%s\n%s\n", IconKind(box), Utf8(BoxText(box)).c_str());
        return 0;
    }
    if (command == "gone" && argc == 4) {
        return WaitFor(ms(argv[3]),
                       [&] { return FindWindowW(nullptr, caption.c_str()) == nullptr; })
                   ? 0
                   : 1;
    }
    if (command == "expect" && argc >= 5) {
        std::string seen;
        const bool ok = WaitFor(ms(argv[3]), [&] {
            const HWND d = FindDialog(caption);
            seen.clear();
            bool all = d != nullptr;
            for (int i = 4; i < argc && d != nullptr; ++i) {
                const int id = std::atoi(argv[i]);
                const char* colon = std::strchr(argv[i], ':');
                const bool want = colon != nullptr && colon[1] == '1';
                const HWND item = GetDlgItem(d, id);
                const bool enabled = item != nullptr && IsWindowEnabled(item);
                seen += std::to_string(id) + (enabled ? ":1 " : ":0 ");
                all = all && enabled == want;
            }
            return all;
        });
        std::printf("%s\n", seen.c_str());
        return ok ? 0 : 1;
    }
    const HWND dialog = FindDialog(caption);
    if (dialog == nullptr) {
        std::fprintf(stderr, "dialog_probe: no window \"%s\"\n", argv[2]);
        return 1;
    }
    if (command == "centre" && argc == 4) {
        RECT rect;
        if (!GetWindowRect(GetDlgItem(dialog, std::atoi(argv[3])), &rect)) {
            return 1;
        }
        std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        return 0;
    }
    if (command == "geometry" && argc == 3) {
        RECT r;
        GetWindowRect(dialog, &r);
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
        return 0;
    }
    if (command == "caption" && argc == 3) {
        RECT rect;
        GetWindowRect(dialog, &rect);
        const int y =
            rect.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
        std::printf("%ld %d\n", (rect.left + rect.right) / 2, y);
        return 0;
    }
    if (command == "enabled" && argc >= 4) {
        for (int i = 3; i < argc; ++i) {
            const HWND item = GetDlgItem(dialog, std::atoi(argv[i]));
            std::printf("%s%d", i > 3 ? " " : "", item != nullptr && IsWindowEnabled(item) ? 1 : 0);
        }
        std::printf("\n");
        return 0;
    }
    if (command == "cursel" && argc == 4) {
        std::printf("%ld\n", static_cast<long>(ComboSelection(dialog, std::atoi(argv[3]))));
        return 0;
    }
    if (command == "syscommand" && argc == 4) {
        return PostMessageW(dialog, WM_SYSCOMMAND, std::strtoul(argv[3], nullptr, 0), 0) ? 0 : 1;
    }
    return Usage();
}
