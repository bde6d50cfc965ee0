#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/Report.h"
#include "sim/DisplaySim.h"

namespace vyx::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t k9600 = 9600;

// Frames are built here by hand, not with protocol/, so that a fault shared by the
// builders and the parser cannot cancel out.
Bytes Frame(std::uint8_t cmd, const Bytes& data = {}) {
    Bytes f{0x02, static_cast<std::uint8_t>(data.size() + 1), cmd};
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(0x03);
    std::uint8_t bcc = 0;
    for (std::size_t i = 1; i < f.size(); ++i) {
        bcc = static_cast<std::uint8_t>(bcc ^ f[i]);
    }
    f.push_back(bcc);
    return f;
}

Bytes Query() {
    return {0x02, 0x01, 0x44, 0x03, 0x46};
}

Bytes Text(const std::string& line1, const std::string& line2) {
    Bytes data(40, ' ');
    std::copy(line1.begin(), line1.end(), data.begin());
    std::copy(line2.begin(), line2.end(), data.begin() + 20);
    return Frame('2', data);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

std::string Cells(const DisplaySim& sim) {
    return std::string(sim.Cells().begin(), sim.Cells().end());
}

Bytes Feed(DisplaySim& sim, const Bytes& bytes, std::uint32_t rate = k9600) {
    return sim.Feed(bytes, rate);
}

// Expected reply, every byte spelled out.
Bytes Reply(const std::string& version, Bytes settings) {
    Bytes r{0x02, 0x12, 'D'};
    Bytes v(version.begin(), version.end());
    v.resize(12, 0x00);
    r.insert(r.end(), v.begin(), v.end());
    r.insert(r.end(), settings.begin(), settings.end());
    r.push_back(0x00);
    r.push_back(0x03);
    std::uint8_t bcc = 0;
    for (std::size_t i = 1; i < r.size(); ++i) {
        bcc = static_cast<std::uint8_t>(bcc ^ r[i]);
    }
    r.push_back(bcc);
    return r;
}

TEST(DisplaySim, ReplyLayoutAtStart) {
    DisplaySim sim(k9600, "V1.0");
    const Bytes reply = Feed(sim, Query());
    EXPECT_EQ(reply, Reply("V1.0", {0, 0, 0, 0}));
    ASSERT_EQ(reply.size(), 22u);
    // What the host's report reads from it.
    const auto fields = protocol::ParseInformation(reply, protocol::kWesternCodePage);
    EXPECT_EQ(fields.version, "V1.0");
    EXPECT_EQ(sim.counters().framesAccepted, 1u);
    EXPECT_EQ(sim.counters().replies, 1u);
}

TEST(DisplaySim, VersionIsCutToTwelveBytesAndStartRateGivesTheIndex) {
    DisplaySim sim(57600, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(Feed(sim, Query(), 57600), Reply("ABCDEFGHIJKL", {0, 0, 0, 3}));
    DisplaySim odd(4800, "x");  // not a rate of the list: taken as 9600
    EXPECT_EQ(odd.ListenRate(), 9600u);
    EXPECT_EQ(Feed(odd, Query()), Reply("x", {0, 0, 0, 0}));
}

TEST(DisplaySim, EachSettingShowsInTheNextReply) {
    struct Case {
        std::uint8_t cmd;
        std::uint8_t value;
        std::size_t pos;
        std::uint32_t rateAfter;
    };
    const Case cases[] = {
        {'4', 0x09, 15, 9600},  {'4', 0x0F, 15, 9600}, {'5', 0x11, 16, 9600},
        {'5', 0x1F, 16, 9600},  {'6', 0x0C, 17, 9600}, {'3', 0x04, 18, 115200},
        {'3', 0x01, 18, 19200}, {'3', 0x00, 18, 9600},
    };
    for (const auto& c : cases) {
        DisplaySim sim;
        EXPECT_TRUE(Feed(sim, Frame(c.cmd, {c.value})).empty()) << c.cmd;
        const Bytes reply = Feed(sim, Query(), c.rateAfter);
        ASSERT_EQ(reply.size(), 22u) << c.cmd;
        Bytes expected{0, 0, 0, 0};
        expected[c.pos - 15] = c.value;
        EXPECT_EQ(reply, Reply("V1.0", expected)) << c.cmd << " " << int(c.value);
    }
}

// The parser must not care how the line chops the stream: every single split and
// every pair of splits gives the same outcome as the stream in one piece.
TEST(DisplaySim, ParserUnderEverySplitOfAStream) {
    const Bytes stream = Concat({Text("Hello", "World"), Frame('4', {9}), Bytes{'x', 'y'},
                                 Frame('5', {0x11}), Query(), Frame('6', {0x0C}), Query()});
    DisplaySim whole;
    const Bytes wholeReply = Feed(whole, stream);
    ASSERT_EQ(wholeReply,
              Concat({Reply("V1.0", {9, 0x11, 0, 0}), Reply("V1.0", {9, 0x11, 0x0C, 0})}));
    ASSERT_EQ(whole.counters().framesAccepted, 6u);

    for (std::size_t i = 0; i <= stream.size(); ++i) {
        for (std::size_t j = i; j <= stream.size(); ++j) {
            DisplaySim sim;
            Bytes reply = Feed(sim, Bytes(stream.begin(), stream.begin() + long(i)));
            const Bytes mid = Feed(sim, Bytes(stream.begin() + long(i), stream.begin() + long(j)));
            const Bytes end = Feed(sim, Bytes(stream.begin() + long(j), stream.end()));
            reply.insert(reply.end(), mid.begin(), mid.end());
            reply.insert(reply.end(), end.begin(), end.end());
            ASSERT_EQ(reply, wholeReply) << "split at " << i << " and " << j;
            ASSERT_EQ(Cells(sim), Cells(whole)) << "split at " << i << " and " << j;
            ASSERT_EQ(sim.counters().framesAccepted, 6u) << "split at " << i << " and " << j;
            ASSERT_EQ(sim.counters().characters, 2u);
        }
    }
}

TEST(DisplaySim, BadCheckOrEndByteDropsTheWholeFrameAndCountsIt) {
    Bytes badBcc = Frame('4', {9});
    badBcc.back() ^= 0x01;
    Bytes badEtx = Frame('4', {9});
    badEtx[4] = 0x04;
    badEtx[5] = static_cast<std::uint8_t>(0x02 ^ '4' ^ 9 ^ 0x04);  // check right, ETX wrong
    // A damaged text frame whose data holds a complete query: dropped whole, the
    // query inside it must not be answered.
    Bytes textWithQuery(40, ' ');
    const Bytes q = Query();
    std::copy(q.begin(), q.end(), textWithQuery.begin() + 10);
    Bytes badText = Frame('2', textWithQuery);
    badText.back() ^= 0xFF;

    struct Case {
        const char* name;
        Bytes frame;
    };
    for (const auto& c : {Case{"bcc", badBcc}, Case{"etx", badEtx}, Case{"text", badText}}) {
        DisplaySim sim;
        std::vector<Event> events;
        const Bytes reply = sim.Feed(Concat({c.frame, Query()}), k9600, &events);
        EXPECT_EQ(reply, Reply("V1.0", {0, 0, 0, 0})) << c.name;
        EXPECT_EQ(sim.counters().framesRejected, 1u) << c.name;
        EXPECT_EQ(sim.counters().framesAccepted, 1u) << c.name;
        EXPECT_EQ(sim.counters().characters, 0u) << c.name;
        EXPECT_EQ(Cells(sim), std::string(40, ' ')) << c.name;
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events[0].kind, EventKind::Rejected) << c.name;
        EXPECT_EQ(events[0].bytes, c.frame) << c.name;
    }
}

TEST(DisplaySim, StxAndEtxInsideDataAreData) {
    DisplaySim sim;
    const std::string line1 = std::string("A\x02\x03", 3) + "B";
    const std::string line2 = std::string("\x03\x02\x01\x44\x03\x46", 6);  // looks like a query
    EXPECT_TRUE(Feed(sim, Text(line1, line2)).empty());
    EXPECT_EQ(sim.counters().framesAccepted, 1u);
    EXPECT_EQ(Cells(sim), line1 + std::string(16, ' ') + line2 + std::string(14, ' '));
    // A settings frame whose value is 0x02 or 0x03.
    Feed(sim, Concat({Frame('4', {0x02}), Frame('6', {0x03})}));
    EXPECT_EQ(Feed(sim, Query()), Reply("V1.0", {2, 0, 3, 0}));
}

TEST(DisplaySim, JunkBetweenFramesIsWrittenAtTheCursor) {
    DisplaySim sim;
    const Bytes reply =
        Feed(sim, Concat({Bytes{'a', 'b'}, Frame('4', {1}), Bytes{0xFF}, Query(), Bytes{'z'}}));
    EXPECT_EQ(reply, Reply("V1.0", {1, 0, 0, 0}));
    EXPECT_EQ(Cells(sim).substr(0, 4), "ab\xFFz");
    EXPECT_EQ(sim.Cursor(), 4u);
    EXPECT_EQ(sim.counters().characters, 4u);
}

TEST(DisplaySim, StxWithImpossibleLengthIsNoise) {
    // LEN 0, 42 and 0xFF name no frame: STX and LEN are ordinary bytes, and the frame
    // that follows is still found.
    for (const std::uint8_t len : Bytes{0x00, 0x2A, 0xFF}) {
        DisplaySim sim;
        const Bytes reply = Feed(sim, Concat({Bytes{0x02, len}, Query()}));
        EXPECT_EQ(reply.size(), 22u) << int(len);
        EXPECT_EQ(sim.counters().framesRejected, 0u) << int(len);
        EXPECT_EQ(sim.counters().characters, 2u) << int(len);
        EXPECT_EQ(sim.Cells()[0], 0x02);
        EXPECT_EQ(sim.Cells()[1], len);
    }
    // The largest length is still a frame.
    DisplaySim sim;
    Feed(sim, Text("x", "y"));
    EXPECT_EQ(sim.counters().framesAccepted, 1u);
}

TEST(DisplaySim, CharactersFillLineOneThenTwoThenWrap) {
    DisplaySim sim;
    Feed(sim, Bytes(20, 'a'));
    EXPECT_EQ(sim.Cursor(), 20u);
    Feed(sim, Bytes(20, 'b'));
    EXPECT_EQ(sim.Cursor(), 0u);
    Feed(sim, Bytes(3, 'c'));
    const auto line1 = sim.Line(0);
    const auto line2 = sim.Line(1);
    EXPECT_EQ(std::string(line1.begin(), line1.end()), "ccc" + std::string(17, 'a'));
    EXPECT_EQ(std::string(line2.begin(), line2.end()), std::string(20, 'b'));
}

TEST(DisplaySim, CellTestFillsAllFortyCellsFromAnyCursor) {
    DisplaySim sim;
    Feed(sim, Bytes{'1', '2', '3'});  // cursor not at home
    Feed(sim, Bytes(40, 0xDB));
    EXPECT_EQ(Cells(sim), std::string(40, '\xDB'));
    Feed(sim, Bytes(40, 0x20));
    EXPECT_EQ(Cells(sim), std::string(40, ' '));
    EXPECT_EQ(sim.counters().framesAccepted + sim.counters().framesRejected, 0u);
}

TEST(DisplaySim, TextFrameShowsBothLinesAndHomesTheCursor) {
    DisplaySim sim;
    Feed(sim, Bytes{'q', 'q', 'q'});
    Feed(sim, Text("Line one", "Line two"));
    EXPECT_EQ(Cells(sim), "Line one            Line two            ");
    EXPECT_EQ(sim.Cursor(), 0u);
}

TEST(DisplaySim, MalformedCommandsAreNotCarriedOut) {
    struct Case {
        const char* name;
        Bytes frame;
    };
    const Case cases[] = {
        {"text too short", Frame('2', Bytes(39, 'x'))},
        {"rate index 5", Frame('3', {5})},
        {"rate index FF", Frame('3', {0xFF})},
        {"set with two bytes", Frame('4', {1, 2})},
        {"query with data", Frame('D', {0})},
        {"download wrong key", Frame('@', {0xAA, 0x56})},
        {"unknown command", Frame('Z', {1})},
    };
    for (const auto& c : cases) {
        DisplaySim sim;
        EXPECT_TRUE(Feed(sim, c.frame).empty()) << c.name;
        EXPECT_EQ(sim.counters().framesUnknown, 1u) << c.name;
        EXPECT_FALSE(sim.DownloadMode()) << c.name;
        EXPECT_EQ(Feed(sim, Query()), Reply("V1.0", {0, 0, 0, 0})) << c.name;
        EXPECT_EQ(Cells(sim), std::string(40, ' ')) << c.name;
    }
}

TEST(DisplaySim, DownloadModeSilencesEverything) {
    DisplaySim sim;
    EXPECT_TRUE(Feed(sim, Frame('@', {0xAA, 0x55})).empty());
    EXPECT_TRUE(sim.DownloadMode());
    EXPECT_TRUE(Feed(sim, Query()).empty());
    Feed(sim, Concat({Frame('4', {3}), Text("x", "y"), Bytes(40, 0xDB)}));
    EXPECT_EQ(sim.CommandSet(), 0);
    EXPECT_EQ(Cells(sim), std::string(40, ' '));
    EXPECT_TRUE(Feed(sim, Query()).empty());
    EXPECT_EQ(sim.counters().replies, 0u);
    EXPECT_GT(sim.counters().ignoredBytes, 0u);
}

TEST(DisplaySim, WrongLineRateIsNoiseAndNothingIsUnderstood) {
    for (const std::uint32_t rate : {19200u, 115200u, 4800u}) {
        DisplaySim sim(k9600);
        const Bytes stream = Concat({Frame('4', {9}), Query(), Text("secret", "text")});
        EXPECT_TRUE(Feed(sim, stream, rate).empty()) << rate;
        EXPECT_EQ(sim.counters().framesAccepted, 0u);
        EXPECT_EQ(sim.counters().noiseBytes, stream.size());
        EXPECT_EQ(sim.CommandSet(), 0);
        // A few garbage marks, not the text.
        const std::string cells = Cells(sim);
        EXPECT_EQ(cells.find("secret"), std::string::npos);
        const auto marks = 40 - std::count(cells.begin(), cells.end(), ' ');
        EXPECT_GT(marks, 0) << rate;
        EXPECT_LT(static_cast<std::size_t>(marks), stream.size()) << rate;
        // The right rate is understood again.
        EXPECT_EQ(Feed(sim, Query(), k9600), Reply("V1.0", {0, 0, 0, 0})) << rate;
    }
}

TEST(DisplaySim, UnknownLineRateCountsAsMatching) {
    DisplaySim sim(38400);
    EXPECT_EQ(Feed(sim, Query(), 0), Reply("V1.0", {0, 0, 0, 2}));
}

TEST(DisplaySim, RateCommandSwitchesTheListeningRateAfterItsFrame) {
    DisplaySim sim(k9600);
    // The query in the same chunk, still at the host's old rate, is no longer understood.
    EXPECT_TRUE(Feed(sim, Concat({Frame('3', {4}), Query()}), k9600).empty());
    EXPECT_EQ(sim.ListenRate(), 115200u);
    EXPECT_EQ(sim.counters().framesAccepted, 1u);
    EXPECT_EQ(sim.counters().noiseBytes, 5u);
    // The host reopens at the new rate.
    EXPECT_EQ(Feed(sim, Query(), 115200), Reply("V1.0", {0, 0, 0, 4}));
    EXPECT_TRUE(Feed(sim, Query(), k9600).empty());
}

TEST(DisplaySim, NoiseInTheMiddleOfAFrameBreaksIt) {
    DisplaySim sim(k9600);
    const Bytes q = Query();
    Feed(sim, Bytes(q.begin(), q.begin() + 2));
    Feed(sim, Bytes{0x55}, 19200);
    EXPECT_TRUE(Feed(sim, Bytes(q.begin() + 2, q.end())).empty());
    EXPECT_EQ(sim.counters().framesRejected, 1u);
    EXPECT_EQ(Feed(sim, Query()).size(), 22u);
}

TEST(DisplaySim, EventsDescribeWhatHappened) {
    DisplaySim sim;
    std::vector<Event> events;
    sim.Feed(Concat({Bytes{'h', 'i'}, Frame('5', {7}), Query()}), k9600, &events);
    sim.Feed(Query(), 19200, &events);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, EventKind::Characters);
    EXPECT_EQ(events[0].bytes, (Bytes{'h', 'i'}));
    EXPECT_EQ(events[1].kind, EventKind::Frame);
    EXPECT_EQ(events[1].command, '5');
    EXPECT_EQ(events[1].bytes, Bytes{7});
    EXPECT_EQ(events[2].command, 'D');
    EXPECT_EQ(events[3].kind, EventKind::Noise);
    EXPECT_EQ(events[3].lineRate, 19200u);
    EXPECT_EQ(events[3].bytes, Query());
}

