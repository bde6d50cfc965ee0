#include "cli/Apply.h"

#include <array>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "cli/ExitStatus.h"
#include "cli/Formatting.h"
#include "cli/ListArgument.h"
#include "cli/Output.h"
#include "cli/ProbeRates.h"
#include "protocol/Report.h"
#include "resources/Lists.h"

namespace vyx::cli {

namespace {

using Json = nlohmann::ordered_json;
using TxBuffer = std::array<std::uint8_t, protocol::kMainTxBufferSize>;

// The lists in the order their frames go out: the baud rate last, so that the others
// reach the display at the rate it listens at now.
constexpr std::array<std::string_view, 4> kOrder = {"command-set", "font-set", "language", "baud"};

// The values of `reply` that are not as the profile says; every value when there is no
// reply to compare with (a dry run).
std::vector<Difference> DifferencesOf(const protocol::InformationFrame* reply,
                                      const Profile& profile) {
    std::vector<Difference> differences;
    for (const std::string_view list : kOrder) {
        const std::uint8_t wanted = CodeOf(*FindList(list), profile.IndexOf(list));
        const std::uint8_t now = reply != nullptr ? (*reply)[ReplyPosition(list)] : wanted;
        if (reply == nullptr || now != wanted) {
            differences.push_back({std::string(list), now, wanted});
        }
    }
    return differences;
}

// What was planned once the first reply was in: the differences, and where the
// verifying query's result lands among the session's step results.
struct Plan {
    std::vector<Difference> differences;
    std::optional<std::size_t> verifyStep;
    bool text = false;
};

std::vector<Step> PlanSteps(std::span<const StepResult> done, const Profile& profile,
                            std::chrono::microseconds timeout, Plan& plan) {
    const bool answered =
        !done.empty() && done.front().reply.kind == InformationOutcome::Kind::Reply;
    plan.differences = DifferencesOf(answered ? &done.front().reply.frame : nullptr, profile);
    std::vector<std::pair<std::string, int>> settings;
    for (const Difference& difference : plan.differences) {
        settings.emplace_back(difference.list, profile.IndexOf(difference.list));
    }
    std::vector<Step> steps;
    if (!settings.empty()) {
        steps = SettingSteps(settings, true, timeout);
        plan.verifyStep = done.size() + steps.size() - 1;  // the query, last
    }
    // The lines cannot be read back, so there is no telling whether they differ: they
    // are written on every run (the same bytes again change nothing), and "changed"
    // speaks of the settings only.
    if (profile.lines) {
        TxBuffer frame{};
        const std::size_t length =
            protocol::BuildTextFrame(frame, (*profile.lines)[0], (*profile.lines)[1]);
        steps.push_back(Step::Send(std::span(frame).first(length)));
        plan.text = true;
    }
    return steps;
}

std::string Seconds(std::chrono::microseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(duration.count()) / 1e6);
    return text;
}

}  // namespace

std::size_t ReplyPosition(std::string_view list) {
    return list == "baud"          ? protocol::kPosBaudRate
           : list == "command-set" ? protocol::kPosCommandSet
           : list == "font-set"    ? protocol::kPosDefaultFont
                                   : protocol::kPosLanguage;
}

std::vector<std::uint8_t> SettingFrame(std::string_view list, int index) {
    TxBuffer frame{};
    const std::size_t length = list == "baud" ? protocol::BuildBaudRateFrame(frame, index)
                               : list == "command-set"
                                   ? protocol::BuildCommandSetFrame(frame, index)
                               : list == "font-set" ? protocol::BuildDefaultFontFrame(frame, index)
                                                    : protocol::BuildLanguageFrame(frame, index);
    return {frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length)};
}

std::vector<Step> SettingSteps(std::span<const std::pair<std::string, int>> settings, bool verify,
                               std::chrono::microseconds timeout) {
    std::vector<Step> steps;
    for (const auto& [list, index] : settings) {
        const std::vector<std::uint8_t> frame = SettingFrame(list, index);
        steps.push_back(Step::Send(frame));
        if (verify && list == "baud") {
            steps.push_back(
                Step::SwitchRate(frame, resources::kBaudRates[static_cast<std::size_t>(index)]));
        }
    }
    if (verify) {
        steps.push_back(Step::Query(timeout));
    }
    return steps;
}

