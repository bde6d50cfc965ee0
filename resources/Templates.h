#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The program's windows as data: the main dialog (template 102) and the About box
// (template 100), string 101, the version record. A toolkit builds its windows from
// these tables; nothing here knows one.
namespace vyx::resources {

enum class ControlKind {
    PushButton,
    DefPushButton,  // the default push button (Enter)
    GroupBox,
    ComboBox,  // drop-down with an editable text field, unsorted, vertical scroll bar
    EditBox,   // bordered, scrolls horizontally, no length limit
    Label,     // left-aligned plain text
    Icon,      // the application icon
};

// Style bits of a control beyond its kind.
enum ControlStyle : std::uint32_t {
    kNoPrefix = 0x1,  // a label whose '&' is shown, not taken as an access key
};

struct ControlTemplate {
    int id;  // -1: the control has no id (nothing addresses it)
    ControlKind kind;
    std::string_view text;  // blanks kept as shown
    int x, y, w, h;         // dialog units; a combo box's height includes its dropped list
    bool tabStop;
    bool enabled;            // state in the template, before the dialog's own initialisation
    std::string_view group;  // text of the innermost group box that frames it; empty: none
    // A combo box's entries stored with the template, index 0 first, unsorted.
    std::span<const std::string_view> entries = {};
    std::uint32_t style = 0;
};

// Style bits of a dialog window.
enum DialogStyle : std::uint32_t {
    kTitleBar = 0x001,
    kWindowMenu = 0x002,
    kMinimizeBox = 0x004,
    kMaximizeBox = 0x008,
    kResizable = 0x010,
    kModalFrame = 0x020,
    kCentred = 0x040,
    kInTaskBar = 0x080,
};

struct DialogTemplate {
    int id;
    std::string_view title;
    int width, height;      // client area, dialog units
    std::string_view face;  // font face of the template; empty: the system's dialog face
    int pointSize;
    std::uint32_t style;                        // DialogStyle bits
    std::span<const ControlTemplate> controls;  // template order: tab and overlap order
};

// Main dialog, template 102: 351 x 338 units, title "VYX Utility Ver 2.05".
extern const DialogTemplate kMainDialogTemplate;
// About box, template 100.
extern const DialogTemplate kAboutDialogTemplate;

// The template control with `id`, or nullptr.
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id);

// The executable's version record.
struct VersionRecord {
    std::uint16_t fileVersion[4];
    std::uint16_t productVersion[4];
    std::string_view fileVersionText;
    std::string_view productVersionText;
    std::string_view fileDescription;
    std::string_view internalName;
    std::string_view originalFilename;
    std::string_view productName;
    std::string_view companyName;
    std::string_view legalCopyright;
    std::string_view comments;
    std::uint16_t language;  // 0x0412
    std::uint16_t codePage;  // 1200 (0x04B0)
};
extern const VersionRecord kVersionRecord;

}  // namespace vyx::resources
