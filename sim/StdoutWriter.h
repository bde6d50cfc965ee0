#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace vyx::sim {

// Standard output written without ever waiting for it: the display must go on answering
// while a pipe that nobody reads, or a terminal paused with Ctrl-S, holds its output.
// Bytes that cannot go out at once wait in a bounded queue; Flush() sends more of them
// whenever the caller's poll finds Fd() writable. Single-threaded, like its owner.
class StdoutWriter {
  public:
    // Queues at most this many bytes; a Write() that would go beyond is refused whole.
    static constexpr std::size_t kMaxQueued = std::size_t{64} * 1024;

    StdoutWriter();
    ~StdoutWriter();
    StdoutWriter(const StdoutWriter&) = delete;
    StdoutWriter& operator=(const StdoutWriter&) = delete;

    // Queues `text` whole and sends what the output takes now. Returns 1, or 0 when it
    // did not fit in the queue (nothing of it is queued).
    int Write(std::string_view text);
    // Sends what the output takes now.
    void Flush();
    // Sends what the output takes within `limit`, for the last words before exit: a slow
    // reader still gets them, a blocked output costs no more than `limit`.
    void Drain(std::chrono::milliseconds limit);
    // True when nothing waits to be sent.
    bool Idle() const { return m_Queue.empty(); }
    // The descriptor to poll for POLLOUT while !Idle().
    int Fd() const { return m_Fd; }

  private:
    int m_Fd = 1;
    bool m_Own = false;     // m_Fd is a private non-blocking reopening of standard output
    bool m_Broken = false;  // the reader is gone for good: everything is dropped
    std::string m_Queue;
};

}  // namespace vyx::sim
