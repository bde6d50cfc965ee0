#pragma once

#include <string>

namespace vyx::cli {

// Takes the character set of the environment's locale (LANG, LC_ALL, LC_CTYPE).
void UseEnvironmentLocale();

// A command-line argument in the locale's character set, as UTF-8. Arguments of a UTF-8
// or plain C locale pass unchanged; text that cannot be converted passes unchanged too.
std::string ArgumentToUtf8(const std::string& text);

}  // namespace vyx::cli
