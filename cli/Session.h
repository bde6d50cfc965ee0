#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/DisplayPort.h"

namespace vyx::cli {

struct StepResult {
    int status = 0;            // an exit status: kExitOk, or why the step failed
    std::uint32_t baud = 0;    // the rate the port was at when the step ended
    InformationOutcome reply;  // Query
};

// One thing done on the display's port within an opening.
struct Step {
    enum class Kind {
        Send,        // write `bytes`
        SwitchRate,  // let `bytes` leave the wire, then reopen at `rate`
        Query,       // the information query, waiting up to `timeout`
        SendBuilt,   // write what `build` makes of the results of the steps before it
    };
    Kind kind = Kind::Send;
    std::vector<std::uint8_t> bytes;       // Send; SwitchRate: the frame just sent
    std::uint32_t rate = 0;                // SwitchRate
    std::chrono::microseconds timeout{0};  // Query
    std::optional<std::uint8_t> baudCode;  // Query: pass over replies naming another rate
    std::function<std::vector<std::uint8_t>(std::span<const StepResult>)> build;  // SendBuilt

    static Step Send(std::span<const std::uint8_t> frame);
    static Step SwitchRate(std::span<const std::uint8_t> frame, std::uint32_t rate);
    static Step Query(std::chrono::microseconds timeout,
                      std::optional<std::uint8_t> baudCode = std::nullopt);
    static Step SendBuilt(
        std::function<std::vector<std::uint8_t>(std::span<const StepResult>)> build);
};

// What one session did: the opening's status, then one result per step run. Steps stop
// at the first that fails, so only the last result can be a failure.
struct SessionResult {
    int openStatus = 0;
    std::string description;  // the port, for messages ("COM4 (/dev/ttyS3)")
    std::vector<StepResult> steps;

    // The first failing status (the opening's included), or kExitOk.
    int Status() const;
};

// Opens the port once, runs a list of steps on it in order and closes it. Failures of
// the opening and of sending are told on standard error as they happen (one line
// naming the port); what a query brought is left to the caller to report.
class Session {
  public:
    Session(std::string portName, std::uint32_t baud);
    SessionResult Run(std::span<const Step> steps);

  private:
    StepResult RunStep(DisplayPort& port, const Step& step, std::span<const StepResult> done);

    std::string m_PortName;
    std::uint32_t m_Baud;
};

}  // namespace vyx::cli
