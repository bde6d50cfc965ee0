#include "serial/SerialError.h"

#include <cstdio>

namespace vyx {

std::string SerialError::Line() const {
    return call + " " + path + ": " + message;
}

void PrintToStderr(const SerialError& error) {
    // Built first and written with one call, so lines from two threads never mix.
    const std::string line = error.Line() + "\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace vyx
