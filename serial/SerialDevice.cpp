#include "serial/SerialDevice.h"

#include <cstdio>
#include <system_error>

namespace vyx {

void PrintDiagnostic(const std::string& call, const std::string& path, const std::string& reason) {
    // Built first and written with one call, so lines from two threads never mix.
    const std::string line = call + " " + path + ": " + reason + "\n";
    std::fputs(line.c_str(), stderr);
}

void PrintErrno(const std::string& call, const std::string& path, int err) {
    PrintDiagnostic(call, path, std::system_category().message(err));
}

}  // namespace vyx
