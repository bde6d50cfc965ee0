// CVYX_UtilityDlg, part 2: the handlers that talk to the display.
//   OnChangeBaud, OnInputString, OnSetCommandSet, OnSetDefaultFont, OnFontSet,
//   OnCellTest (with SendListFrame), OnInformation and OnCommRead (the information
//   query and its report), OnProgramDownLoad (the hand-off to the programming tool),
//   and the accessors of the program-wide state below.
// Part 1, VYX_UtilityDlg.cpp: construction, OnInitDialog, EnablePortControls, the port
// handlers (OnPortOpen, OnPortClose, OnExit), OnSysCommand, SendToDisplay and the
// message table.

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>

#include "app/VYX_UtilityDlg.h"
#include "protocol/CodePage.h"
#include "protocol/Download.h"
#include "protocol/Frame.h"
#include "protocol/Report.h"
#include "resources/ControlIds.h"

namespace vyx::app {

namespace {

namespace res = vyx::resources;
namespace proto = vyx::protocol;

// Program-wide state with static storage: one instance for the program, not per dialog.
// Only the window thread touches it (every handler runs there, one at a time; the
// watcher reaches the dialog only through posted messages), so it needs no lock.

// Static: frames are assembled in place, and the main buffer keeps old bytes past the
// count, as it is never cleared (each sender writes the bytes it sends).
std::array<std::uint8_t, proto::kMainTxBufferSize> g_TxBuffer{};
// The language command's own buffer, zero-filled before each use.
std::array<std::uint8_t, proto::kSecondTxBufferSize> g_TxBuffer2{};
// Static: a reply still awaited survives closing and reopening the port.
ResponseState g_ResponseState = ResponseState::Idle;
// Static: a report arriving while another's box is up replaces it (empty with no box up).
std::string g_ReportText;
// Static: false at program start, flipped by each cell test, reset by nothing else.
bool g_CellTestBlock = false;

}  // namespace

ResponseState CVYX_UtilityDlg::GetResponseState() {
    return g_ResponseState;
}
void CVYX_UtilityDlg::SetResponseState(ResponseState state) {
    g_ResponseState = state;
}
bool CVYX_UtilityDlg::CellTestToggle() {
    return g_CellTestBlock;
}
const std::string& CVYX_UtilityDlg::ReportText() {
    return g_ReportText;
}

// A list whose text field was edited reports no selection (-1). Rather than sending the
// low bits of -1 (0xFF would be taken by the display as a baud-rate index), these
// handlers send nothing and the window gives its short cue.
void CVYX_UtilityDlg::SendListFrame(int listId, ListFrameBuilder build,
                                    std::span<std::uint8_t> buffer) {
    const int index = m_Window.GetCurSel(listId);
    if (index < 0) {
        m_Window.Beep();
        return;
    }
    const std::size_t n = build(buffer, index);
    SendToDisplay(buffer.data(), static_cast<std::uint32_t>(n));
}

void CVYX_UtilityDlg::OnChangeBaud() {
    SendListFrame(res::IDC_NEW_BAUD, proto::BuildBaudRateFrame, g_TxBuffer);
}

void CVYX_UtilityDlg::OnInputString() {
    // The edit boxes keep the operator's text; they are only read. The lines go out in
    // the system's code page, as the display's font set is expected to match it.
    const proto::CodePage page = proto::SystemCodePage();
    const auto line1 = proto::EncodeTextLine(m_Window.GetDlgItemText(res::IDC_LINE1), page);
    const auto line2 = proto::EncodeTextLine(m_Window.GetDlgItemText(res::IDC_LINE2), page);
    const std::size_t n = proto::BuildTextFrame(g_TxBuffer, line1, line2);
    SendToDisplay(g_TxBuffer.data(), static_cast<std::uint32_t>(n));
}

void CVYX_UtilityDlg::OnSetCommandSet() {
    SendListFrame(res::IDC_COMMAND_SET, proto::BuildCommandSetFrame, g_TxBuffer);
}

void CVYX_UtilityDlg::OnSetDefaultFont() {
    SendListFrame(res::IDC_DEFAULT_FONT, proto::BuildDefaultFontFrame, g_TxBuffer);
}

void CVYX_UtilityDlg::OnFontSet() {
    // The language command has a buffer of its own, zero-filled before each use.
    g_TxBuffer2.fill(0);
    SendListFrame(res::IDC_LANGUAGE, proto::BuildLanguageFrame, g_TxBuffer2);
}

void CVYX_UtilityDlg::OnCellTest() {
    const std::size_t n = proto::BuildCellTest(g_TxBuffer, g_CellTestBlock);
    g_CellTestBlock = !g_CellTestBlock;
    SendToDisplay(g_TxBuffer.data(), static_cast<std::uint32_t>(n));
}

void CVYX_UtilityDlg::OnInformation() {
    const std::size_t n = proto::BuildInformationQuery(g_TxBuffer);
    SendToDisplay(g_TxBuffer.data(), static_cast<std::uint32_t>(n));
    g_ResponseState = ResponseState::InformationAwaited;
    // Whatever is queued now is stale or arrived while the query went out.
    m_Comm.m_QueueRead.Clear();
}

std::int64_t CVYX_UtilityDlg::OnCommRead(std::uint64_t /*wParam*/, std::int64_t /*lParam*/) {
    const std::int32_t count = m_Comm.m_QueueRead.GetCount();
    if (g_ResponseState == ResponseState::Idle ||
        count < static_cast<std::int32_t>(proto::kReplyMinimum)) {
        return 0;
    }
    std::array<std::uint8_t, proto::kReplyBufferSize> reply{};
    const auto n = static_cast<std::size_t>(count);
    const std::size_t kept = std::min(n, reply.size());
    for (std::size_t i = 0; i < kept; ++i) {
        m_Comm.m_QueueRead.GetByte(reply[i]);
    }
    // Bytes counted beyond the buffer are taken and dropped rather than left queued:
    // the report needs only positions 3 to 18, and bytes left behind would, while this
    // box is still up, be taken by the next WM_COMM_READ for a second, bogus report.
    for (std::size_t i = kept; i < n; ++i) {
        std::uint8_t dropped = 0;
        m_Comm.m_QueueRead.GetByte(dropped);
    }
    g_ReportText =
        proto::BuildInformationReport(std::span(reply.data(), kept), proto::SystemCodePage());
    // The box gets its own copy: a nested report replaces g_ReportText while this one is up.
    const std::string report = g_ReportText;
    m_Window.MessageBox(report, InformationCaption, MB_OK | MB_ICONINFORMATION);
    g_ResponseState = ResponseState::Idle;
    g_ReportText.clear();
    return 0;
}

void CVYX_UtilityDlg::OnProgramDownLoad() {
    const std::size_t n = proto::BuildDownloadModeFrame(g_TxBuffer);
    SendToDisplay(g_TxBuffer.data(), static_cast<std::uint32_t>(n));
    // Closes the port and waits for the operator to close its box; the programming tool
    // needs the port, and the record names the COM entry selected after that box.
    OnPortClose();
    const auto record = proto::BuildDownloadRecord(m_Window.GetCurSel(res::IDC_COM_PORT));
    std::string error;
    const proto::RecordWrite written =
        proto::WriteDownloadRecord(proto::kConfigFileName, record, &error);
    if (written != proto::RecordWrite::Written) {
        std::fprintf(stderr, "%s: %s\n", proto::kConfigFileName, error.c_str());
    }
    if (written == proto::RecordWrite::WriteFailed) {
        m_Window.MessageBox("Writing config.data failed !", MessageCaption, MB_OK | MB_ICONHAND);
        return;
    }
    // A missing or busy file is not an error: the tool starts all the same. A tool that
    // cannot be started is not reported to the operator either (StartProgram says why
    // on standard error).
    static_cast<void>(proto::StartProgram(proto::kProgrammingTool));
}

}  // namespace vyx::app
