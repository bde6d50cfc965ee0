#include "cli/Commands.h"

#include <array>
#include <cstdio>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "cli/Apply.h"
#include "cli/Completion.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/Formatting.h"
#include "cli/ListArgument.h"
#include "cli/LocaleText.h"
#include "cli/Output.h"
#include "cli/Ports.h"
#include "cli/ProbeRates.h"
#include "cli/ProfileCommands.h"
#include "cli/Session.h"
#include "cli/SeveralPorts.h"
#include "cli/StandardStreams.h"
#include "cli/TextEncoding.h"
#include "protocol/Download.h"
#include "protocol/Frame.h"
#include "protocol/InformationFrame.h"
#include "protocol/Report.h"
#include "resources/Lists.h"

namespace vyx::cli {

namespace {

using TxBuffer = std::array<std::uint8_t, protocol::kMainTxBufferSize>;

std::string Seconds(std::chrono::microseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(duration.count()) / 1e6);
    return text;
}

std::string WhatArrived(std::size_t bytes) {
    return bytes == 0 ? "nothing arrived" : std::to_string(bytes) + " bytes, no valid frame";
}

// The exit status of a session that did not end well, after telling what a query
// brought (the opening and the sending told their own failures).
int Failure(const SessionResult& session, std::chrono::microseconds timeout) {
    const int status = session.Status();
    if (status != kExitNoReply) {
        return status;
    }
    const StepResult& last = session.steps.back();
    if (last.reply.kind == InformationOutcome::Kind::DeviceLost) {
        Fail(session.description + ": device lost while waiting for the reply (" +
             WhatArrived(last.reply.bytesSeen) + ")");
        return kExitNoReply;
    }
    Fail(session.description + ": no valid reply within " + Seconds(timeout) + " at " +
             std::to_string(last.baud) + " bps (" + WhatArrived(last.reply.bytesSeen) + ")",
         "hint: `vyxctl probe` finds the rate the display listens at");
    return kExitNoReply;
}

Session OpenSession(const Invocation& invocation, std::uint32_t baud) {
    return {invocation.port, baud,
            SessionOptions{invocation.dryRun, invocation.verbose, invocation.trace}};
}

Session OpenSession(const Invocation& invocation) {
    return OpenSession(invocation, invocation.baud);
}

// The list a setting command sets, its entries and how its messages name it.
struct Setting {
    const char* list;
    std::span<const std::string_view> entries;
    const char* what;
};

Setting SettingOf(Command command) {
    switch (command) {
        case Command::Baud:
            return {"baud", resources::kBaudRateEntries, "baud rate"};
        case Command::CommandSet:
            return {"command-set", resources::kCommandSetEntries, "command set"};
        case Command::FontSet:
            return {"font-set", resources::kDefaultFontEntries, "default font"};
        default:
            return {"language", resources::kLanguageEntries, "language"};
    }
}

std::string CodeAndName(const Setting& setting, std::uint8_t code) {
    const auto entry = resources::EntryAt(setting.entries, code);
    return std::to_string(code) + (entry ? " (\"" + std::string(*entry) + "\")" : "");
}

// Parse -> steps -> run -> report, for the setting commands: the frame, and with
// --verify the switch to the new rate (baud) and the query whose code is compared.
int RunSetting(const Invocation& invocation) {
    const Setting setting = SettingOf(invocation.command);
    const std::pair<std::string, int> chosen(setting.list, invocation.index);
    const std::vector<std::uint8_t> sent = SettingFrame(chosen.first, chosen.second);
    const std::vector<Step> steps =
        SettingSteps(std::span(&chosen, 1), invocation.verify, invocation.timeout);
    const SessionResult session = OpenSession(invocation).Run(steps);
    if (session.Status() != kExitOk) {
        return Failure(session, invocation.timeout);
    }
    if (session.dryRun) {
        return kExitOk;
    }
    if (!invocation.verify) {
        // --verify says "verified: ..." instead, as it always has.
        if (!invocation.quiet) {
            Out() << DescribeFrame(sent) << '\n';
        }
        return kExitOk;
    }
    // The data byte of a one-byte setting frame, after its mask, is what comes back.
    const std::uint8_t expected = sent[3];
    const std::uint8_t reported = session.steps.back().reply.frame[ReplyPosition(setting.list)];
    if (reported != expected) {
        Fail(session.description + ": verify failed: the display reports " + setting.what + " " +
             CodeAndName(setting, reported) + ", not " + CodeAndName(setting, expected));
        return kExitVerifyMismatch;
    }
    Out() << "verified: " << setting.what << ' ' << CodeAndName(setting, expected) << '\n';
    return kExitOk;
}

int RunInfo(const Invocation& invocation) {
    const Step query = Step::Query(invocation.timeout);
    const SessionResult session = OpenSession(invocation).Run(std::span(&query, 1));
    if (session.Status() != kExitOk) {
        return Failure(session, invocation.timeout);
    }
    if (session.dryRun) {
        return kExitOk;
    }
    const auto& frame = session.steps.back().reply.frame;
    Out() << (invocation.json     ? InformationJson(frame)
              : invocation.report ? ReportText(frame)
                                  : InformationText(frame, protocol::SystemCodePage()));
    return kExitOk;
}

// A command that only sends: one frame (or the raw cell test), nothing to report.
int RunSend(const Invocation& invocation, std::span<const std::uint8_t> bytes) {
    const Step send = Step::Send(bytes);
    return OpenSession(invocation).Run(std::span(&send, 1)).Status();
}

int RunText(const Invocation& invocation) {
    // The lines are encoded once the code page is known: with --encoding auto, from the
    // font set the display reports in the same opening.
    TextEncoding encoding = invocation.encoding;
    if (invocation.dryRun && encoding.kind == TextEncoding::Kind::Auto) {
        Err() << "vyxctl: dry run: the display's font set is not asked; the lines are "
                 "encoded for the system's code page\n";
        encoding.kind = TextEncoding::Kind::System;
    }
    const auto build = [&invocation, encoding](std::span<const StepResult> done) {
        std::span<const std::uint8_t> reply;
        if (!done.empty()) {
            reply = done.back().reply.frame;
        }
        const protocol::CodePage page = CodePageForText(encoding, reply, Err());
        TxBuffer frame{};
        const std::size_t length = protocol::BuildTextFrame(
            frame, EncodeLineTelling(ArgumentToUtf8(invocation.line1), page, 1, Err()),
            EncodeLineTelling(ArgumentToUtf8(invocation.line2), page, 2, Err()));
        const auto sent = std::span(frame).first(length);
        return std::vector<std::uint8_t>(sent.begin(), sent.end());
    };
    std::vector<Step> steps;
    if (invocation.encoding.kind == TextEncoding::Kind::Auto) {
        steps.push_back(Step::Query(invocation.timeout));
    }
    steps.push_back(Step::SendBuilt(build));
    const SessionResult session = OpenSession(invocation).Run(steps);
    return session.Status() == kExitOk ? kExitOk : Failure(session, invocation.timeout);
}

int RunCellTest(const Invocation& invocation) {
    TxBuffer block{};
    return RunSend(invocation,
                   std::span(block).first(protocol::BuildCellTest(block, invocation.block)));
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
        Out() << name << " is not in the current directory; no record written\n";
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
    TxBuffer frame{};
    const std::size_t length = protocol::BuildDownloadModeFrame(frame);
    // The session closes the port before the hand-off: the tool needs it.
    if (const int status = RunSend(invocation, std::span(frame).first(length));
        status != kExitOk || invocation.dryRun) {
        return status;  // a dry run writes no record and starts no tool
    }
    bool startTool = true;
    const int recordStatus = WriteConfigData(invocation.comNumber, startTool);
    if (!startTool || invocation.noTool) {
        return recordStatus;
    }
    // A tool that did not start leaves the operator with more to do than a record that
    // was not written, so its status wins when both went wrong.
    const int toolStatus = StartTool();
    return toolStatus != kExitOk ? toolStatus : recordStatus;
}

// The --baud rate first when it was given, then 9600 upwards.
std::vector<std::uint32_t> ProbeOrder(const Invocation& invocation) {
    std::vector<std::uint32_t> first;
    if (invocation.baudGiven) {
        first.push_back(invocation.baud);
    }
    return vyx::cli::ProbeOrder(first);
}

// The text frame of two blank lines: what `vyxctl text "" ""` sends.
std::vector<std::uint8_t> BlankTextFrame() {
    TxBuffer frame{};
    const std::array<std::uint8_t, protocol::kLineLength> blank =
        protocol::EncodeTextLine("", protocol::SystemCodePage());
    const std::size_t length = protocol::BuildTextFrame(frame, blank, blank);
    return {frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length)};
}

