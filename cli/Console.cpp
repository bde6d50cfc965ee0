#include "cli/Console.h"

#include <iostream>

namespace vyx::cli {

namespace {

// Per thread: a port's thread writes to its own buffers, every other thread to the
// process's streams.
thread_local std::ostream* t_Out = nullptr;
thread_local std::ostream* t_Err = nullptr;

}  // namespace

std::ostream& Out() {
    return t_Out != nullptr ? *t_Out : std::cout;
}

std::ostream& Err() {
    return t_Err != nullptr ? *t_Err : std::cerr;
}

ConsoleCapture::ConsoleCapture(std::ostream& out, std::ostream& err)
    : m_PreviousOut(t_Out), m_PreviousErr(t_Err) {
    t_Out = &out;
    t_Err = &err;
}

ConsoleCapture::~ConsoleCapture() {
    t_Out = m_PreviousOut;
    t_Err = m_PreviousErr;
}

}  // namespace vyx::cli
