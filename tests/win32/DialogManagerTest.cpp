// The dialog manager builds the Windows dialog's templates: every control of the table
// becomes a window of its class where its dialog units put it. Needs a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/win32/DialogTemplate.h"
#include "app/win32/Win32Api.h"
#include "resources/Templates.h"

namespace vyx::test {
namespace {

namespace res = vyx::resources;
using app::win32::BuildDialogTemplate;

constexpr int kIconId = 128;

// The dialog manager itself builds the windows: every control of the table exists with
// its class, and sits where its dialog units put it in the dialog's own font.
TEST(DialogManagerTest, CreatesEveryControlWhereTheTableSaysItIs) {
    const auto bytes = BuildDialogTemplate(res::kMainDialogTemplate, kIconId);
    const HWND dialog = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_NE(dialog, nullptr) << "CreateDialogIndirectParam error " << GetLastError();
    wchar_t title[64] = {};
    GetWindowTextW(dialog, title, 64);
    EXPECT_EQ(app::win32::Utf16ToUtf8(reinterpret_cast<const char16_t*>(title)),
              res::kMainDialogTemplate.title);
    int children = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        ++children;
    }
    EXPECT_EQ(children, static_cast<int>(res::kMainDialogTemplate.controls.size()));
    for (const res::ControlTemplate& control : res::kMainDialogTemplate.controls) {
        if (control.id < 0) {
            continue;
        }
        SCOPED_TRACE("id " + std::to_string(control.id));
        const HWND item = GetDlgItem(dialog, control.id);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(IsWindowEnabled(item) != FALSE, control.enabled);
        // Position and size are converted apart, as the dialog manager does.
        RECT want{control.x, control.y, control.w, control.h};
        MapDialogRect(dialog, &want);
        want.right += want.left;
        want.bottom += want.top;
        RECT got;
        GetWindowRect(item, &got);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        EXPECT_EQ(got.right, want.right);
        if (control.kind != res::ControlKind::ComboBox) {
            // A drop-down combo box is as high as its field; the template's height
            // includes the dropped list.
            EXPECT_EQ(got.bottom, want.bottom);
        }
    }
    DestroyWindow(dialog);
}

}  // namespace
}  // namespace vyx::test
