#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "app/DialogWindow.h"
#include "serial/SerialPort.h"

namespace vyx::app {

// Caption of every message box the dialog raises itself (one leading, two trailing blanks).
extern const std::string MessageCaption;
// Caption of the information report.
extern const std::string InformationCaption;

// Window messages the dialog's message table knows besides WM_COMM_READ (serial/Notify.h).
constexpr std::uint32_t WM_SYSCOMMAND = 0x0112;

// Whether a reply of the display is awaited. One value for the whole program; Idle when
// the dialog is constructed.
enum class ResponseState { Idle, InformationAwaited };

class CVYX_UtilityDlg;

// One row of the dialog's static message table. A Command row binds the click of the
// control `id` to `onCommand`; a Message row binds the posted or sent message `id` to
// `onMessage`, which gets the message's two parameters and returns its result.
struct MessageMapEntry {
    enum class Kind { Command, Message };
    Kind kind;
    std::uint32_t id;
    void (CVYX_UtilityDlg::*onCommand)();
    std::int64_t (CVYX_UtilityDlg::*onMessage)(std::uint64_t wParam, std::int64_t lParam);
};

// The main dialog's state and behaviour, free of any toolkit. It reaches the screen only
// through `DialogWindow`; every member function runs on the window thread. The window
// routes clicks to OnCommand and posted messages to OnMessage, both through the static
// message table; painting the minimised window uses MinimisedIconPosition.
class CVYX_UtilityDlg {
  public:
    // No parent window. The port is constructed not connected; ResponseState becomes Idle.
    explicit CVYX_UtilityDlg(DialogWindow& window);
    // A port still connected (the dialog ended by Escape, Enter or the close button) is
    // closed and its watcher joined here, before m_Comm goes.
    ~CVYX_UtilityDlg();
    CVYX_UtilityDlg(const CVYX_UtilityDlg&) = delete;
    CVYX_UtilityDlg& operator=(const CVYX_UtilityDlg&) = delete;

    // Fills the COM list, sets the default selections, the closed state, the About item
    // of the window menu and the icons. Returns 1 (the window focuses the first control).
    int OnInitDialog();

    // Entry points of the window, dispatched through the message table. OnCommand is
    // called for clicks of enabled controls only; ids not in the table are ignored.
    void OnCommand(int controlId);
    // Returns the handler's result, 0 for a message not in the table.
    std::int64_t OnMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam);
    // Window-menu command: the four low bits are masked off; the About item runs the
    // About box. Every other command is left to the window's default handling.
    void OnSysCommand(unsigned nID, std::int64_t lParam);

    // Top-left corner of the icon drawn centred in a minimised window's client area:
    // ((w - cx + 1) / 2, (h - cy + 1) / 2), the division truncating toward zero.
    static std::pair<int, int> MinimisedIconPosition(int clientW, int clientH, int iconCx,
                                                     int iconCy);

    // The static message table.
    static std::span<const MessageMapEntry> MessageMap();

    // Button handlers: the port's in VYX_UtilityDlg.cpp, the display commands (from
    // OnChangeBaud on) in VYX_UtilityDlgCommands.cpp.
    void OnPortOpen();
    void OnPortClose();
    void OnExit();
    void OnChangeBaud();
    void OnInputString();
    void OnSetCommandSet();
    void OnSetDefaultFont();
    void OnFontSet();
    void OnCellTest();
    void OnInformation();
    void OnProgramDownLoad();
    // WM_COMM_READ: takes the information reply once it is complete. Returns 0.
    std::int64_t OnCommRead(std::uint64_t wParam, std::int64_t lParam);

    // 1: port open (command buttons and "Close" enabled, "Port Open" disabled); 0: the
    // reverse; any other value changes nothing.
    void EnablePortControls(int state);
    // The one path to the line: hands the block to WriteComm, ignoring the count written.
    void SendToDisplay(const std::uint8_t* bytes, std::uint32_t count);

    // Program-wide state, readable for tests and the window.
    static ResponseState GetResponseState();
    static bool CellTestToggle();            // true: the next cell test sends full blocks
    static const std::string& ReportText();  // empty except while a report box is up

    // Members.
    std::int32_t m_nComPort = 0;   // COM list index + 1 at the last "Port Open"
    std::int32_t m_nBaudRate = 0;  // rate of the last "Port Open"; 0 before the first
    SerialPort m_Comm;             // m_pAppMessageBox may be set by the application
    int m_hIcon;                   // the application icon (resource id 128)

  private:
    static void SetResponseState(ResponseState state);
    std::int64_t OnSysCommandMessage(std::uint64_t wParam, std::int64_t lParam);
    // Text of the About item of the window menu (string 101).
    static std::string AboutItemText();
    using ListFrameBuilder = std::size_t (*)(std::span<std::uint8_t>, int);
    // Builds the frame for the index selected in `listId` in `buffer` and sends it; with
    // no entry selected it sends nothing and gives the window's cue instead.
    void SendListFrame(int listId, ListFrameBuilder build, std::span<std::uint8_t> buffer);

    DialogWindow& m_Window;
};

}  // namespace vyx::app
