// The information reply as a frame: what is one, and finding one in a stream that
// holds leftovers, noise and corrupted frames, fed at every split point.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/InformationFrame.h"

namespace proto = vyx::protocol;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The simulator's default reply, worked by hand: version "V1.0", every code 0. The
// check is 12 ^ 44 ^ 56 ^ 31 ^ 2E ^ 30 ^ 03 = 2C.
const Bytes kWorked = {0x02, 0x12, 0x44, 'V',  '1',  '.',  '0',  0x00, 0x00, 0x00, 0x00,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x2C};

// A second valid frame: command set 3, font 0x11, language 0x0C, rate 4; the version
// holds an STX and an ETX, which are data like any other byte.
const Bytes kOther = {0x02, 0x12, 0x44, 0x02, 0x03, 'A',  0x00, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x03, 0x11, 0x0C, 0x04, 0x00, 0x03, 0x0F};

Bytes With(Bytes frame, std::size_t position, std::uint8_t value) {
    frame[position] = value;
    return frame;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::optional<Bytes> AsBytes(const std::optional<proto::InformationFrame>& frame) {
    return frame ? std::optional<Bytes>(Bytes(frame->begin(), frame->end())) : std::nullopt;
}

TEST(InformationFrameTest, OnlyAWellFormedFrameWithItsCheckIsOne) {
    const struct {
        const char* what;
        Bytes bytes;
        bool valid;
    } cases[] = {
        {"worked reply", kWorked, true},
        {"data bytes equal to STX and ETX", kOther, true},
        {"longer input, first 22 bytes count", Join({kWorked, {0xEE}}), true},
        {"21 bytes", Bytes(kWorked.begin(), kWorked.end() - 1), false},
        {"no STX", With(kWorked, 0, 0x00), false},
        {"LEN 0x13", With(With(kWorked, 1, 0x13), 21, 0x2D), false},
        {"another command", With(With(kWorked, 2, 0x45), 21, 0x2D), false},
        {"no ETX at 20", With(With(kWorked, 20, 0x00), 21, 0x2F), false},
        {"check off by one bit", With(kWorked, 21, 0x2D), false},
        {"a data byte changed", With(kWorked, 15, 0x01), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(proto::IsInformationFrame(c.bytes), c.valid) << c.what;
    }
}

struct StreamCase {
    const char* what;
    Bytes stream;
    std::optional<Bytes> found;
};

// Each stream is fed whole, split in two at every point, and byte by byte: the frame
// found and the count of bytes seen never depend on how the bytes came.
TEST(InformationFrameTest, ScannerFindsTheFirstValidFrameHoweverTheBytesCome) {
    const Bytes tail(kOther.end() - 9, kOther.end());  // an earlier reply's leftover tail
    const StreamCase cases[] = {
        {"the frame alone", kWorked, kWorked},
        {"an earlier reply's tail first", Join({tail, kWorked}), kWorked},
        {"noise with STX bytes first", Join({{0x02, 0x02, 0x55, 0x02}, kWorked}), kWorked},
        {"a frame with a bad check first", Join({With(kOther, 21, 0x00), kWorked}), kWorked},
        {"a cut-off frame first", Join({Bytes(kOther.begin(), kOther.begin() + 12), kWorked}),
         kWorked},
        {"two valid frames: the first counts", Join({kOther, kWorked}), kOther},
        {"bad check, one byte more", Join({With(kWorked, 21, 0x00), {0x00}}), std::nullopt},
        {"old-style LEN 0x13", With(With(kWorked, 1, 0x13), 21, 0x2D), std::nullopt},
        {"one byte short", Bytes(kWorked.begin(), kWorked.end() - 1), std::nullopt},
        {"nothing", {}, std::nullopt},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (std::size_t split = 0; split <= c.stream.size(); ++split) {
            proto::InformationScanner scanner;
            const std::span<const std::uint8_t> all(c.stream);
            scanner.Feed(all.first(split));
            EXPECT_EQ(AsBytes(scanner.Feed(all.subspan(split))), c.found) << "split " << split;
            EXPECT_EQ(scanner.BytesSeen(), c.stream.size());
        }
        proto::InformationScanner byteByByte;
        std::optional<proto::InformationFrame> last;
        for (const std::uint8_t byte : c.stream) {
            last = byteByByte.Feed(std::span(&byte, 1));
        }
        EXPECT_EQ(AsBytes(last), c.found);
    }
}

TEST(InformationFrameTest, NextPassesOverAFrameAndFindsTheOneAfterIt) {
    proto::InformationScanner scanner;
    const Bytes stream = Join({kOther, {0x03, 0x02}, kWorked});
    EXPECT_EQ(AsBytes(scanner.Feed(std::span(stream).first(30))), kOther);
    // Still the same frame while it is not passed over; the bytes behind it are kept.
    EXPECT_EQ(AsBytes(scanner.Feed(std::span(stream).subspan(30))), kOther);
    EXPECT_EQ(AsBytes(scanner.Next()), kWorked);
    EXPECT_EQ(scanner.Next(), std::nullopt);
    // Passing over the last frame leaves the scanner ready for more bytes.
    EXPECT_EQ(AsBytes(scanner.Feed(kOther)), kOther);
}

}  // namespace