TEST(DisplaySim, FramingOtherThan8N1IsNoise) {
    struct Case {
        const char* name;
        LineSettings line;
        bool understood;
    };
    const Case cases[] = {
        {"8N1", {k9600, {8, false, 1}}, true},  {"8N1, speed unknown", {0, {8, false, 1}}, true},
        {"8N2", {k9600, {8, false, 2}}, false}, {"8N2, speed unknown", {0, {8, false, 2}}, false},
        {"7N1", {k9600, {7, false, 1}}, false}, {"8E1", {k9600, {8, true, 1}}, false},
    };
    for (const auto& c : cases) {
        DisplaySim sim(k9600);
        std::vector<Event> events;
        const Bytes reply = sim.Feed(Concat({Frame('4', {9}), Query()}), c.line, &events);
        EXPECT_EQ(sim.InStep(c.line), c.understood) << c.name;
        EXPECT_EQ(reply.empty(), !c.understood) << c.name;
        EXPECT_EQ(sim.CommandSet(), c.understood ? 9 : 0) << c.name;
        EXPECT_EQ(sim.counters().noiseBytes, c.understood ? 0u : 11u) << c.name;
        if (!c.understood) {
            ASSERT_EQ(events.size(), 1u) << c.name;
            EXPECT_EQ(events[0].kind, EventKind::Noise) << c.name;
            EXPECT_EQ(events[0].framing, c.line.framing) << c.name;
        }
    }
}

