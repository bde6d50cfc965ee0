#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "cli/Options.h"

namespace vyx::cli {

// A command run on one port: what RunCommand does for a single port.
using PortCommand = std::function<int(const Invocation&)>;

// The text one port's run printed, as it is written among the others': every line
// prefixed "PORT: " (the port as it was named). With `json`, a line that is one JSON
// object gets a "port" key in front instead, unless it has one already. A last line
// without its newline gets one.
std::string LabelPortLines(const std::string& port, std::string_view text, bool json);

// Runs `command` on every port of `invocation.ports` at once, one thread per port, each
// with a copy of the invocation whose `port` is that port. A port's standard output and
// error are collected while it runs (Out() and Err() on its thread) and written whole,
// labelled, to the caller's Out() and Err() when that port ends: blocks come in the
// order the ports finish, so a slow or missing display holds back no other's result.
// A port that fails stops no other. Returns the worst status (WorseExitStatus).
int RunOnEveryPort(const Invocation& invocation, const PortCommand& command);

}  // namespace vyx::cli
