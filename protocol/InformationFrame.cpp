#include "protocol/InformationFrame.h"

#include <algorithm>

#include "protocol/Frame.h"

namespace vyx::protocol {

bool IsInformationFrame(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kInformationFrameLength) {
        return false;
    }
    // The block check spans LEN through ETX: LEN + 2 bytes.
    constexpr auto kChecked = static_cast<std::int16_t>(kInformationLen + 2);
    return bytes[0] == STX && bytes[1] == kInformationLen && bytes[2] == CMD_INFORMATION &&
           bytes[kPosInformationEtx] == ETX &&
           bytes[kInformationFrameLength - 1] ==
               static_cast<std::uint8_t>(BCC(&bytes[1], kChecked) & 0xFF);
}

std::optional<InformationFrame> InformationScanner::Feed(std::span<const std::uint8_t> bytes) {
    m_Seen += bytes.size();
    m_Pending.insert(m_Pending.end(), bytes.begin(), bytes.end());
    return m_Found ? m_Found : Scan();
}

std::optional<InformationFrame> InformationScanner::Next() {
    m_Found.reset();
    return Scan();
}

std::optional<InformationFrame> InformationScanner::Scan() {
    std::size_t start = 0;
    for (;;) {
        const auto stx =
            std::find(m_Pending.begin() + static_cast<std::ptrdiff_t>(start), m_Pending.end(), STX);
        start = static_cast<std::size_t>(stx - m_Pending.begin());
        if (m_Pending.size() - start < kInformationFrameLength) {
            break;  // no STX left, or a candidate still incomplete: keep it for later
        }
        const std::span<const std::uint8_t> candidate(&m_Pending[start], kInformationFrameLength);
        if (IsInformationFrame(candidate)) {
            InformationFrame frame{};
            std::copy(candidate.begin(), candidate.end(), frame.begin());
            m_Found = frame;
            start += kInformationFrameLength;
            break;
        }
        ++start;  // not a frame: the next STX may begin one, even inside this candidate
    }
    m_Pending.erase(m_Pending.begin(), m_Pending.begin() + static_cast<std::ptrdiff_t>(start));
    return m_Found;
}

}  // namespace vyx::protocol
