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
        Continue,    // run the steps `plan` makes of the results so far, in the same
                     // opening (it adds no result of its own)
    };
    Kind kind = Kind::Send;
    std::vector<std::uint8_t> bytes;       // Send; SwitchRate: the frame just sent
    std::uint32_t rate = 0;                // SwitchRate
    std::chrono::microseconds timeout{0};  // Query
    std::optional<std::uint8_t> baudCode;  // Query: pass over replies naming another rate
    std::function<std::vector<std::uint8_t>(std::span<const StepResult>)> build;  // SendBuilt
    std::function<std::vector<Step>(std::span<const StepResult>)> plan;           // Continue

    static Step Send(std::span<const std::uint8_t> frame);
    static Step SwitchRate(std::span<const std::uint8_t> frame, std::uint32_t rate);
    static Step Query(std::chrono::microseconds timeout,
                      std::optional<std::uint8_t> baudCode = std::nullopt);
    static Step SendBuilt(
        std::function<std::vector<std::uint8_t>(std::span<const StepResult>)> build);
    static Step Continue(std::function<std::vector<Step>(std::span<const StepResult>)> plan);
};

// How a session goes about its steps.
struct SessionOptions {
    bool dryRun = false;   // open nothing: print each frame (hex and meaning) on stdout
    bool verbose = false;  // tell the opening and each step on standard error
    bool trace = false;    // dump every byte sent and received on standard error
};

// What one session did: the opening's status, then one result per step run. Steps stop
// at the first that fails, so only the last result can be a failure.
struct SessionResult {
    int openStatus = 0;
    std::string description;  // the port, for messages ("COM4 (/dev/ttyS3)")
    std::string failure;      // what the port told of a failed opening or sending, or empty
    std::vector<StepResult> steps;
    bool dryRun = false;  // nothing was opened or sent: no step result holds a reply

    // The first failing status (the opening's included), or kExitOk.
    int Status() const;
};

// Opens the port once, runs a list of steps on it in order and closes it. Failures of
// the opening and of sending are told on standard error as they happen (one line
// naming the port); what a query brought is left to the caller to report.
class Session {
  public:
    Session(std::string portName, std::uint32_t baud, SessionOptions options = {});
    SessionResult Run(std::span<const Step> steps);

  private:
    SessionResult DryRun(std::span<const Step> steps);
    void DryRunSteps(std::span<const Step> steps, std::uint32_t& baud, SessionResult& result);
    bool RunSteps(DisplayPort& port, std::span<const Step> steps, SessionResult& result);
    void Tell(const std::string& line) const;
    StepResult RunStep(DisplayPort& port, const Step& step, std::span<const StepResult> done);

    std::string m_PortName;
    std::uint32_t m_Baud;
    SessionOptions m_Options;
};

}  // namespace vyx::cli
