#pragma once

#include <windows.h>

#include <string>

namespace vyx::protocol {

// The system's text for a GetLastError() code, without its closing period and line
// break, followed by " (error N)".
std::string SystemMessage(DWORD code);

}  // namespace vyx::protocol