// What the host hears of a reply while out of step: as many bytes, none of them a
// frame's start or end, so no part of it can pass for an answer.
TEST(DisplaySim, GarbledBytesCarryNoFrame) {
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    Bytes garbled = all;
    DisplaySim::Garble(garbled);
    ASSERT_EQ(garbled.size(), all.size());
    EXPECT_EQ(std::count(garbled.begin(), garbled.end(), 0x02), 0);
    EXPECT_EQ(std::count(garbled.begin(), garbled.end(), 0x03), 0);
    DisplaySim sim;
    Bytes reply = Feed(sim, Query());
    DisplaySim::Garble(reply);
    EXPECT_NE(reply, Reply("V1.0", {0, 0, 0, 0}));
}

// A frame start followed by a pause longer than 20 character times is given up, and the
// next frame read from its own STX; a shorter pause leaves the frame whole. Time comes
// from a clock the test moves.
TEST(DisplaySim, PauseInAFrameDropsIt) {
    using std::chrono::microseconds;
    using std::chrono::nanoseconds;
    // 20 characters of 10 bits: 20833 us at 9600, 1736 us at 115200.
    struct Case {
        std::uint32_t rate;
        microseconds pause;
        bool dropped;
    };
    const Case cases[] = {
        {9600, microseconds(20900), true},   {9600, microseconds(20700), false},
        {9600, microseconds(500000), true},  {115200, microseconds(1800), true},
        {115200, microseconds(1700), false}, {115200, microseconds(0), false},
    };
    const Bytes cutOff = {0x02, 0x12, 0x44};  // its LEN would take in the query
    for (const auto& c : cases) {
        nanoseconds now{1'000'000'000};
        DisplaySim sim(c.rate, "V1.0", [&now] { return now; });
        std::vector<Event> events;
        EXPECT_TRUE(sim.Feed(cutOff, c.rate, &events).empty());
        now += c.pause;
        const Bytes reply = sim.Feed(Query(), c.rate, &events);
        const auto trace =
            std::to_string(c.rate) + " bps, pause " + std::to_string(c.pause.count()) + " us";
        if (c.dropped) {
            EXPECT_EQ(reply,
                      Reply("V1.0", {0, 0, 0, static_cast<std::uint8_t>(sim.BaudRateIndex())}))
                << trace;
            EXPECT_EQ(sim.counters().framesRejected, 1u) << trace;
            ASSERT_FALSE(events.empty()) << trace;
            EXPECT_EQ(events[0].kind, EventKind::Rejected) << trace;
            EXPECT_EQ(events[0].bytes, cutOff) << trace;
        } else {
            EXPECT_TRUE(reply.empty()) << trace;  // the query went into the old frame
            EXPECT_EQ(sim.counters().framesRejected, 0u) << trace;
        }
    }
    // Pauses between whole frames, or between characters, drop nothing; a frame fed in
    // slow pieces, each within the limit, is still one frame.
    nanoseconds now{};
    DisplaySim sim(k9600, "V1.0", [&now] { return now; });
    const Bytes text = Text("slow", "but steady");
    for (std::size_t at = 0; at < text.size(); at += 5) {
        now += microseconds(20000);
        Feed(sim,
             Bytes(text.begin() + long(at), text.begin() + long(std::min(at + 5, text.size()))));
    }
    now += std::chrono::seconds(1);
    EXPECT_EQ(Feed(sim, Bytes{'!'}).size(), 0u);
    EXPECT_EQ(sim.counters().framesAccepted, 1u);
    EXPECT_EQ(sim.counters().framesRejected, 0u);
    EXPECT_EQ(Cells(sim).substr(0, 4), "!low");
}

}  // namespace
}  // namespace vyx::sim
