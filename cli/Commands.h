#pragma once

#include "cli/Options.h"

namespace vyx::cli {

// Runs the command of a validated invocation and returns the exit status. Each command
// opens the port itself (probe and baud --verify reopen it at other rates) and closes
// it before returning; the line settings are left as they were set.
int RunCommand(const Invocation& invocation);

}  // namespace vyx::cli
