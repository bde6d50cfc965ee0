#include "cli/Commands.h"

#include <array>
#include <cstdio>
#include <iostream>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/DisplayPort.h"
#include "cli/ExitStatus.h"
#include "cli/LocaleText.h"
#include "cli/Output.h"
#include "cli/Ports.h"
#include "cli/TextEncoding.h"
#include "protocol/Download.h"
#include "protocol/Frame.h"
#include "protocol/Report.h"
#include "resources/Lists.h"

namespace vyx::cli {

namespace {

using TxBuffer = std::array<std::uint8_t, protocol::kMainTxBufferSize>;

// A display needs a moment to switch its rate after the baud-rate frame.
constexpr std::chrono::milliseconds kRateSwitchGrace{50};
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

std::string Seconds(std::chrono::milliseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

int NoReply(const DisplayPort& port, std::chrono::milliseconds timeout) {
    Fail(port.Describe() + ": no complete reply within " + Seconds(timeout) + " at " +
             std::to_string(port.Baud()) + " bps (" + std::to_string(port.BytesAtTimeout()) +
             " of " + std::to_string(protocol::kReplyMinimum) + " bytes)",
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
    const auto reply = port.QueryInformation(invocation.timeout);
    if (!reply) {
        return NoReply(port, invocation.timeout);
    }
    const std::uint8_t reported =
        setting.replyPosition < reply->size() ? (*reply)[setting.replyPosition] : 0;
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
    port.Send(std::span(frame).first(length));
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
    const auto reply = port.QueryInformation(invocation.timeout);
    if (!reply) {
        return NoReply(port, invocation.timeout);
    }
    std::cout << (invocation.json ? InformationJson(*reply) : ReportText(*reply)) << std::flush;
    return kExitOk;
}

int RunText(const Invocation& invocation) {
    DisplayPort port;
    if (port.Open(invocation.port, invocation.baud) == 0) {
        return kExitPortNotOpened;
    }
    // --encoding auto: the display's information names its font set.
    std::vector<std::uint8_t> reply;
    if (invocation.encoding.kind == TextEncoding::Kind::Auto) {
        auto taken = port.QueryInformation(invocation.timeout);
        if (!taken) {
            return NoReply(port, invocation.timeout);
        }
        reply = *taken;
    }
    const protocol::CodePage page = CodePageForText(invocation.encoding, reply, std::cerr);
    TxBuffer frame{};
    const std::size_t length = protocol::BuildTextFrame(
        frame, EncodeLineTelling(ArgumentToUtf8(invocation.line1), page, 1, std::cerr),
        EncodeLineTelling(ArgumentToUtf8(invocation.line2), page, 2, std::cerr));
    port.Send(std::span(frame).first(length));
    return kExitOk;
}

int RunCellTest(const Invocation& invocation) {
    DisplayPort port;
    if (port.Open(invocation.port, invocation.baud) == 0) {
        return kExitPortNotOpened;
    }
    TxBuffer block{};
    const std::size_t length = protocol::BuildCellTest(block, invocation.block);
    port.Send(std::span(block).first(length));
    return kExitOk;
}

// Writes config.data as the programming tool expects it; a missing file is left missing.
int WriteConfigData(int comNumber) {
    const auto record = protocol::BuildDownloadRecord(comNumber - 1);
    std::string error;
    switch (protocol::WriteDownloadRecord(protocol::kConfigFileName, record, &error)) {
        case protocol::RecordWrite::Written:
            return kExitOk;
        case protocol::RecordWrite::NotOpened:
            std::cout << protocol::kConfigFileName
                      << " is not in the current directory (or is held open); not written\n";
            return kExitOk;
        case protocol::RecordWrite::WriteFailed:
            break;
    }
    Fail(std::string(protocol::kConfigFileName) + ": cannot write the record: " + error);
    return kExitFileNotWritten;
}

int RunDownload(const Invocation& invocation) {
    DisplayPort port;
    if (port.Open(invocation.port, invocation.baud) == 0) {
        return kExitPortNotOpened;
    }
    TxBuffer frame{};
    const std::size_t length = protocol::BuildDownloadModeFrame(frame);
    port.Send(std::span(frame).first(length));
    port.Close();
    if (const int status = WriteConfigData(invocation.comNumber); status != kExitOk) {
        return status;
    }
    if (!invocation.noTool && !protocol::StartProgram(protocol::kProgrammingTool)) {
        Fail(std::string(protocol::kProgrammingTool) +
             ": could not be started; the display waits in download mode");
    }
    return kExitOk;
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

int RunProbe(const Invocation& invocation) {
    DisplayPort port;
    for (const std::uint32_t rate : ProbeOrder(invocation)) {
        if (port.Open(invocation.port, rate) == 0) {
            return kExitPortNotOpened;
        }
        if (const auto reply = port.QueryInformation(invocation.timeout)) {
            std::cout << "rate: " << rate << '\n' << ReportText(*reply) << std::flush;
            return kExitOk;
        }
        port.Close();
    }
    Fail(port.Describe() + ": no reply at any rate from 9600 to 115200 (" +
             Seconds(invocation.timeout) + " each)",
         "hint: check the cable, the power and that the display is not in download mode");
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
