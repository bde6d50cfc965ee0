#include "app/win32/DialogTemplate.h"

#include <windows.h>

#include <cstring>

#include "app/win32/Win32Api.h"

namespace vyx::app::win32 {

namespace {

using resources::ControlKind;

// Predefined window classes, as a template names them by ordinal.
constexpr std::uint16_t kButtonClass = 0x0080;
constexpr std::uint16_t kEditClass = 0x0081;
constexpr std::uint16_t kStaticClass = 0x0082;
constexpr std::uint16_t kComboBoxClass = 0x0085;

class TemplateWriter {
  public:
    void Word(std::uint16_t value) { Raw(&value, sizeof value); }
    void Dword(std::uint32_t value) { Raw(&value, sizeof value); }
    void Short(std::int16_t value) { Raw(&value, sizeof value); }
    void Byte(std::uint8_t value) { m_Bytes.push_back(value); }
    // A zero-terminated UTF-16 string.
    void Text(std::string_view utf8) {
        for (const char16_t unit : Utf8ToUtf16(utf8)) {
            Word(static_cast<std::uint16_t>(unit));
        }
        Word(0);
    }
    // A resource or class named by number instead of a string.
    void Ordinal(std::uint16_t value) {
        Word(0xFFFF);
        Word(value);
    }
    void AlignToDword() {
        while (m_Bytes.size() % 4 != 0) {
            m_Bytes.push_back(0);
        }
    }
    std::vector<std::uint8_t> Take() { return std::move(m_Bytes); }

  private:
    void Raw(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        m_Bytes.insert(m_Bytes.end(), bytes, bytes + size);
    }
    std::vector<std::uint8_t> m_Bytes;
};

std::int16_t Units(int value) {
    return static_cast<std::int16_t>(value);
}

std::uint32_t DialogStyle(std::uint32_t bits) {
    std::uint32_t style = WS_POPUP | DS_SETFONT;
    const std::pair<std::uint32_t, std::uint32_t> map[] = {
        {resources::kTitleBar, WS_CAPTION},        {resources::kWindowMenu, WS_SYSMENU},
        {resources::kMinimizeBox, WS_MINIMIZEBOX}, {resources::kMaximizeBox, WS_MAXIMIZEBOX},
        {resources::kResizable, WS_THICKFRAME},    {resources::kModalFrame, DS_MODALFRAME},
        {resources::kCentred, DS_CENTER},
    };
    for (const auto& [ours, windows] : map) {
        if ((bits & ours) != 0) {
            style |= windows;
        }
    }
    return style;
}

struct ControlClass {
    std::uint16_t windowClass;
    std::uint32_t style;
};

ControlClass ClassOf(const resources::ControlTemplate& control) {
    switch (control.kind) {
        case ControlKind::PushButton:
            return {kButtonClass, BS_PUSHBUTTON};
        case ControlKind::DefPushButton:
            return {kButtonClass, BS_DEFPUSHBUTTON};
        case ControlKind::GroupBox:
            return {kButtonClass, BS_GROUPBOX};
        case ControlKind::ComboBox:
            // Editable text field over the list, unsorted (no CBS_SORT).
            return {kComboBoxClass, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL};
        case ControlKind::EditBox:
            // No ES_ limit: the text is cut where it is read.
            return {kEditClass, ES_LEFT | ES_AUTOHSCROLL | WS_BORDER};
        case ControlKind::Label:
            return {kStaticClass,
                    SS_LEFT | ((control.style & resources::kNoPrefix) != 0 ? SS_NOPREFIX : 0u)};
        case ControlKind::Icon:
            return {kStaticClass, SS_ICON};
    }
    return {kStaticClass, SS_LEFT};
}

void WriteControl(TemplateWriter& out, const resources::ControlTemplate& control, int iconId) {
    out.AlignToDword();
    const ControlClass cls = ClassOf(control);
    std::uint32_t style = WS_CHILD | WS_VISIBLE | cls.style;
    if (control.tabStop) {
        style |= WS_TABSTOP;
    }
    if (!control.enabled) {
        style |= WS_DISABLED;
    }
    out.Dword(0);  // help id
    out.Dword(0);  // extended style
    out.Dword(style);
    out.Short(Units(control.x));
    out.Short(Units(control.y));
    out.Short(Units(control.w));
    out.Short(Units(control.h));
    // A control without an id gets -1, as resource compilers give IDC_STATIC.
    out.Dword(static_cast<std::uint32_t>(control.id));
    out.Ordinal(cls.windowClass);
    if (control.kind == ControlKind::Icon) {
        out.Ordinal(static_cast<std::uint16_t>(iconId));
    } else {
        out.Text(control.text);
    }
    out.Word(0);  // no creation data
}

}  // namespace

std::vector<std::uint8_t> BuildDialogTemplate(const resources::DialogTemplate& dialog, int iconId) {
    TemplateWriter out;
    out.Word(1);       // dlgVer
    out.Word(0xFFFF);  // signature: the extended template
    out.Dword(0);      // help id
    out.Dword((dialog.style & resources::kInTaskBar) != 0 ? WS_EX_APPWINDOW : 0u);
    out.Dword(DialogStyle(dialog.style));
    out.Word(static_cast<std::uint16_t>(dialog.controls.size()));
    out.Short(0);  // x, y: DS_CENTER places the dialog
    out.Short(0);
    out.Short(Units(dialog.width));
    out.Short(Units(dialog.height));
    out.Word(0);  // no menu
    out.Word(0);  // the dialog manager's own window class
    out.Text(dialog.title);
    out.Word(static_cast<std::uint16_t>(dialog.pointSize));
    out.Word(FW_NORMAL);
    out.Byte(0);  // not italic
    out.Byte(DEFAULT_CHARSET);
    // An empty face in the table stands for the system's dialog face.
    out.Text(dialog.face.empty() ? std::string_view("MS Shell Dlg") : dialog.face);
    for (const resources::ControlTemplate& control : dialog.controls) {
        WriteControl(out, control, iconId);
    }
    return out.Take();
}

}  // namespace vyx::app::win32
