#include "cli/Commands.h"

#include <array>
#include <cstdio>
#include <iostream>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/DisplayPort.h"
#include "cli/ExitStatus.h"
#include "cli/LocaleText.h"
#include "cli/Output.h"
#include "cli/Ports.h"
#include "cli/StandardStreams.h"
#include "protocol/Download.h"
#include "protocol/Frame.h"
#include "protocol/InformationFrame.h"
#include "protocol/Report.h"
#include "resources/Lists.h"

namespace vyx::cli {

namespace {

using TxBuffer = std::array<std::uint8_t, protocol::kMainTxBufferSize>;

// A display needs a moment to switch its rate after the baud-rate frame.
constexpr std::chrono::milliseconds kRateSwitchGrace{50};
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

std::string Seconds(std::chrono::microseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(duration.count()) / 1e6);
    return text;
}

std::string WhatArrived(std::size_t bytes) {
    return bytes == 0 ? "nothing arrived" : std::to_string(bytes) + " bytes, no valid frame";
}

// The exit status of a query that brought no valid reply, after telling why.
int NoReply(const DisplayPort& port, std::chrono::microseconds timeout,
            const InformationOutcome& outcome) {
    switch (outcome.kind) {
        case InformationOutcome::Kind::NotSent:
            return kExitNotSent;  // Send told why
        case InformationOutcome::Kind::DeviceLost:
            Fail(port.Describe() + ": device lost while waiting for the reply (" +
                 WhatArrived(outcome.bytesSeen) + ")");
            return kExitNoReply;
        default:
            break;
    }
    Fail(port.Describe() + ": no valid reply within " + Seconds(timeout) + " at " +
             std::to_string(port.Baud()) + " bps (" + WhatArrived(outcome.bytesSeen) + ")",
         "hint: `vyxctl probe` finds the rate the display listens at");
    return kExitNoReply;
}

// The setting frame of a command and the reply position its value comes back at.
struct Setting {
    std::size_t (*build)(std::span<std::uint8_t>, int);
    std::size_t replyPosition;
    std::span<const std::string_view> entries;
    const char* what;
};

Setting SettingOf(Command command) {
    switch (command) {
        case Command::Baud:
            return {protocol::BuildBaudRateFrame, protocol::kPosBaudRate,
                    resources::kBaudRateEntries, "baud rate"};
        case Command::CommandSet:
            return {protocol::BuildCommandSetFrame, protocol::kPosCommandSet,
                    resources::kCommandSetEntries, "command set"};
        case Command::FontSet:
            return {protocol::BuildDefaultFontFrame, protocol::kPosDefaultFont,
                    resources::kDefaultFontEntries, "default font"};
        default:
            return {protocol::BuildLanguageFrame, protocol::kPosLanguage,
                    resources::kLanguageEntries, "language"};
    }
}

std::string CodeAndName(const Setting& setting, std::uint8_t code) {
    const auto entry = resources::EntryAt(setting.entries, code);
    return std::to_string(code) + (entry ? " (\"" + std::string(*entry) + "\")" : "");
}

// Reads the information back and compares the setting's code with `expected`.
int VerifySetting(DisplayPort& port, const Invocation& invocation, const Setting& setting,
                  std::uint8_t expected) {
    const InformationOutcome reply = port.QueryInformation(invocation.timeout);
    if (reply.kind != InformationOutcome::Kind::Reply) {
        return NoReply(port, invocation.timeout, reply);
    }
    const std::uint8_t reported = reply.frame[setting.replyPosition];
    if (reported != expected) {
        Fail(port.Describe() + ": verify failed: the display reports " + setting.what + " " +
             CodeAndName(setting, reported) + ", not " + CodeAndName(setting, expected));
        return kExitVerifyMismatch;
    }
    std::cout << "verified: " << setting.what << ' ' << CodeAndName(setting, expected) << '\n';
    return kExitOk;
}

// After the baud-rate frame: let it leave the wire and the display switch, then talk to
// the display at the new rate. A pseudo-terminal does not pace the wire, so the wire time
// is computed rather than observed.
int ReopenAtNewRate(DisplayPort& port, const Invocation& invocation, std::size_t frameLength) {
    const auto wireTime = std::chrono::milliseconds(
        (frameLength * kBitsPerByte * 1000 + invocation.baud - 1) / invocation.baud);
    std::this_thread::sleep_for(wireTime + kRateSwitchGrace);
    port.Close();
    const std::uint32_t newRate = resources::kBaudRates[static_cast<std::size_t>(invocation.index)];
    return port.Open(invocation.port, newRate) == 1 ? kExitOk : kExitPortNotOpened;
}

int RunSetting(const Invocation& invocation) {
    DisplayPort port;
    if (port.Open(invocation.port, invocation.baud) == 0) {
        return kExitPortNotOpened;
    }
    const Setting setting = SettingOf(invocation.command);
    TxBuffer frame{};
    const std::size_t length = setting.build(frame, invocation.index);
    if (!port.Send(std::span(frame).first(length))) {
        return kExitNotSent;
    }
    if (!invocation.verify) {
        return kExitOk;
    }
    if (invocation.command == Command::Baud) {
        if (const int status = ReopenAtNewRate(port, invocation, length); status != kExitOk) {
            return status;
        }
    }
    // The data byte of a one-byte setting frame, after its mask, is what comes back.
    return VerifySetting(port, invocation, setting, frame[3]);
}

int RunInfo(const Invocation& invocation) {
    DisplayPort port;
    if (port.Open(invocation.port, invocation.baud) == 0) {
        return kExitPortNotOpened;
    }
    const InformationOutcome reply = port.QueryInformation(invocation.timeout);
    if (reply.kind != InformationOutcome::Kind::Reply) {
        return NoReply(port, invocation.timeout, reply);
    }
    std::cout << (invocation.json ? InformationJson(reply.frame) : ReportText(reply.frame));
    return kExitOk;
}

int RunText(const Invocation& invocation) {
    DisplayPort port;
    if (port.Open(invocation.port, invocation.baud) == 0) {
        return kExitPortNotOpened;
    }
    TxBuffer frame{};
    const std::size_t length =
        protocol::BuildTextFrame(frame, protocol::EncodeTextLine(ArgumentToUtf8(invocation.line1)),
                                 protocol::EncodeTextLine(ArgumentToUtf8(invocation.line2)));
    return port.Send(std::span(frame).first(length)) ? kExitOk : kExitNotSent;
}

int RunCellTest(const Invocation& invocation) {
    DisplayPort port;
    if (port.Open(invocation.port, invocation.baud) == 0) {
        return kExitPortNotOpened;
    }
    TxBuffer block{};
    const std::size_t length = protocol::BuildCellTest(block, invocation.block);
    return port.Send(std::span(block).first(length)) ? kExitOk : kExitNotSent;
}

// Writes config.data as the programming tool expects it; a missing file is left missing.
// Returns kExitOk, or kExitFileNotWritten with `startTool` telling whether the hand-off
// still goes on (a file that could not be opened) or stops (a write that failed).
int WriteConfigData(int comNumber, bool& startTool) {
    const auto record = protocol::BuildDownloadRecord(comNumber - 1);
    const protocol::RecordOutcome outcome =
        protocol::WriteRecordFile(protocol::kConfigFileName, record);
    const std::string name = protocol::kConfigFileName;
    startTool = outcome.result != protocol::RecordWrite::WriteFailed;
    if (outcome.result == protocol::RecordWrite::Written) {
        return kExitOk;
    }
    if (outcome.missing) {
        std::cout << name << " is not in the current directory; no record written\n";
        return kExitOk;
    }
    // The tool still starts, as from the dialog, but a script learns that it will not
    // find the record.
    Fail(name + ": " +
         (startTool ? "exists but cannot be opened for writing; the record is not written: "
                    : "cannot write the record: ") +
         outcome.error);
    return kExitFileNotWritten;
}

int StartTool() {
    std::string error;
    if (protocol::StartProgram(protocol::kProgrammingTool, &error,
                               protocol::ToolOutput::Discarded)) {
        return kExitOk;
    }
    Fail("the display waits in download mode, but " + std::string(protocol::kProgrammingTool) +
             " could not be started: " + error,
         "hint: put " + std::string(protocol::kProgrammingTool) +
             " in a folder of PATH (or start it yourself; --no-tool skips it)");
    return kExitToolNotStarted;
}

int RunDownload(const Invocation& invocation) {
    DisplayPort port;
    if (port.Open(invocation.port, invocation.baud) == 0) {
        return kExitPortNotOpened;
    }
    TxBuffer frame{};
    const std::size_t length = protocol::BuildDownloadModeFrame(frame);
    if (!port.Send(std::span(frame).first(length))) {
        return kExitNotSent;
    }
    port.Close();
    bool startTool = true;
    const int recordStatus = WriteConfigData(invocation.comNumber, startTool);
    if (!startTool || invocation.noTool) {
        return recordStatus;
    }
    const int toolStatus = StartTool();
    return toolStatus != kExitOk ? toolStatus : recordStatus;
}

// The --baud rate first when it was given, then 9600 upwards.
std::vector<std::uint32_t> ProbeOrder(const Invocation& invocation) {
    std::vector<std::uint32_t> rates;
    if (invocation.baudGiven) {
        rates.push_back(invocation.baud);
    }
    for (const std::uint32_t rate : resources::kBaudRates) {
        if (!invocation.baudGiven || rate != invocation.baud) {
            rates.push_back(rate);
        }
    }
    return rates;
}

// What a reply needs on the wire at `rate` (the query out, 22 bytes back) plus the
// display's own time to answer, which a display keeps under some 30 ms.
std::chrono::microseconds ProbeWait(std::uint32_t rate) {
    constexpr std::uint64_t kWireBytes = 5 + protocol::kInformationFrameLength;
    constexpr std::chrono::microseconds kMargin{40'000};
    return std::chrono::microseconds(kWireBytes * kBitsPerByte * 1'000'000 / rate) + kMargin;
}

int RunProbe(const Invocation& invocation) {
    DisplayPort port;
    const bool progress = StderrIsTerminal();
    std::optional<std::uint8_t> lateRate;
    for (const std::uint32_t rate : ProbeOrder(invocation)) {
        if (progress) {
            std::cerr << "vyxctl: trying " << rate << " bps\n";
        }
        if (port.Open(invocation.port, rate) == 0) {
            return kExitPortNotOpened;
        }
        // A valid frame at this rate counts only when it names this rate: a slow display
        // answering the query of an earlier rate late names that earlier rate.
        const auto code = static_cast<std::uint8_t>(resources::BaudRateIndex(rate));
        const auto wait = invocation.timeoutGiven ? invocation.timeout : ProbeWait(rate);
        const InformationOutcome reply = port.QueryInformation(wait, code);
        if (reply.kind == InformationOutcome::Kind::Reply) {
            std::cout << "rate: " << rate << '\n' << ReportText(reply.frame);
            return kExitOk;
        }
        if (reply.kind == InformationOutcome::Kind::NotSent) {
            return kExitNotSent;
        }
        if (reply.kind == InformationOutcome::Kind::DeviceLost) {
            return NoReply(port, wait, reply);
        }
        lateRate = reply.otherRate ? reply.otherRate : lateRate;
        port.Close();
    }
    const std::string each = invocation.timeoutGiven ? Seconds(invocation.timeout) + " each"
                                                     : "the wire time of each plus 40 ms";
    Fail(port.Describe() + ": no reply at any rate from 9600 to 115200 (" + each + ")",
         lateRate ? "hint: a reply naming another rate came late; the display may be slow to "
                    "answer: try a longer --timeout"
                  : "hint: check the cable, the power and that the display is not in download "
                    "mode");
    return kExitNoReply;
}

}  // namespace

int RunCommand(const Invocation& invocation) {
    switch (invocation.command) {
        case Command::Info:
            return RunInfo(invocation);
        case Command::Text:
            return RunText(invocation);
        case Command::Baud:
        case Command::CommandSet:
        case Command::FontSet:
        case Command::Language:
            return RunSetting(invocation);
        case Command::CellTest:
            return RunCellTest(invocation);
        case Command::Download:
            return RunDownload(invocation);
        case Command::Probe:
            return RunProbe(invocation);
        case Command::Ports:
            return ListPorts(std::cout);
        case Command::Map:
            return MapPort(invocation.comName, invocation.device);
        case Command::Unmap:
            return UnmapPort(invocation.comName);
    }
    return kExitUsage;
}

}  // namespace vyx::cli
