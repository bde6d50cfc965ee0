#pragma once

#include <string>

namespace vyx::cli {

// Holds back what the process writes on standard error between construction and
// Release(), so that a failed opening is told in vyxctl's own single line instead of
// the serial library's diagnostic followed by ours. Use only while no other thread of
// this process writes on standard error.
class StderrCapture {
  public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Restores standard error and returns what was written meanwhile.
    std::string Release();

  private:
    int m_SavedStderr = -1;
    int m_Capture = -1;
};

}  // namespace vyx::cli
