#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace vyx::sim {

// Character framing of the host's side of the line. The display speaks 8N1 only.
struct Framing {
    std::uint8_t dataBits = 8;
    bool parity = false;
    std::uint8_t stopBits = 1;
    bool operator==(const Framing&) const = default;
};

// How the host's side of the line is set, as far as the caller can tell.
struct LineSettings {
    std::uint32_t rate = 0;  // bits per second; 0: unknown, taken as matching
    Framing framing;
    bool operator==(const LineSettings&) const = default;
};

// What the simulator did with the bytes of one Feed() call, for logs and tests.
enum class EventKind {
    Frame,       // a well-formed frame that was understood and carried out
    Unknown,     // a well-formed frame with an unknown command or the wrong data length
    Rejected,    // LEN + 4 bytes dropped because ETX or the block check was wrong, or
                 // the start of a frame that line noise cut short
    Characters,  // bytes outside any frame, written at the cursor
    Noise,       // bytes that arrived at a line speed other than the listening rate, or
                 // framed otherwise than 8N1
    Ignored,     // bytes that arrived while in download mode
};

struct Event {
    EventKind kind = EventKind::Characters;
    std::uint8_t command = 0;         // Frame, Unknown: the CMD byte
    std::vector<std::uint8_t> bytes;  // Frame, Unknown: the data; Rejected: its bytes;
                                      // Characters, Noise, Ignored: the bytes received
    std::uint32_t lineRate = 0;       // Noise: the line speed the bytes came at
    Framing framing;                  // Noise: the framing they came with
};

struct Counters {
    std::uint64_t framesAccepted = 0;  // understood and carried out
    std::uint64_t framesUnknown = 0;   // well-formed but not understood
    std::uint64_t framesRejected = 0;  // bad ETX or block check, cut short by noise or a pause
    std::uint64_t characters = 0;      // bytes written at the cursor from outside frames
    std::uint64_t noiseBytes = 0;      // bytes received at the wrong line speed
    std::uint64_t ignoredBytes = 0;    // bytes received in download mode
    std::uint64_t replies = 0;         // information replies produced
};

// A customer display of two lines of 20 characters that speaks the frame protocol.
// Pure state machine: no I/O, no threads, and time only from the source its owner
// gives. The caller passes every chunk of bytes read from the line together with how
// the host has set its side, and sends back whatever Feed() returns. Not thread-safe;
// one owner drives it.
class DisplaySim {
  public:
    // Monotonic time since any fixed point. Without one, pauses on the line go unseen.
    using TimeSource = std::function<std::chrono::nanoseconds()>;

    static constexpr std::size_t kLineLength = 20;
    static constexpr std::size_t kCellCount = 2 * kLineLength;
    static constexpr std::size_t kVersionLength = 12;
    static constexpr std::size_t kReplyLength = 22;
    static constexpr std::uint8_t kMinLen = 1;   // a frame's LEN is 1 ...
    static constexpr std::uint8_t kMaxLen = 41;  // ... to 41; any other value is no frame
    // A frame cut short by a pause longer than this many character times is dropped.
    static constexpr unsigned kFramePauseCharacters = 20;

    // `listenRate` must be one of the rates of the baud-rate list (9600 ... 115200);
    // another value is taken as 9600. `firmwareVersion` is cut to 12 bytes.
    // `clock` times the bytes of each Feed() call (all of one call arrive together).
    explicit DisplaySim(std::uint32_t listenRate = 9600, std::string_view firmwareVersion = "V1.0",
                        TimeSource clock = {});

    // Takes bytes as they came off the line, in any chunking. `line` is how the host's
    // side is set. Bytes that arrive at a speed other than the listening rate, or framed
    // otherwise than 8N1, are noise. Returns the bytes the display sends back (empty for
    // most input). When `events` is given, what happened is appended to it.
    std::vector<std::uint8_t> Feed(std::span<const std::uint8_t> bytes, const LineSettings& line,
                                   std::vector<Event>* events = nullptr);
    // The same for a host whose framing is 8N1; `lineRate` 0 means unknown.
    std::vector<std::uint8_t> Feed(std::span<const std::uint8_t> bytes, std::uint32_t lineRate,
                                   std::vector<Event>* events = nullptr) {
        return Feed(bytes, LineSettings{lineRate, {}}, events);
    }

    // True when bytes pass between the display and a host set as `line`: same speed as
    // the listening rate (or unknown) and 8N1 framing. Holds in both directions.
    bool InStep(const LineSettings& line) const;
    // What the host receives of bytes the display sends while the two are out of step:
    // garbage of the same length, never a frame's start or end byte.
    static void Garble(std::span<std::uint8_t> bytes);

    // The 40 character cells, line 1 then line 2, as raw bytes of the display's code page.
    const std::array<std::uint8_t, kCellCount>& Cells() const { return m_Cells; }
    std::span<const std::uint8_t, kLineLength> Line(int line) const;  // line 0 or 1
    std::size_t Cursor() const { return m_Cursor; }                   // 0 to 39

    std::uint8_t CommandSet() const { return m_CommandSet; }
    std::uint8_t DefaultFont() const { return m_DefaultFont; }
    std::uint8_t Language() const { return m_Language; }
    std::uint8_t BaudRateIndex() const { return m_BaudRateIndex; }
    std::uint32_t ListenRate() const { return m_ListenRate; }
    bool DownloadMode() const { return m_DownloadMode; }
    const Counters& counters() const { return m_Counters; }
    const std::array<std::uint8_t, kVersionLength>& Version() const { return m_Version; }

    // The information reply for the current settings (22 bytes).
    std::array<std::uint8_t, kReplyLength> InformationReply() const;

  private:
    void Take(std::uint8_t byte, const LineSettings& line, std::vector<std::uint8_t>& reply,
              std::vector<Event>* events);
    std::chrono::nanoseconds FramePause() const;
    void TakeInFrame(std::uint8_t byte, std::vector<std::uint8_t>& reply,
                     std::vector<Event>* events);
    void EndFrame(std::vector<std::uint8_t>& reply, std::vector<Event>* events);
    bool Execute(std::uint8_t cmd, std::span<const std::uint8_t> data,
                 std::vector<std::uint8_t>& reply);
    void DropPartialFrame(std::vector<Event>* events);
    void PutCharacter(std::uint8_t byte);
    static void Note(std::vector<Event>* events, EventKind kind, std::uint8_t byte,
                     const LineSettings& line);

    std::array<std::uint8_t, kCellCount> m_Cells{};
    std::size_t m_Cursor = 0;
    std::array<std::uint8_t, kVersionLength> m_Version{};
    std::uint8_t m_CommandSet = 0;
    std::uint8_t m_DefaultFont = 0;
    std::uint8_t m_Language = 0;
    std::uint8_t m_BaudRateIndex = 0;
    std::uint32_t m_ListenRate = 9600;
    bool m_DownloadMode = false;
    Counters m_Counters;

    // Frame being received: STX, LEN, CMD, DATA, ETX, BCC; m_Frame holds what came so far.
    std::array<std::uint8_t, kMaxLen + 4> m_Frame{};
    std::size_t m_FrameFill = 0;     // 0: outside any frame
    std::uint32_t m_NoiseCount = 0;  // drives which noise bytes leave a garbage character
    TimeSource m_Clock;
    std::chrono::nanoseconds m_LastByteAt{};  // when the previous chunk arrived
};

}  // namespace vyx::sim
