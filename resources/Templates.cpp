#include "resources/Templates.h"

#include <array>

#include "resources/ControlIds.h"
#include "resources/Lists.h"
#include "resources/Version.h"

namespace vyx::resources {
namespace {

// The program name and version: the main dialog's title and the About box's first line.
constexpr const char* kProgramTitle = "VYX Utility Ver " VYX_VERSION_TEXT;

using K = ControlKind;

constexpr std::string_view kSerial = " Serial Configuration ";
constexpr std::string_view kCommPort = " CommPort Set ";
constexpr std::string_view kCurrentBaud = " Current Baudrate ";
constexpr std::string_view kInput = " Input String   [ MAX : 20 Chracters per Line ] ";
constexpr std::string_view kChangeBaud = " Changing Baudrate ";
constexpr std::string_view kLanguage = " Language ";
constexpr std::string_view kSetup = "Setup";
constexpr std::string_view kCommandSet = " Change Command Set ";
constexpr std::string_view kDefaultFont = " Default Font Set (Flash) ";

// Template order is tab order and overlap order: a group box comes after some of the
// controls it frames, so those are created (and stacked) first.
constexpr std::array<ControlTemplate, 30> kMainControls{{
    {IDC_EXIT, K::PushButton, "EXIT", 287, 23, 52, 36, false, true, ""},
    {IDC_PORT_OPEN, K::PushButton, "Port Open", 216, 22, 52, 17, false, true, kSerial},
    {-1, K::GroupBox, kCommPort, 16, 21, 90, 38, false, true, kSerial},
    {IDC_CURRENT_BAUD, K::ComboBox, "", 126, 38, 72, 76, false, true, kCurrentBaud,
     kBaudRateEntries},
    {-1, K::GroupBox, kCurrentBaud, 117, 21, 90, 38, false, true, kSerial},
    {-1, K::GroupBox, kInput, 117, 88, 213, 83, false, true, kSetup},
    {IDC_CLOSE, K::PushButton, "Close", 216, 41, 52, 17, false, true, kSerial},
    {IDC_CHANGE_BAUD, K::PushButton, "Change", 61, 143, 36, 18, true, true, kChangeBaud},
    {IDC_INPUT_STRING, K::PushButton, "Input String", 265, 143, 52, 18, true, true, kInput},
    {IDC_PROGRAM_DOWNLOAD, K::PushButton, "Program Down Load", 186, 239, 135, 23, true, false,
     kSetup},
    {IDC_LINE1, K::EditBox, "", 166, 104, 150, 13, false, true, kInput},
    {-1, K::GroupBox, kChangeBaud, 16, 87, 90, 83, false, true, kSetup},
    {IDC_NEW_BAUD, K::ComboBox, "", 25, 105, 72, 79, false, true, kChangeBaud, kBaudRateEntries},
    {IDC_COM_PORT, K::ComboBox, "", 25, 38, 72, 60, false, true, kCommPort},
    {IDC_LANGUAGE_GROUP, K::GroupBox, kLanguage, 179, 177, 153, 43, false, true, kSetup},
    {IDC_LANGUAGE, K::ComboBox, "", 188, 195, 88, 69, false, true, kLanguage, kLanguageEntries},
    {IDC_FONT_SET, K::PushButton, "Font Set", 286, 192, 35, 18, true, true, kLanguage},
    {-1, K::GroupBox, kSerial, 7, 7, 269, 61, false, true, ""},
    {-1, K::GroupBox, kSetup, 8, 73, 336, 258, false, true, ""},
    {IDC_SET_COMMAND_SET, K::PushButton, "Set", 124, 192, 35, 18, true, true, kCommandSet},
    {-1, K::GroupBox, kCommandSet, 16, 177, 152, 43, false, true, kSetup},
    {IDC_COMMAND_SET, K::ComboBox, "", 25, 195, 90, 79, false, true, kCommandSet,
     kCommandSetEntries},
    {IDC_SET_DEFAULT_FONT, K::PushButton, "Set", 124, 243, 35, 18, true, true, kDefaultFont},
    {-1, K::GroupBox, kDefaultFont, 16, 227, 152, 43, false, true, kSetup},
    {IDC_DEFAULT_FONT, K::ComboBox, "", 24, 245, 90, 79, false, true, kDefaultFont,
     kDefaultFontEntries},
    {IDC_LINE2, K::EditBox, "", 166, 123, 150, 13, false, true, kInput},
    {-1, K::Label, "Line#1", 134, 106, 28, 11, false, true, kInput},
    {-1, K::Label, "Line#2", 134, 124, 28, 11, false, true, kInput},
    {IDC_INFORMATION, K::PushButton, "VYX Information", 186, 269, 134, 22, true, false, kSetup},
    {IDC_CELL_TEST, K::PushButton, "VYX Cell Test", 187, 298, 134, 22, true, false, kSetup},
}};

constexpr std::array<ControlTemplate, 4> kAboutControls{{
    {-1, K::Icon, "", 11, 17, 20, 21, false, true, ""},
    {-1, K::Label, kProgramTitle, 40, 10, 119, 8, false, true, "", {}, kNoPrefix},
    {-1, K::Label, "Copyright (C) 2026 VYX Project", 40, 25, 119, 8, false, true, ""},
    {IDOK, K::DefPushButton, "OK", 178, 7, 50, 14, true, true, ""},
}};

}  // namespace

const DialogTemplate kMainDialogTemplate{
    IDD_VYX_UTILITY_DIALOG,
    kProgramTitle,
    351,
    338,
    "MS Shell Dlg",
    9,
    kTitleBar | kWindowMenu | kMinimizeBox | kModalFrame | kCentred | kInTaskBar,
    kMainControls};

const DialogTemplate kAboutDialogTemplate{IDD_ABOUTBOX,
                                          "About VYX Utility",
                                          235,
                                          55,
                                          "\xea\xb5\xb4\xeb\xa6\xbc",  // Gulim
                                          9,
                                          kTitleBar | kWindowMenu | kModalFrame,
                                          kAboutControls};

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
    if (id < 0) {
        return nullptr;
    }
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id == id) {
            return &control;
        }
    }
    return nullptr;
}

const VersionRecord kVersionRecord{
    {VYX_RECORD_VERSION_WORDS},   {VYX_RECORD_VERSION_WORDS}, VYX_RECORD_VERSION_TEXT,
    VYX_RECORD_VERSION_TEXT,      VYX_RECORD_DESCRIPTION,     VYX_RECORD_INTERNAL_NAME,
    VYX_RECORD_ORIGINAL_FILENAME, VYX_RECORD_PRODUCT_NAME,    VYX_RECORD_COMPANY,
    VYX_RECORD_COPYRIGHT,         VYX_RECORD_COMMENTS,        VYX_RECORD_LANGUAGE,
    VYX_RECORD_CODE_PAGE,
};

}  // namespace vyx::resources
