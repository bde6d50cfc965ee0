#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vyx::protocol {

// The information reply as a well-formed frame: STX, LEN 0x12, 'D', 17 data bytes (the
// fields Report.h names, then one byte more), ETX at position 20, BCC at 21.
constexpr std::size_t kInformationFrameLength = 22;
constexpr std::uint8_t kInformationLen = 0x12;
constexpr std::size_t kPosInformationEtx = 20;
using InformationFrame = std::array<std::uint8_t, kInformationFrameLength>;

// True when the first 22 bytes of `bytes` are a well-formed information frame, block
// check included. Fewer than 22 bytes are never one.
bool IsInformationFrame(std::span<const std::uint8_t> bytes);

// Finds the first well-formed information frame in a stream fed in arbitrary pieces.
// Bytes before an STX (the tail of an earlier reply, line noise) are skipped, and so is
// a frame whose check fails: the search goes on at the byte after its STX.
class InformationScanner {
  public:
    // Adds received bytes; returns the first valid frame once it is complete. While a
    // frame is found and not passed over with Next(), it is returned again and later
    // bytes are kept behind it.
    std::optional<InformationFrame> Feed(std::span<const std::uint8_t> bytes);
    // Passes over the frame found (a caller that wants another one) and scans on from
    // the byte after it; returns the next valid frame among the bytes kept, if any.
    std::optional<InformationFrame> Next();

    // Number of bytes fed so far, for telling what arrived when nothing was valid.
    std::size_t BytesSeen() const { return m_Seen; }

  private:
    std::optional<InformationFrame> Scan();

    // Bytes from the earliest STX that may still begin a valid frame (fewer than 22),
    // or, while a frame is found, the bytes after it.
    std::vector<std::uint8_t> m_Pending;
    std::size_t m_Seen = 0;
    std::optional<InformationFrame> m_Found;
};

}  // namespace vyx::protocol
