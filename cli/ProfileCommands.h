#pragma once

#include <string>

#include "cli/Options.h"

namespace vyx::cli {

// vyxctl apply [--check] PROFILE: the result of ApplyProfile, printed; the exit status.
int RunApply(const Invocation& invocation);

// vyxctl profile save FILE: the display's information written as a profile.
int RunProfileSave(const Invocation& invocation);

// Writes `text` to `path` through a temporary file in the same folder renamed over it,
// so a failure leaves an existing file as it was. False, with `error` set, on failure.
bool ReplaceFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace vyx::cli
