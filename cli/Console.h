#pragma once

#include <ostream>

namespace vyx::cli {

// Where a command's text goes. By default standard output and standard error; on the
// thread of one port of a run on several ports, that port's own buffers, so that its
// lines can be written whole once it ends. Every line vyxctl prints goes through these.
std::ostream& Out();
std::ostream& Err();

// While it lives, Out() and Err() on the constructing thread (and only there) are `out`
// and `err`. Streams are per thread, so nothing here is shared between threads.
class ConsoleCapture {
  public:
    ConsoleCapture(std::ostream& out, std::ostream& err);
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  private:
    std::ostream* m_PreviousOut;
    std::ostream* m_PreviousErr;
};

}  // namespace vyx::cli
