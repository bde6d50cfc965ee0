// CVYX_UtilityDlg, part 1: construction, OnInitDialog, EnablePortControls, the port
// handlers (OnPortOpen, OnPortClose, OnExit), OnSysCommand, SendToDisplay and the
// message table. The display commands and their handlers are in VYX_UtilityDlgCommands.cpp.

#include "app/VYX_UtilityDlg.h"

#include <array>
#include <string>

#include "resources/ControlIds.h"
#include "resources/Lists.h"
#include "resources/StringTable.h"
#include "resources/Version.h"

namespace vyx::app {

const std::string MessageCaption = " VYX Utility Ver " VYX_VERSION_TEXT "  ";
const std::string InformationCaption = "VYX Information";

namespace {

namespace res = vyx::resources;

constexpr int kClosed = 0;
constexpr int kOpen = 1;
constexpr unsigned kSysCommandMask = 0xFFF0;  // the system keeps the four low bits

// The eight command buttons that need an open port, in the order they are switched.
constexpr std::array<int, 8> kPortCommandButtons{
    res::IDC_CHANGE_BAUD, res::IDC_INPUT_STRING,    res::IDC_PROGRAM_DOWNLOAD,
    res::IDC_FONT_SET,    res::IDC_SET_COMMAND_SET, res::IDC_SET_DEFAULT_FONT,
    res::IDC_INFORMATION, res::IDC_CELL_TEST};

}  // namespace

CVYX_UtilityDlg::CVYX_UtilityDlg(DialogWindow& window)
    : m_hIcon(res::IDR_MAINFRAME), m_Window(window) {
    SetResponseState(ResponseState::Idle);
}

CVYX_UtilityDlg::~CVYX_UtilityDlg() {
    // Called even when not connected: the watcher may be between its own close and
    // reopen after an overflow, and ClosePort waits for it either way.
    m_Comm.ClosePort();
    m_Comm.m_hNotifyWnd = nullptr;
}

int CVYX_UtilityDlg::OnInitDialog() {
    for (int n = 1; n <= res::kComPortCount; ++n) {
        m_Window.AddString(res::IDC_COM_PORT, " COM " + std::to_string(n) + " ");
    }
    m_Window.SetCurSel(res::IDC_COM_PORT, res::kDefaultComIndex);
    for (const int list : {res::IDC_CURRENT_BAUD, res::IDC_NEW_BAUD, res::IDC_COMMAND_SET,
                           res::IDC_DEFAULT_FONT, res::IDC_LANGUAGE}) {
        m_Window.SetCurSel(list, 0);
    }
    EnablePortControls(kClosed);
    if (m_Window.HasSystemMenu()) {
        const std::string about = AboutItemText();
        if (!about.empty()) {
            m_Window.AppendSystemMenuSeparator();
            m_Window.AppendSystemMenuItem(res::IDM_ABOUTBOX, about);
        }
    }
    m_Window.SetIcons();
    return 1;
}

void CVYX_UtilityDlg::EnablePortControls(int state) {
    if (state != kClosed && state != kOpen) {
        return;
    }
    const bool open = state == kOpen;
    for (const int id : kPortCommandButtons) {
        m_Window.EnableWindow(id, open);
    }
    m_Window.EnableWindow(res::IDC_PORT_OPEN, !open);
    m_Window.EnableWindow(res::IDC_CLOSE, open);
}

void CVYX_UtilityDlg::OnPortOpen() {
    m_nComPort = m_Window.GetCurSel(res::IDC_COM_PORT) + 1;
    const int rateIndex = m_Window.GetCurSel(res::IDC_CURRENT_BAUD);
    if (rateIndex >= 0 && static_cast<std::size_t>(rateIndex) < res::kBaudRates.size()) {
        m_nBaudRate =
            static_cast<std::int32_t>(res::kBaudRates[static_cast<std::size_t>(rateIndex)]);
    }
    const std::string portName = "COM" + std::to_string(m_nComPort);
    // The watcher may post its first WM_COMM_READ as soon as OpenPort starts it.
    m_Comm.m_hNotifyWnd = &m_Window.Notifier();
    // No rate chosen yet (the rate field was edited before the first opening): refuse
    // rather than guess, so the operator never talks to the display at a rate that was
    // not picked; the box says so the same way a refused device does.
    const bool opened =
        m_nBaudRate > 0 && m_Comm.OpenPort(portName, static_cast<std::uint32_t>(m_nBaudRate),
                                           static_cast<std::uint16_t>(m_nComPort)) != 0;
    if (opened) {
        EnablePortControls(kOpen);
    } else {
        m_Window.MessageBox("Com port open failed !", MessageCaption, MB_OK | MB_ICONHAND);
    }
}

void CVYX_UtilityDlg::OnPortClose() {
    if (m_Comm.m_bConnected != 0) {
        m_Comm.ClosePort();
    }
    m_Window.MessageBox("Com port closed !", MessageCaption, MB_OK | MB_ICONINFORMATION);
    EnablePortControls(kClosed);
    // The watcher may have reopened the port after an overflow while the box was up.
    if (m_Comm.m_bConnected != 0) {
        m_Comm.ClosePort();
    }
}

void CVYX_UtilityDlg::OnExit() {
    if (m_Comm.m_bConnected != 0) {
        m_Comm.ClosePort();
    }
    m_Window.EndDialog(res::IDCANCEL);
}

void CVYX_UtilityDlg::OnSysCommand(unsigned nID, std::int64_t /*lParam*/) {
    if ((nID & kSysCommandMask) == res::IDM_ABOUTBOX) {
        m_Window.ShowAboutBox();
    }
}

std::int64_t CVYX_UtilityDlg::OnSysCommandMessage(std::uint64_t wParam, std::int64_t lParam) {
    OnSysCommand(static_cast<unsigned>(wParam), lParam);
    return 0;
}

std::string CVYX_UtilityDlg::AboutItemText() {
    return std::string(res::LoadString(res::IDS_ABOUTBOX));
}

std::pair<int, int> CVYX_UtilityDlg::MinimisedIconPosition(int clientW, int clientH, int iconCx,
                                                           int iconCy) {
    // Integer division in C++ truncates toward zero, as the placement requires.
    return {(clientW - iconCx + 1) / 2, (clientH - iconCy + 1) / 2};
}

void CVYX_UtilityDlg::SendToDisplay(const std::uint8_t* bytes, std::uint32_t count) {
    // A short or failed write is not reported: the count written is not looked at.
    static_cast<void>(m_Comm.WriteComm(bytes, count));
}

// ---------------------------------------------------------------------------------------
// Message table

std::span<const MessageMapEntry> CVYX_UtilityDlg::MessageMap() {
    using D = CVYX_UtilityDlg;
    using K = MessageMapEntry::Kind;
    auto cmd = [](int id, void (D::*handler)()) {
        return MessageMapEntry{K::Command, static_cast<std::uint32_t>(id), handler, nullptr};
    };
    auto msg = [](std::uint32_t id, std::int64_t (D::*handler)(std::uint64_t, std::int64_t)) {
        return MessageMapEntry{K::Message, id, nullptr, handler};
    };
    static const std::array<MessageMapEntry, 13> kMessageMap{
        msg(WM_SYSCOMMAND, &D::OnSysCommandMessage),
        cmd(res::IDC_PORT_OPEN, &D::OnPortOpen),
        cmd(res::IDC_EXIT, &D::OnExit),
        cmd(res::IDC_CLOSE, &D::OnPortClose),
        cmd(res::IDC_CHANGE_BAUD, &D::OnChangeBaud),
        cmd(res::IDC_INPUT_STRING, &D::OnInputString),
        cmd(res::IDC_SET_COMMAND_SET, &D::OnSetCommandSet),
        cmd(res::IDC_SET_DEFAULT_FONT, &D::OnSetDefaultFont),
        cmd(res::IDC_FONT_SET, &D::OnFontSet),
        cmd(res::IDC_CELL_TEST, &D::OnCellTest),
        cmd(res::IDC_INFORMATION, &D::OnInformation),
        msg(WM_COMM_READ, &D::OnCommRead),
        cmd(res::IDC_PROGRAM_DOWNLOAD, &D::OnProgramDownLoad),
    };
    return kMessageMap;
}

void CVYX_UtilityDlg::OnCommand(int controlId) {
    for (const MessageMapEntry& entry : MessageMap()) {
        if (entry.kind == MessageMapEntry::Kind::Command &&
            entry.id == static_cast<std::uint32_t>(controlId)) {
            (this->*entry.onCommand)();
            return;
        }
    }
}

std::int64_t CVYX_UtilityDlg::OnMessage(std::uint32_t message, std::uint64_t wParam,
                                        std::int64_t lParam) {
    for (const MessageMapEntry& entry : MessageMap()) {
        if (entry.kind == MessageMapEntry::Kind::Message && entry.id == message) {
            return (this->*entry.onMessage)(wParam, lParam);
        }
    }
    return 0;
}

}  // namespace vyx::app
