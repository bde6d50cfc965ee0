#include "sim/DisplaySim.h"

#include <algorithm>
#include <utility>

#include "protocol/Frame.h"
#include "resources/Lists.h"

namespace vyx::sim {

namespace {

// A byte received at the wrong speed reaches the display as some other byte, and not
// every one of them is taken for a character at all: one in three leaves a mark.
constexpr std::uint32_t kNoiseStride = 3;

std::uint8_t GarbleByte(std::uint8_t byte) {
    // Mostly upper-half codes, so the marks look like the garbage they are.
    return static_cast<std::uint8_t>(0x80U | ((byte * 37U + 11U) & 0x7FU));
}

bool Coalesces(EventKind kind) {
    return kind == EventKind::Characters || kind == EventKind::Noise || kind == EventKind::Ignored;
}

}  // namespace

DisplaySim::DisplaySim(std::uint32_t listenRate, std::string_view firmwareVersion, TimeSource clock)
    : m_Clock(std::move(clock)) {
    m_Cells.fill(' ');
    const auto& rates = resources::kBaudRates;
    const auto* const it = std::find(rates.begin(), rates.end(), listenRate);
    m_BaudRateIndex = static_cast<std::uint8_t>(it == rates.end() ? 0 : it - rates.begin());
    m_ListenRate = resources::kBaudRates[m_BaudRateIndex];
    const std::size_t n = std::min(firmwareVersion.size(), kVersionLength);
    std::copy_n(firmwareVersion.begin(), n, m_Version.begin());
}

std::span<const std::uint8_t, DisplaySim::kLineLength> DisplaySim::Line(int line) const {
    const std::size_t first = line == 1 ? kLineLength : 0;
    return std::span<const std::uint8_t, kLineLength>(m_Cells.data() + first, kLineLength);
}

std::vector<std::uint8_t> DisplaySim::Feed(std::span<const std::uint8_t> bytes,
                                           const LineSettings& line, std::vector<Event>* events) {
    std::vector<std::uint8_t> reply;
    if (bytes.empty()) {
        return reply;
    }
    if (m_Clock) {
        // A sender that stopped in mid-frame has given up on it: whatever comes next
        // starts afresh, and is not read as the rest of the old frame.
        const auto now = m_Clock();
        if (m_FrameFill > 0 && now - m_LastByteAt > FramePause()) {
            DropPartialFrame(events);
        }
        m_LastByteAt = now;
    }
    for (const std::uint8_t byte : bytes) {
        Take(byte, line, reply, events);
    }
    return reply;
}

bool DisplaySim::InStep(const LineSettings& line) const {
    return (line.rate == 0 || line.rate == m_ListenRate) && line.framing == Framing{};
}

void DisplaySim::Garble(std::span<std::uint8_t> bytes) {
    for (auto& b : bytes) {
        b = GarbleByte(b);
    }
}

// 10 bits a character: start bit, 8 data bits, stop bit.
std::chrono::nanoseconds DisplaySim::FramePause() const {
    return std::chrono::nanoseconds(kFramePauseCharacters * 10'000'000'000ULL / m_ListenRate);
}

// The listening rate is judged byte by byte, so that a "3" frame switches the rate for
// whatever follows it in the same chunk.
void DisplaySim::Take(std::uint8_t byte, const LineSettings& line, std::vector<std::uint8_t>& reply,
                      std::vector<Event>* events) {
    if (m_DownloadMode) {
        // The boot loader waits for the programming tool and understands nothing else.
        ++m_Counters.ignoredBytes;
        Note(events, EventKind::Ignored, byte, line);
        return;
    }
    if (!InStep(line)) {
        ++m_Counters.noiseBytes;
        Note(events, EventKind::Noise, byte, line);
        DropPartialFrame(events);  // a frame under way is garbled beyond recovery
        if (m_NoiseCount++ % kNoiseStride == 0) {
            PutCharacter(GarbleByte(byte));
        }
        return;
    }
    if (m_FrameFill == 0) {
        if (byte == protocol::STX) {
            m_Frame[0] = byte;
            m_FrameFill = 1;
            return;
        }
        ++m_Counters.characters;
        PutCharacter(byte);
        Note(events, EventKind::Characters, byte, line);
        return;
    }
    TakeInFrame(byte, reply, events);
}

void DisplaySim::TakeInFrame(std::uint8_t byte, std::vector<std::uint8_t>& reply,
                             std::vector<Event>* events) {
    if (m_FrameFill == 1 && (byte < kMinLen || byte > kMaxLen)) {
        // No frame has this length: the STX was an ordinary byte, and so is this one
        // (it cannot be an STX itself, since 0x02 is a valid length).
        m_FrameFill = 0;
        for (const std::uint8_t b : {protocol::STX, byte}) {
            ++m_Counters.characters;
            PutCharacter(b);
            Note(events, EventKind::Characters, b, {});
        }
        return;
    }
    m_Frame[m_FrameFill++] = byte;
    if (m_FrameFill == static_cast<std::size_t>(m_Frame[1]) + protocol::kFrameOverhead) {
        EndFrame(reply, events);
    }
}

void DisplaySim::EndFrame(std::vector<std::uint8_t>& reply, std::vector<Event>* events) {
    const std::size_t len = m_Frame[1];
    const bool etxOk = m_Frame[len + 2] == protocol::ETX;
    const auto check =
        static_cast<std::uint8_t>(protocol::BCC(&m_Frame[1], static_cast<std::int16_t>(len + 2)));
    if (!etxOk || check != m_Frame[len + 3]) {
        DropPartialFrame(events);  // all LEN + 4 bytes of it
        return;
    }
    m_FrameFill = 0;
    const std::uint8_t cmd = m_Frame[2];
    const std::span<const std::uint8_t> data(m_Frame.data() + 3, len - 1);
    const bool done = Execute(cmd, data, reply);
    ++(done ? m_Counters.framesAccepted : m_Counters.framesUnknown);
    if (events != nullptr) {
        events->push_back({done ? EventKind::Frame : EventKind::Unknown,
                           cmd,
                           std::vector<std::uint8_t>(data.begin(), data.end()),
                           0,
                           {}});
    }
}

// Carries out one well-formed frame; false when the display does not understand it.
bool DisplaySim::Execute(std::uint8_t cmd, std::span<const std::uint8_t> data,
                         std::vector<std::uint8_t>& reply) {
    const bool oneByte = data.size() == 1;
    switch (cmd) {
        case protocol::CMD_TEXT:
            if (data.size() != kCellCount) {
                return false;
            }
            std::copy(data.begin(), data.end(), m_Cells.begin());
            m_Cursor = 0;  // loose characters start again at the top left
            return true;
        case protocol::CMD_BAUD_RATE:
            // An index beyond the list names no rate the display has: it keeps its own.
            if (!oneByte || data[0] >= resources::kBaudRates.size()) {
                return false;
            }
            m_BaudRateIndex = data[0];
            m_ListenRate = resources::kBaudRates[data[0]];
            return true;
        case protocol::CMD_COMMAND_SET:
        case protocol::CMD_DEFAULT_FONT:
        case protocol::CMD_LANGUAGE:
            if (!oneByte) {
                return false;
            }
            (cmd == protocol::CMD_COMMAND_SET    ? m_CommandSet
             : cmd == protocol::CMD_DEFAULT_FONT ? m_DefaultFont
                                                 : m_Language) = data[0];
            return true;
        case protocol::CMD_INFORMATION: {
            if (!data.empty()) {
                return false;
            }
            const auto answer = InformationReply();
            reply.insert(reply.end(), answer.begin(), answer.end());
            ++m_Counters.replies;
            return true;
        }
        case protocol::CMD_DOWNLOAD:
            if (!std::equal(data.begin(), data.end(), protocol::kDownloadKey.begin(),
                            protocol::kDownloadKey.end())) {
                return false;
            }
            m_DownloadMode = true;
            return true;
        default:
            return false;
    }
}

std::array<std::uint8_t, DisplaySim::kReplyLength> DisplaySim::InformationReply() const {
    // Version, command set, default font, language, baud-rate index, one reserved byte.
    std::array<std::uint8_t, kVersionLength + 5> data{};
    std::copy(m_Version.begin(), m_Version.end(), data.begin());
    data[kVersionLength + 0] = m_CommandSet;
    data[kVersionLength + 1] = m_DefaultFont;
    data[kVersionLength + 2] = m_Language;
    data[kVersionLength + 3] = m_BaudRateIndex;
    data[kVersionLength + 4] = 0x00;
    std::array<std::uint8_t, kReplyLength> frame{};
    protocol::BuildFrame(frame, protocol::CMD_INFORMATION, data);
    return frame;
}

void DisplaySim::DropPartialFrame(std::vector<Event>* events) {
    if (m_FrameFill == 0) {
        return;
    }
    ++m_Counters.framesRejected;
    if (events != nullptr) {
        auto* const end = m_Frame.begin() + static_cast<std::ptrdiff_t>(m_FrameFill);
        const std::uint8_t cmd = m_FrameFill > 2 ? m_Frame[2] : 0;
        events->push_back({EventKind::Rejected, cmd, {m_Frame.begin(), end}, 0, {}});
    }
    m_FrameFill = 0;
}

void DisplaySim::PutCharacter(std::uint8_t byte) {
    m_Cells[m_Cursor] = byte;
    m_Cursor = (m_Cursor + 1) % kCellCount;
}

void DisplaySim::Note(std::vector<Event>* events, EventKind kind, std::uint8_t byte,
                      const LineSettings& line) {
    if (events == nullptr) {
        return;
    }
    if (!events->empty() && Coalesces(kind) && events->back().kind == kind &&
        events->back().lineRate == line.rate && events->back().framing == line.framing) {
        events->back().bytes.push_back(byte);
        return;
    }
    events->push_back({kind, 0, {byte}, line.rate, line.framing});
}

}  // namespace vyx::sim
