#include "cli/Session.h"

#include <thread>

#include "cli/ExitStatus.h"

namespace vyx::cli {

namespace {

// A display needs a moment to switch its rate after the baud-rate frame.
constexpr std::chrono::milliseconds kRateSwitchGrace{50};
constexpr std::size_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

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

int SessionResult::Status() const {
    if (openStatus != kExitOk) {
        return openStatus;
    }
    return steps.empty() ? kExitOk : steps.back().status;
}

Session::Session(std::string portName, std::uint32_t baud)
    : m_PortName(std::move(portName)), m_Baud(baud) {}

SessionResult Session::Run(std::span<const Step> steps) {
    DisplayPort port;
    SessionResult result;
    result.openStatus = port.Open(m_PortName, m_Baud) == 1 ? kExitOk : kExitPortNotOpened;
    result.description = port.Describe();
    if (result.openStatus != kExitOk) {
        return result;
    }
    for (const Step& step : steps) {
        result.steps.push_back(RunStep(port, step, result.steps));
        if (result.steps.back().status != kExitOk) {
            break;
        }
    }
    return result;
}

StepResult Session::RunStep(DisplayPort& port, const Step& step, std::span<const StepResult> done) {
    StepResult result;
    switch (step.kind) {
        case Step::Kind::Send:
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
            break;
        }
        case Step::Kind::SendBuilt:
            result.status = port.Send(step.build(done)) ? kExitOk : kExitNotSent;
            break;
        case Step::Kind::Query:
            result.reply = port.QueryInformation(step.timeout, step.baudCode);
            result.status = result.reply.kind == InformationOutcome::Kind::Reply     ? kExitOk
                            : result.reply.kind == InformationOutcome::Kind::NotSent ? kExitNotSent
                                                                                     : kExitNoReply;
            break;
    }
    result.baud = port.Baud();
    return result;
}

}  // namespace vyx::cli
