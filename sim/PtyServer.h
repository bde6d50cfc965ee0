#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sim/DisplaySim.h"
#include "sim/Options.h"
#include "sim/StdoutWriter.h"

namespace vyx::sim {

// Serves a DisplaySim on a pseudo-terminal: the host opens the slave (directly or
// through the links), the server reads and writes the master.
//
// - It keeps a slave descriptor of its own open for its whole life, so the master never
//   sees the hang-up (EIO, POLLHUP) that Linux reports while no slave is open: the host
//   may close and reopen the line as often as it likes.
// - The host's line speed is read with tcgetattr on the master (a pty master reports
//   the slave's termios) each time bytes are read, and handed to the state machine.
// - The host opening and closing the line is seen through inotify (IN_OPEN, IN_CLOSE_*)
//   on the slave's device node; the master runs in packet mode (TIOCPKT), so the host's
//   tcflush of its input shows up as well. --flood starts at that flush, or 200 ms after
//   the opening when the host does not flush, so that an open-then-purge host keeps it.
// - When the host's last descriptor closes, whatever the display had not yet sent is
//   dropped: a real display talks to a wire, not to the next program that opens it.
// - Each byte goes out judged against the host's line as it is set at that moment: a
//   host whose speed or framing differs from the display's receives garbage.
// - Standard output never holds the loop up (StdoutWriter): drawings and log lines that
//   cannot go out are coalesced or dropped, and the drops are counted.
// - SIGINT, SIGTERM and SIGHUP arrive through a signalfd and end Run() cleanly; the
//   destructor removes the links, or puts back those that --replace took over.
// Single-threaded: everything happens in Run()'s poll loop.
class PtyServer {
  public:
    explicit PtyServer(const Options& options);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Checks that the link paths are free, or may be taken over. Returns 1, or 0 with
    // `error` naming the path, what holds it and how to proceed (a usage error).
    int CheckLinks(std::string& error);
    // Creates the pseudo-terminal, the links and the event sources. Returns 1, or 0 with
    // `error` naming the call that failed and why.
    int Open(std::string& error);
    // Serves until a signal arrives; returns the process exit status.
    int Run();

    const std::string& SlavePath() const { return m_SlavePath; }

  private:
    using Clock = std::chrono::steady_clock;

    // Bytes on their way out; byte i of a segment is due at start + i * perByte.
    struct Segment {
        std::vector<std::uint8_t> bytes;
        std::size_t sent = 0;
        Clock::time_point start;
        Clock::duration perByte{};
        bool garbled = false;  // some of it went out while the host was out of step
    };

    // A link we made; `oldTarget` is the link it replaced under --replace ("" for none).
    struct Link {
        std::string path;
        std::string oldTarget;
    };

    std::vector<std::string> LinkPaths() const;
    int MakeLink(const std::string& path, std::string& error);
    void RemoveLinks();
    void OnMasterReadable(Clock::time_point now);
    void OnHostEvents(Clock::time_point now);
    void OnHostGone(bool reopened, Clock::time_point now);
    void StartFlood(Clock::time_point now);
    void ScheduleReply(std::vector<std::uint8_t> reply, Clock::time_point readAt);
    void Schedule(std::vector<std::uint8_t> bytes, Clock::time_point start);
    bool WriteDue(Clock::time_point now);  // false when the pty is full
    int PollTimeoutMs(Clock::time_point now, bool blocked) const;
    LineSettings HostLine() const;
    Clock::duration ByteTime() const;
    void Log(const std::string& line);
    void Draw();
    void FlushOutput();

    Options m_Options;
    DisplaySim m_Sim;
    int m_Master = -1;
    int m_SlaveHold = -1;
    int m_Signals = -1;
    int m_Inotify = -1;
    std::string m_SlavePath;
    std::vector<Link> m_Links;
    std::deque<Segment> m_Out;
    int m_HostOpens = 0;  // host descriptors open on the slave, as far as inotify tells
    // The host's side of the line at the last read of its bytes (none read yet: empty).
    std::optional<LineSettings> m_EarlierHost;
    bool m_FloodArmed = false;
    bool m_FloodDone = false;
    bool m_OwnFlush = false;  // the next flush packet is of our own making
    Clock::time_point m_FloodDeadline;
    bool m_Stop = false;
    StdoutWriter m_Output;
    std::uint64_t m_DroppedDraws = 0;  // drawings skipped while standard output was blocked
    bool m_DrawPending = false;        // one of them is still to be made
    std::uint64_t m_DroppedLines = 0;  // log lines dropped and not yet reported
};

}  // namespace vyx::sim
