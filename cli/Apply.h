#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Profile.h"
#include "cli/Session.h"

namespace vyx::cli {

// The frame that sets one list's value ("command-set", "font-set", "language", "baud"),
// and the position of the reply that value comes back at; `set` builds with them too.
std::vector<std::uint8_t> SettingFrame(std::string_view list, int index);
std::size_t ReplyPosition(std::string_view list);

// The steps that send settings ((list, index) pairs) in one opening, in the order
// given: each setting's frame, and when `verify` the switch to the new rate after the
// baud-rate frame and one query at the end that reads every value back.
std::vector<Step> SettingSteps(std::span<const std::pair<std::string, int>> settings, bool verify,
                               std::chrono::microseconds timeout);

// How `apply` goes about one port.
struct ApplyOptions {
    bool check = false;      // change nothing: compare only
    bool probe = false;      // find the rate the display listens at first
    bool baudGiven = false;  // with probe: the rate given is tried first
    // The wait for the first reply (without probe) and for the verifying one.
    std::chrono::microseconds timeout{2'000'000};
    bool timeoutGiven = false;  // with probe: else the wait follows from each rate
    SessionOptions session;
};

// One value that is (or was) not as the profile says.
struct Difference {
    std::string list;  // "command-set", "font-set", "language" or "baud"
    std::uint8_t from = 0;
    std::uint8_t to = 0;
};

// What came of applying (or checking) a profile on one port. Nothing of it has been
// printed; ApplySummaryText and ApplyJson say it.
struct ApplyResult {
    std::string port;  // as given
    bool check = false;
    int status = 0;          // the exit status of this port
    std::string error;       // empty on success
    bool errorTold = false;  // the port told it on standard error already
    bool changed = false;    // a setting frame went out
    bool textWritten = false;
    std::uint32_t rate = 0;  // the rate the display answered at first (0: it did not)
    // The reply before anything was sent, and the one that verified the changes (the
    // same reply when nothing changed); nullopt when there was none.
    std::optional<protocol::InformationFrame> before;
    std::optional<protocol::InformationFrame> after;
    std::vector<Difference> differences;  // before against the profile
};

// Asks the display for its information, then sends only the settings that differ from
// the profile (command set, font set, language, the baud rate last, reopening at the
// new rate), verifies them all with one more query and writes the profile's lines;
// with `check`, stops after the first query. One opening where it can (a rate change
// reopens). Prints nothing on standard output; failures of the port are told on
// standard error as every command tells them, and kept in the result.
ApplyResult ApplyProfile(const std::string& port, std::uint32_t baud, const Profile& profile,
                         const ApplyOptions& options);

// One line per difference ("language: 0x00 (US) USA -> 0x03 (UK) England."), "no
// change" (or for a check "matches the profile") when there is none; empty for a port
// that failed before its display answered.
std::string ApplySummaryText(const ApplyResult& result);

// One JSON object on one line: port, changed, before, after, differences, status,
// error (and check, text_written).
std::string ApplyJson(const ApplyResult& result);

// Why a query step brought no reply, as `info` tells it: "PORT: no valid reply within
// 2 s at 9600 bps (nothing arrived)".
std::string NoReplyText(const SessionResult& session, const StepResult& step,
                        std::chrono::microseconds timeout);

// A result for a port that was never reached (a profile that could not be read).
ApplyResult ApplyFailure(const std::string& port, bool check, int status, const std::string& error);

}  // namespace vyx::cli
