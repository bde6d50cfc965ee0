#pragma once

// Numeric ids of the main dialog's controls (template 102) and the other resources.
namespace vyx::resources {

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_VYX_UTILITY_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;  // the application icon

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr int IDC_PORT_OPEN = 1005;         // "Port Open"
constexpr int IDC_CHANGE_BAUD = 1006;       // "Change"
constexpr int IDC_INPUT_STRING = 1007;      // "Input String"
constexpr int IDC_SET_COMMAND_SET = 1010;   // "Set" in " Change Command Set "
constexpr int IDC_SET_DEFAULT_FONT = 1011;  // "Set" in " Default Font Set (Flash) "
constexpr int IDC_INFORMATION = 1013;       // "VYX Information"
constexpr int IDC_PROGRAM_DOWNLOAD = 1014;  // "Program Down Load"
constexpr int IDC_EXIT = 1015;              // "EXIT"
constexpr int IDC_CLOSE = 1016;             // "Close"
constexpr int IDC_CURRENT_BAUD = 1020;      // " Current Baudrate " list
constexpr int IDC_NEW_BAUD = 1022;          // baud rate to set on the display
constexpr int IDC_COM_PORT = 1023;          // COM list
constexpr int IDC_COMMAND_SET = 1024;       // command set list
constexpr int IDC_DEFAULT_FONT = 1025;      // default font set list
constexpr int IDC_LINE1 = 1050;             // edit box "Line#1"
constexpr int IDC_LANGUAGE_GROUP = 1051;    // group box " Language "
constexpr int IDC_LINE2 = 1052;             // edit box "Line#2"
constexpr int IDC_LANGUAGE = 1053;          // language list
constexpr int IDC_FONT_SET = 1054;          // "Font Set"
constexpr int IDC_CELL_TEST = 1056;         // "VYX Cell Test"

// Window-menu command of the About item; its four low bits stay clear because the
// system uses them.
constexpr unsigned IDM_ABOUTBOX = 0x0010;

}  // namespace vyx::resources