std::string NoReplyText(const SessionResult& session, const StepResult& step,
                        std::chrono::microseconds timeout) {
    const std::size_t bytes = step.reply.bytesSeen;
    const std::string arrived =
        bytes == 0 ? "nothing arrived" : std::to_string(bytes) + " bytes, no valid frame";
    if (step.reply.kind == InformationOutcome::Kind::DeviceLost) {
        return session.description + ": device lost while waiting for the reply (" + arrived + ")";
    }
    return session.description + ": no valid reply within " + Seconds(timeout) + " at " +
           std::to_string(step.baud) + " bps (" + arrived + ")";
}

namespace {

std::string Coded(std::string_view list, std::uint8_t code) {
    const ListInfo& info = *FindList(list);
    return "0x" + HexBytes(std::span(&code, 1)) + " " + EntryLabel(info, code);
}

// The values of the verifying reply that are not as the profile says, as a message.
std::string VerifyProblem(const protocol::InformationFrame& reply, const Profile& profile) {
    std::string problem;
    for (const std::string_view list : kOrder) {
        const std::uint8_t wanted = CodeOf(*FindList(list), profile.IndexOf(list));
        const std::uint8_t reported = reply[ReplyPosition(list)];
        if (reported != wanted) {
            problem += (problem.empty() ? "" : "; ") + std::string(FindList(list)->what) + " " +
                       Coded(list, reported) + ", not " + Coded(list, wanted);
        }
    }
    return problem;
}

// The rates to try: without --probe only the one given; with it the one given (when it
// was), the profile's probe-first rate, the profile's own rate (a display set up
// before listens there), then the rest.
std::vector<std::uint32_t> RatesToTry(std::uint32_t baud, const Profile& profile,
                                      const ApplyOptions& options) {
    if (!options.probe) {
        return {baud};
    }
    std::vector<std::uint32_t> first;
    if (options.baudGiven) {
        first.push_back(baud);
    }
    if (profile.probeFirst) {
        first.push_back(resources::kBaudRates[static_cast<std::size_t>(*profile.probeFirst)]);
    }
    first.push_back(resources::kBaudRates[static_cast<std::size_t>(profile.baud)]);
    return ProbeOrder(first);
}

// The first query brought nothing valid at this rate, and another rate may.
bool TryNextRate(const SessionResult& session) {
    return session.openStatus == kExitOk && session.steps.size() == 1 &&
           session.steps.front().status == kExitNoReply &&
           session.steps.front().reply.kind == InformationOutcome::Kind::NoValidFrame;
}

// Fills `result` from a session that reached the display's first reply.
void AfterFirstReply(const SessionResult& session, const Profile& profile, const Plan& plan,
                     const ApplyOptions& options, ApplyResult& result) {
    const protocol::InformationFrame& first = session.steps.front().reply.frame;
    result.before = first;
    result.rate = session.steps.front().baud;
    if (options.check) {
        result.differences = DifferencesOf(&first, profile);
        result.after = first;
        result.status = result.differences.empty() ? kExitOk : kExitVerifyMismatch;
        return;
    }
    result.differences = plan.differences;
    // A setting frame was at least begun once a step after the query ran.
    result.changed = !plan.differences.empty() && session.steps.size() > 1;
    if (session.Status() != kExitOk) {
        result.status = session.Status();
        const StepResult& last = session.steps.back();
        result.errorTold = !session.failure.empty();
        result.error =
            result.errorTold ? session.failure : NoReplyText(session, last, options.timeout);
        return;
    }
    result.textWritten = plan.text;
    if (!plan.verifyStep) {
        result.after = first;
        return;
    }
    result.after = session.steps[*plan.verifyStep].reply.frame;
    const std::string problem = VerifyProblem(*result.after, profile);
    if (!problem.empty()) {
        result.status = kExitVerifyMismatch;
        result.error = session.description + ": verify failed: the display reports " + problem;
    }
}

Json Information(const std::optional<protocol::InformationFrame>& reply) {
    return reply ? Json::parse(InformationJson(*reply)) : Json(nullptr);
}

Json EntryName(std::string_view list, std::uint8_t code) {
    const auto entry = resources::EntryAt(FindList(list)->entries, code);
    return entry ? Json(std::string(*entry)) : Json(nullptr);
}

}  // namespace

