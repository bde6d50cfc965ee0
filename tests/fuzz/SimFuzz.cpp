// The simulator's input path: arbitrary bytes at arbitrary line speeds, in arbitrary
// chunks. Besides the sanitizers, every run checks the invariants that the drawing, the
// pty server and the tests rely on, and that the chunking never changes the outcome.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "protocol/Frame.h"
#include "sim/DisplaySim.h"
#include "sim/Screen.h"

namespace {

using vyx::sim::DisplaySim;
using vyx::sim::Event;
using vyx::sim::EventKind;

// 0 stands for a host whose speed is unknown; 4800 for one the display never listens at.
constexpr std::uint32_t kLineRates[8] = {9600, 19200, 38400, 57600, 115200, 0, 4800, 9600};

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void CheckReplies(std::span<const std::uint8_t> reply) {
    Check(reply.size() % DisplaySim::kReplyLength == 0);
    for (std::size_t at = 0; at < reply.size(); at += DisplaySim::kReplyLength) {
        const auto* r = reply.data() + at;
        Check(r[0] == 0x02 && r[1] == 0x12 && r[2] == 'D' && r[19] == 0x00 && r[20] == 0x03);
        Check(static_cast<std::uint8_t>(vyx::protocol::BCC(r + 1, 20)) == r[21]);
    }
}

void CheckState(const DisplaySim& sim) {
    Check(sim.Cursor() < DisplaySim::kCellCount);
    Check(sim.BaudRateIndex() < 5);
    Check(kLineRates[sim.BaudRateIndex()] == sim.ListenRate());
}

std::size_t BytesOf(const Event& e) {
    switch (e.kind) {
        case EventKind::Frame:
        case EventKind::Unknown:
            return e.bytes.size() + 5;
        default:
            return e.bytes.size();
    }
}

}  // namespace

// Input: a rate selector, then chunks, each a control byte (line speed in its low three
// bits, chunk length - 1 in the rest) followed by that many bytes. A chunk arrives 100 us
// after the one before it, or 30 ms after when the control byte's top bit is set: long
// enough at every rate to drop a frame under way.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint32_t listen = kLineRates[data[0] % 5];
    std::chrono::nanoseconds now{};
    const auto clock = [&now] { return now; };
    DisplaySim chunked(listen, "FUZZ", clock);
    DisplaySim bytewise(listen, "FUZZ", clock);
    std::vector<std::uint8_t> repliesChunked;
    std::vector<std::uint8_t> repliesBytewise;
    std::vector<Event> events;
    std::size_t fed = 0;
    std::size_t pos = 1;
    while (pos < size) {
        const std::uint8_t control = data[pos++];
        const std::uint32_t rate = kLineRates[control & 7U];
        const std::size_t len = std::min<std::size_t>((control >> 3U) + 1U, size - pos);
        const std::span<const std::uint8_t> chunk(data + pos, len);
        pos += len;
        fed += len;
        now += (control & 0x80U) != 0 ? std::chrono::nanoseconds(30'000'000)
                                      : std::chrono::nanoseconds(100'000);

        const bool wasDownload = chunked.DownloadMode();
        const auto reply = chunked.Feed(chunk, rate, &events);
        CheckReplies(reply);
        Check(!wasDownload || reply.empty());
        repliesChunked.insert(repliesChunked.end(), reply.begin(), reply.end());
        CheckState(chunked);

        for (const std::uint8_t byte : chunk) {
            const auto one = bytewise.Feed(std::span(&byte, 1), rate);
            repliesBytewise.insert(repliesBytewise.end(), one.begin(), one.end());
        }
    }
    // The drawing of whatever state the input left, and the cells under any font set.
    (void)vyx::sim::RenderScreen(chunked, {});
    (void)vyx::sim::DecodeCells(chunked.Cells(), data[0]);
    Check(repliesChunked == repliesBytewise);
    Check(chunked.Cells() == bytewise.Cells());
    Check(chunked.Cursor() == bytewise.Cursor());
    Check(chunked.InformationReply() == bytewise.InformationReply());
    const auto& c = chunked.counters();
    const auto& b = bytewise.counters();
    Check(c.framesAccepted == b.framesAccepted && c.framesRejected == b.framesRejected &&
          c.framesUnknown == b.framesUnknown && c.characters == b.characters &&
          c.noiseBytes == b.noiseBytes && c.ignoredBytes == b.ignoredBytes);

    // Every byte is accounted for by an event, except those of a frame still under way.
    std::size_t accounted = 0;
    for (const auto& e : events) {
        accounted += BytesOf(e);
    }
    Check(accounted <= fed && fed - accounted < DisplaySim::kMaxLen + 4);
    Check(c.replies * DisplaySim::kReplyLength == repliesChunked.size());
    return 0;
}