// After a probe that found the rate: queries sent at other rates reach the display as
// garbage, which it may show as characters. --clear blanks the lines at the rate found.
int AfterProbe(const Invocation& invocation, std::uint32_t rate, std::size_t wrongRates) {
    if (invocation.clear) {
        const Step blank = Step::Send(BlankTextFrame());
        return OpenSession(invocation, rate).Run(std::span(&blank, 1)).Status();
    }
    // Advice for a person, shown where the progress is: a script reading standard error
    // gets failures only.
    if (wrongRates > 0 && (StderrIsTerminal() || invocation.verbose)) {
        Err() << "vyxctl: the queries sent at " << wrongRates
              << (wrongRates == 1 ? " other rate" : " other rates")
              << " may show as stray characters on the display; `vyxctl --baud " << rate
              << " text \"\" \"\"` clears them (probe --clear does it)\n";
    }
    return kExitOk;
}

int RunProbe(const Invocation& invocation) {
    const bool progress = StderrIsTerminal();
    bool lateReply = false;
    std::string description = invocation.port;
    std::size_t tried = 0;
    for (const std::uint32_t rate : ProbeOrder(invocation)) {
        if (progress && !invocation.dryRun) {
            Err() << "vyxctl: trying " << rate << " bps\n";
        }
        // A valid frame at this rate counts only when it names this rate: a slow display
        // answering the query of an earlier rate late names that earlier rate.
        const auto code = static_cast<std::uint8_t>(resources::BaudRateIndex(rate));
        const auto wait = invocation.timeoutGiven ? invocation.timeout : ProbeWait(rate);
        const Step query = Step::Query(wait, code);
        const SessionResult session = OpenSession(invocation, rate).Run(std::span(&query, 1));
        description = session.description;
        if (session.dryRun) {
            continue;  // every rate's query is shown
        }
        if (session.Status() == kExitOk) {
            Out() << "rate: " << rate << '\n' << ReportText(session.steps.back().reply.frame);
            return AfterProbe(invocation, rate, tried);
        }
        const bool unanswered =
            session.Status() == kExitNoReply &&
            session.steps.back().reply.kind == InformationOutcome::Kind::NoValidFrame;
        if (!unanswered) {
            return Failure(session, wait);  // not opened, not sent, or the device lost
        }
        lateReply = lateReply || session.steps.back().reply.otherRate.has_value();
        ++tried;
    }
    if (invocation.dryRun) {
        return kExitOk;
    }
    const std::string each = invocation.timeoutGiven ? Seconds(invocation.timeout) + " each"
                                                     : "the wire time of each plus 40 ms";
    Fail(description + ": no reply at any rate from 9600 to 115200 (" + each + ")",
         lateReply ? "hint: a reply naming another rate came late; the display may be slow to "
                     "answer: try a longer --timeout"
                   : "hint: check the cable, the power and that the display is not in download "
                     "mode");
    return kExitNoReply;
}

