#include "cli/Session.h"

#include <array>
#include <cstdio>
#include <thread>

#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/Formatting.h"
#include "protocol/Frame.h"

namespace vyx::cli {

namespace {

// A display needs a moment to switch its rate after the baud-rate frame.
constexpr std::chrono::milliseconds kRateSwitchGrace{50};
constexpr std::size_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

std::string Seconds(std::chrono::microseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(duration.count()) / 1e6);
    return text;
}

std::vector<std::uint8_t> InformationQuery() {
    std::array<std::uint8_t, protocol::kMainTxBufferSize> query{};
    const std::size_t length = protocol::BuildInformationQuery(query);
    return {query.begin(), query.begin() + static_cast<std::ptrdiff_t>(length)};
}

}  // namespace

Step Step::Send(std::span<const std::uint8_t> frame) {
    Step step;
    step.kind = Kind::Send;
    step.bytes.assign(frame.begin(), frame.end());
    return step;
}

Step Step::SwitchRate(std::span<const std::uint8_t> frame, std::uint32_t rate) {
    Step step;
    step.kind = Kind::SwitchRate;
    step.bytes.assign(frame.begin(), frame.end());
    step.rate = rate;
    return step;
}

Step Step::Query(std::chrono::microseconds timeout, std::optional<std::uint8_t> baudCode) {
    Step step;
    step.kind = Kind::Query;
    step.timeout = timeout;
    step.baudCode = baudCode;
    return step;
}

Step Step::SendBuilt(std::function<std::vector<std::uint8_t>(std::span<const StepResult>)> build) {
    Step step;
    step.kind = Kind::SendBuilt;
    step.build = std::move(build);
    return step;
}

Step Step::Continue(std::function<std::vector<Step>(std::span<const StepResult>)> plan) {
    Step step;
    step.kind = Kind::Continue;
    step.plan = std::move(plan);
    return step;
}

int SessionResult::Status() const {
    if (openStatus != kExitOk) {
        return openStatus;
    }
    return steps.empty() ? kExitOk : steps.back().status;
}

Session::Session(std::string portName, std::uint32_t baud, SessionOptions options)
    : m_PortName(std::move(portName)), m_Baud(baud), m_Options(options) {}

SessionResult Session::Run(std::span<const Step> steps) {
    if (m_Options.dryRun) {
        return DryRun(steps);
    }
    DisplayPort port;
    port.SetTrace(m_Options.trace ? &Err() : nullptr);
    SessionResult result;
    result.openStatus = port.Open(m_PortName, m_Baud) == 1 ? kExitOk : kExitPortNotOpened;
    result.description = port.Describe();
    if (result.openStatus == kExitOk) {
        Tell(result.description + " open at " + std::to_string(m_Baud) + " bps");
        RunSteps(port, steps, result);
    }
    result.failure = port.LastFailure();
    return result;
}

// False once a step failed; the steps after it are not run.
bool Session::RunSteps(DisplayPort& port, std::span<const Step> steps, SessionResult& result) {
    for (const Step& step : steps) {
        if (step.kind == Step::Kind::Continue) {
            if (!RunSteps(port, step.plan(result.steps), result)) {
                return false;
            }
            continue;
        }
        result.steps.push_back(RunStep(port, step, result.steps));
        if (result.steps.back().status != kExitOk) {
            return false;
        }
    }
    return true;
}

// Every step "done" without a port: the frames on standard output, one a line, each
// with what it means; a query is taken as answered (its reply stays all zero).
SessionResult Session::DryRun(std::span<const Step> steps) {
    SessionResult result;
    result.dryRun = true;
    result.description = DescribePort(m_PortName);
    Out() << "# " << result.description << " at " << m_Baud << " bps (dry run: not opened)\n";
    std::uint32_t baud = m_Baud;
    DryRunSteps(steps, baud, result);
    return result;
}

void Session::DryRunSteps(std::span<const Step> steps, std::uint32_t& baud, SessionResult& result) {
    for (const Step& step : steps) {
        if (step.kind == Step::Kind::Continue) {
            Out() << "# then, depending on the reply:\n";
            DryRunSteps(step.plan(result.steps), baud, result);
            continue;
        }
        std::vector<std::uint8_t> bytes = step.bytes;
        std::string meaning;
        switch (step.kind) {
            case Step::Kind::Send:
                meaning = DescribeFrame(bytes);
                break;
            case Step::Kind::SwitchRate:
                baud = step.rate;
                Out() << "# then reopen at " << baud << " bps\n";
                break;
            case Step::Kind::Query:
                bytes = InformationQuery();
                meaning = "information query (then wait up to " + Seconds(step.timeout) + ")";
                break;
            case Step::Kind::SendBuilt:
                bytes = step.build(result.steps);
                meaning = DescribeFrame(bytes);
                break;
            case Step::Kind::Continue:
                break;  // taken above
        }
        if (step.kind != Step::Kind::SwitchRate) {
            Out() << HexBytes(bytes) << "  " << meaning << '\n';
        }
        StepResult done;
        done.baud = baud;
        result.steps.push_back(done);
    }
}

void Session::Tell(const std::string& line) const {
    if (m_Options.verbose) {
        Err() << "vyxctl: " << line << '\n';
    }
}

StepResult Session::RunStep(DisplayPort& port, const Step& step, std::span<const StepResult> done) {
    StepResult result;
    switch (step.kind) {
        case Step::Kind::Send:
            Tell("send " + DescribeFrame(step.bytes));
            result.status = port.Send(step.bytes) ? kExitOk : kExitNotSent;
            break;
        case Step::Kind::SwitchRate: {
            // Let the frame leave the wire and the display switch, then talk to it at the
            // new rate. A pseudo-terminal does not pace the wire, so the wire time is
            // computed rather than observed.
            const std::uint32_t old = port.Baud();
            const auto wireTime = std::chrono::milliseconds(
                (step.bytes.size() * kBitsPerByte * 1000 + old - 1) / old);
            std::this_thread::sleep_for(wireTime + kRateSwitchGrace);
            port.Close();
            result.status = port.Open(m_PortName, step.rate) == 1 ? kExitOk : kExitPortNotOpened;
            Tell("reopened at " + std::to_string(step.rate) + " bps");
            break;
        }
        case Step::Kind::SendBuilt: {
            const std::vector<std::uint8_t> bytes = step.build(done);
            Tell("send " + DescribeFrame(bytes));
            result.status = port.Send(bytes) ? kExitOk : kExitNotSent;
            break;
        }
        case Step::Kind::Query:
            Tell("send information query, wait up to " + Seconds(step.timeout));
            result.reply = port.QueryInformation(step.timeout, step.baudCode);
            Tell(result.reply.kind == InformationOutcome::Kind::Reply
                     ? "reply: " + HexBytes(result.reply.frame)
                     : std::to_string(result.reply.bytesSeen) + " bytes, no valid reply");
            result.status = result.reply.kind == InformationOutcome::Kind::Reply     ? kExitOk
                            : result.reply.kind == InformationOutcome::Kind::NotSent ? kExitNotSent
                                                                                     : kExitNoReply;
            break;
        case Step::Kind::Continue:
            break;  // RunSteps expands it
    }
    result.baud = port.Baud();
    return result;
}

}  // namespace vyx::cli