ApplyResult ApplyProfile(const std::string& port, std::uint32_t baud, const Profile& profile,
                         const ApplyOptions& options) {
    ApplyResult result;
    result.port = port;
    result.check = options.check;
    const std::vector<std::uint32_t> rates = RatesToTry(baud, profile, options);
    Plan plan;
    SessionResult session;
    std::chrono::microseconds wait = options.timeout;
    for (const std::uint32_t rate : rates) {
        wait = options.probe && !options.timeoutGiven ? ProbeWait(rate) : options.timeout;
        std::vector<Step> steps;
        // While probing, a late reply to a query at an earlier rate names that rate.
        steps.push_back(Step::Query(wait, options.probe ? std::optional(static_cast<std::uint8_t>(
                                                              resources::BaudRateIndex(rate)))
                                                        : std::nullopt));
        if (!options.check) {
            steps.push_back(Step::Continue([&profile, &plan, &options](auto done) {
                return PlanSteps(done, profile, options.timeout, plan);
            }));
        }
        session = Session(port, rate, options.session).Run(steps);
        if (session.dryRun || !TryNextRate(session)) {
            break;
        }
    }
    if (session.dryRun) {
        return result;
    }
    if (session.openStatus != kExitOk) {
        result.status = session.openStatus;
        result.error = session.failure;
        result.errorTold = true;
        return result;
    }
    const StepResult& first = session.steps.front();
    if (first.status != kExitOk) {
        result.status = first.status;
        result.errorTold = !session.failure.empty();
        if (result.errorTold) {
            result.error = session.failure;
        } else if (options.probe && first.reply.kind == InformationOutcome::Kind::NoValidFrame) {
            result.error = session.description + ": no reply at any rate from 9600 to 115200";
        } else {
            result.error = NoReplyText(session, first, wait);
        }
        return result;
    }
    AfterFirstReply(session, profile, plan, options, result);
    return result;
}

std::string ApplySummaryText(const ApplyResult& result) {
    if (!result.before) {
        return {};
    }
    std::string text;
    for (const Difference& difference : result.differences) {
        text += std::string(FindList(difference.list)->what) + ": " +
                Coded(difference.list, difference.from) + " -> " +
                Coded(difference.list, difference.to) + "\n";
    }
    if (result.differences.empty()) {
        text = result.check ? "matches the profile\n" : "no change\n";
    }
    if (result.textWritten) {
        text += "text lines written\n";
    }
    return text;
}

std::string ApplyJson(const ApplyResult& result) {
    Json json;
    json["port"] = result.port;
    json["check"] = result.check;
    json["changed"] = result.changed;
    json["before"] = Information(result.before);
    json["after"] = Information(result.after);
    Json differences = Json::array();
    for (const Difference& difference : result.differences) {
        differences.push_back({{"setting", difference.list},
                               {"from", difference.from},
                               {"from_name", EntryName(difference.list, difference.from)},
                               {"to", difference.to},
                               {"to_name", EntryName(difference.list, difference.to)}});
    }
    json["differences"] = differences;
    json["text_written"] = result.textWritten;
    json["rate"] = result.rate != 0 ? Json(result.rate) : Json(nullptr);
    json["status"] = result.status;
    json["error"] = result.error.empty() ? Json(nullptr) : Json(result.error);
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

ApplyResult ApplyFailure(const std::string& port, bool check, int status,
                         const std::string& error) {
    ApplyResult result;
    result.port = port;
    result.check = check;
    result.status = status;
    result.error = error;
    return result;
}

}  // namespace vyx::cli