// Several settings in one opening, the baud rate last (Options put it there); with
// --verify one query at the end, at the new rate, checks every value.
int RunSet(const Invocation& invocation) {
    const std::vector<Step> steps =
        SettingSteps(invocation.settings, invocation.verify, invocation.timeout);
    const SessionResult session = OpenSession(invocation).Run(steps);
    if (session.Status() != kExitOk) {
        return Failure(session, invocation.timeout);
    }
    if (session.dryRun) {
        return kExitOk;
    }
    int status = kExitOk;
    for (const auto& [list, index] : invocation.settings) {
        const std::vector<std::uint8_t> frame = SettingFrame(list, index);
        const std::uint8_t expected = frame[3];
        const std::string said = DescribeFrame(frame);
        if (!invocation.verify) {
            if (!invocation.quiet) {
                Out() << said << '\n';
            }
            continue;
        }
        const std::uint8_t reported = session.steps.back().reply.frame[ReplyPosition(list)];
        if (reported != expected) {
            const ListInfo& info = *FindList(list);
            Fail(session.description + ": verify failed: the display reports " +
                 std::string(info.what) + " 0x" + HexBytes(std::span(&reported, 1)) + " " +
                 EntryLabel(info, reported) + ", not 0x" + HexBytes(std::span(&expected, 1)) + " " +
                 EntryLabel(info, expected));
            status = kExitVerifyMismatch;
        } else if (!invocation.quiet) {
            Out() << said << " (verified)\n";
        }
    }
    return status;
}

int RunLists(const Invocation& invocation) {
    Out() << ListsText(invocation.listName.empty() ? nullptr : FindList(invocation.listName));
    return kExitOk;
}

// One port's run of the command.
int RunOnePort(const Invocation& invocation) {
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
            return ListPorts(Out(), invocation.json);
        case Command::Map:
            return MapPort(invocation.comName, invocation.device);
        case Command::Unmap:
            return UnmapPort(invocation.comName);
        case Command::Set:
            return RunSet(invocation);
        case Command::Lists:
            return RunLists(invocation);
        case Command::Apply:
            return RunApply(invocation);
        case Command::ProfileSave:
            return RunProfileSave(invocation);
        case Command::Completion:
            // The parser checked the shell: there is a script for it.
            Out() << CompletionScript(CommandLineCompletionModel(), invocation.shell).value_or("");
            return kExitOk;
    }
    return kExitUsage;
}

}  // namespace

int RunCommand(const Invocation& invocation) {
    // Options let several ports through only for the commands that take them.
    if (invocation.ports.size() > 1) {
        return RunOnEveryPort(invocation, RunOnePort);
    }
    return RunOnePort(invocation);
}

}  // namespace vyx::cli
