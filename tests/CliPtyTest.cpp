// vyxctl as a child process against a far end the test plays byte by byte on a
// pseudo-terminal: exact bytes on the line, replies in any shape, a display that
// ignores settings.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/CliTestCommon.h"
#include "tests/support/PtyPair.h"

namespace vyx::test {
namespace {

const std::vector<std::uint8_t> kQuery = Hex("02 01 44 03 46");

class CliPtyTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_Pty.ok()); }

    void Start(std::vector<std::string> args, const std::string& cwd = {},
               std::vector<int> closed = {}) {
        args.insert(args.begin(), {VyxctlPath(), "--port", m_Pty.SlavePath()});
        Launch launch;
        launch.args = std::move(args);
        launch.cwd = cwd;
        launch.closedDescriptors = std::move(closed);
        ASSERT_TRUE(m_Child.Start(launch));
    }
    std::vector<std::uint8_t> Received(std::size_t count) { return m_Pty.Read(count, 5s); }
    ProcessResult Finish() { return m_Child.Finish(kRunBound); }

    // After the child has ended its bytes are all in the master's buffer already, so a
    // read that does not wait tells whether anything beyond the expected went out.
    std::size_t Leftover() {
        std::uint8_t chunk[256];
        const ssize_t n = ::read(m_Pty.MasterFd(), chunk, sizeof chunk);
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    // A far end that takes nothing: output on the line is stopped, as by a peer that
    // holds it with flow control. Filling the far end's buffer instead would not do: the
    // purge at open makes room again. Returns false when the line could not be stopped.
    bool StopTheLine() { return ::tcflow(m_Pty.SlaveHoldFd(), TCOOFF) == 0; }
    void RestartTheLine() { ::tcflow(m_Pty.SlaveHoldFd(), TCOON); }

    speed_t SlaveSpeed() {
        termios tio{};
        tcgetattr(m_Pty.SlaveHoldFd(), &tio);
        return cfgetospeed(&tio);
    }

    PtyPair m_Pty;
    ChildProcess m_Child;
};

struct SentCase {
    std::vector<std::string> args;
    std::vector<std::uint8_t> bytes;
};

TEST_F(CliPtyTest, EachCommandSendsExactlyTheDialogsBytes) {
    TempDir cwd;  // download: no config.data here, and none may be created
    const SentCase cases[] = {
        {{"text", "abc"},
         Concat({Hex("02 29 32"), Padded("abc", 20), Padded("", 20), Hex("03 58")})},
        {{"text", "Grüße €", "x"},
         Concat({Hex("02 29 32 47 72 FC DF 65 20 80"), Padded("", 13), Padded("x", 20),
                 Hex("03 B3")})},
        // A character Windows-1252 lacks becomes one "?"; a long line is cut to 20.
        {{"text", "→>", "123456789012345678901234"},
         Concat({Hex("02 29 32"), Padded("?>", 20), Padded("12345678901234567890", 20),
                 Hex("03 19")})},
        {{"baud", "115200"}, Hex("02 02 33 04 03 36")},
        {{"baud", "9600"}, Hex("02 02 33 00 03 32")},
        {{"command-set", "0"}, Hex("02 02 34 00 03 35")},
        {{"command-set", "logic CONTROL"}, Hex("02 02 34 09 03 3C")},
        {{"font-set", "russian(windows-1251)"}, Hex("02 02 35 11 03 25")},
        {{"language", "(RU) Russia"}, Hex("02 02 36 0C 03 3B")},
        {{"cell-test", "blank"}, std::vector<std::uint8_t>(40, 0x20)},
        {{"cell-test", "BLOCK"}, std::vector<std::uint8_t>(40, 0xDB)},
        {{"download", "--no-tool", "--com", "4"}, Hex("02 03 40 AA 55 03 BF")},
    };
    for (const SentCase& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        Start(c.args, cwd.Path());
        const std::vector<std::uint8_t> got = Received(c.bytes.size());
        const ProcessResult result = Finish();
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(Leftover(), 0u);
        EXPECT_EQ(got, c.bytes);
    }
    EXPECT_FALSE(std::filesystem::exists(cwd / "config.data"));
}

TEST_F(CliPtyTest, InfoPrintsTheReportOnceTwentyTwoBytesAreIn) {
    Start({"info", "--report"});
    ASSERT_EQ(Received(5), kQuery);
    // Sent in two writes; 25 bytes in all, of which the report uses positions 3 to 18.
    auto reply = Reply(std::string("V1.") + '\0' + "0", 0x01, 0x1F, 0x0A, 0xC3);
    reply.insert(reply.end(), {0xEE, 0xEE, 0xEE});
    m_Pty.Write(std::vector<std::uint8_t>(reply.begin(), reply.begin() + 10));
    m_Pty.Write(std::vector<std::uint8_t>(reply.begin() + 10, reply.end()));
    const ProcessResult result = Finish();
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, ReportOf("V1.0", " 1", "1F", " A", "C3"));
    EXPECT_EQ(result.err, "");
}

struct JsonCase {
    std::vector<std::uint8_t> reply;
    std::string json;
};

TEST_F(CliPtyTest, InfoJsonGivesCodesNamesAndNullOutsideTheLists) {
    const JsonCase cases[] = {
        {Reply("V2.05", 3, 17, 12, 4),
         R"j({"version": "V2.05", "command_set": 3, "default_font": 17, "language": 12, )j"
         R"j("baud_rate": 4, "command_set_name": "UTC Enhance", "default_font_name": )j"
         R"j("Russian(Windows-1251)", "language_name": "(RU) Russia", "baud_rate_bps": 115200})j"},
        // Codes past the lists' ends; a version with a quote, a control byte and a
        // Latin-1 byte, shown as the character of that code point.
        {Reply("A\"\x01\xE9", 10, 18, 13, 5),
         R"j({"version": "A\"\u0001é", "command_set": 10, "default_font": 18, "language": 13, )j"
         R"j("baud_rate": 5, "command_set_name": null, "default_font_name": null, )j"
         R"j("language_name": null, "baud_rate_bps": null})j"},
    };
    for (const JsonCase& c : cases) {
        Start({"info", "--json"});
        ASSERT_EQ(Received(5), kQuery);
        m_Pty.Write(c.reply);
        const ProcessResult result = Finish();
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        ASSERT_EQ(result.out.back(), '\n');
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1);
        // The same object, key for key in this order, whatever the white space.
        EXPECT_EQ(nlohmann::ordered_json::parse(result.out), nlohmann::ordered_json::parse(c.json));
    }
}

TEST_F(CliPtyTest, TwentyOneBytesAreNoReply) {
    Start({"info", "--timeout", "0.3"});
    ASSERT_EQ(Received(5), kQuery);
    const auto reply = Reply("V1.0", 0, 0, 0, 0);
    m_Pty.Write(std::vector<std::uint8_t>(reply.begin(), reply.begin() + 21));
    const ProcessResult result = Finish();
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(m_Pty.SlavePath() + ": no valid reply within 0.3 s at 9600 bps "
                                                  "(21 bytes, no valid frame)\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("hint: `vyxctl probe`"), std::string::npos);
}

struct VerifyCase {
    std::vector<std::string> args;
    std::size_t frameLength;
    std::string complaint;
};

// The far end takes every setting and keeps answering with its old values.
TEST_F(CliPtyTest, VerifyCatchesADisplayThatIgnoresTheSetting) {
    const VerifyCase cases[] = {
        {{"command-set", "UTC Enhance", "--verify"},
         6,
         R"j(command set 0 ("LD220"), not 3 ("UTC Enhance"))j"},
        {{"font-set", "2", "--verify"},
         6,
         R"j(default font 0 ("USA(CP-437)"), not 2 ("Multilingual(CP-850)"))j"},
        {{"language", "(jp) japan", "--verify"},
         6,
         R"j(language 0 ("(US) USA"), not 8 ("(JP) Japan"))j"},
        {{"baud", "19200", "--verify"}, 6, R"j(baud rate 0 ("9600"), not 1 ("19200"))j"},
    };
    for (const VerifyCase& c : cases) {
        SCOPED_TRACE(c.args.front());
        Start(c.args);
        const auto sent = Received(c.frameLength + kQuery.size());
        ASSERT_EQ(sent.size(), c.frameLength + kQuery.size());
        EXPECT_EQ(std::vector<std::uint8_t>(sent.end() - 5, sent.end()), kQuery);
        // The query of baud --verify comes at the new rate.
        EXPECT_EQ(SlaveSpeed(), c.args.front() == "baud" ? B19200 : B9600);
        m_Pty.Write(Reply("V1.0", 0, 0, 0, 0));
        const ProcessResult result = Finish();
        EXPECT_EQ(result.exitStatus, 6);
        EXPECT_NE(result.err.find(m_Pty.SlavePath() + ": verify failed: the display reports " +
                                  c.complaint),
                  std::string::npos)
            << result.err;
        // Closing restores nothing: the line stays at the rate last set.
        EXPECT_EQ(SlaveSpeed(), c.args.front() == "baud" ? B19200 : B9600);
    }
}

TEST_F(CliPtyTest, VerifyPassesWhenTheDisplayReportsTheNewValue) {
    Start({"command-set", "ADM788", "--verify"});
    ASSERT_EQ(Received(11).size(), 11u);
    m_Pty.Write(Reply("V1.0", 5, 0, 0, 0));
    const ProcessResult result = Finish();
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "verified: command set 5 (\"ADM788\")\n");
}

TEST_F(CliPtyTest, VerifyWithoutAnAnswerIsNoReply) {
    Start({"language", "1", "--verify"});
    ASSERT_EQ(Received(11).size(), 11u);
    const ProcessResult result = Finish();
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_NE(result.err.find("(nothing arrived)"), std::string::npos) << result.err;
}

TEST_F(CliPtyTest, APortHeldByAnotherProgramIsBusy) {
    const int holder = ::open(m_Pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    Start({"info"});
    const ProcessResult result = Finish();
    ::close(holder);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.err, "vyxctl: cannot open " + m_Pty.SlavePath() +
                              ": busy: another program holds it\n"
                              "hint: close the other program (`fuser -v " +
                              m_Pty.SlavePath() + "` shows which)\n");
}

// A far end that takes nothing (its buffer full): every command that sends exits 7
// after the bounded write gives up, and says so in one line naming the port.
TEST_F(CliPtyTest, BytesThatDoNotReachThePortExitSeven) {
    TempDir cwd;
    const std::vector<std::vector<std::string>> cases = {
        {"text", "abc"},
        {"cell-test", "block"},
        {"download", "--no-tool", "--com", "4"},
        {"baud", "19200"},
        {"command-set", "0"},
        {"font-set", "2"},
        {"language", "1", "--verify"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.front());
        ASSERT_TRUE(StopTheLine());
        Start(args, cwd.Path());
        const ProcessResult result = Finish();
        RestartTheLine();
        m_Pty.ReadUntilQuiet(50ms, 5s);  // empty the line for the next case
        EXPECT_EQ(result.exitStatus, 7) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(
            result.err.rfind(
                "vyxctl: " + m_Pty.SlavePath() + ": the bytes did not all reach the port (", 0),
            0u)
            << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

struct ReplyCase {
    const char* what;
    std::vector<std::string> args;
    std::vector<std::uint8_t> bytes;  // what the far end sends after the query
    int exitStatus;
    std::string out;  // exact standard output
    std::string err;  // part of standard error
};

// Only a well-formed information frame is a reply; whatever comes before it is skipped.
TEST_F(CliPtyTest, OnlyAValidInformationFrameIsAReply) {
    const auto good = Reply("V2.0", 3, 0, 0, 0);
    auto badCheck = Reply("V9.9", 9, 9, 9, 9);
    badCheck.back() ^= 0x01;
    auto oldLen = Reply("V9.9", 9, 9, 9, 9);
    oldLen[1] = 0x13;
    const std::vector<std::uint8_t> tail(good.end() - 9, good.end());
    const std::string report = ReportOf("V2.0", " 3", " 0", " 0", " 0");
    const ReplyCase cases[] = {
        {"leftover tail first", {"info", "--report"}, Concat({tail, good}), 0, report, ""},
        {"noise with STX first",
         {"info", "--report"},
         Concat({Hex("02 02 7F"), good}),
         0,
         report,
         ""},
        {"bad check first", {"info", "--report"}, Concat({badCheck, good}), 0, report, ""},
        {"verify after a leftover tail",
         {"command-set", "3", "--verify"},
         Concat({tail, good}),
         0,
         "verified: command set 3 (\"UTC Enhance\")\n",
         ""},
        {"bad check and one byte",
         {"info", "--timeout", "0.3"},
         Concat({badCheck, Hex("00")}),
         4,
         "",
         "(23 bytes, no valid frame)\n"},
        {"LEN 0x13", {"info", "--timeout", "0.3"}, oldLen, 4, "", "(22 bytes, no valid frame)\n"},
        {"verify of a bad frame",
         {"language", "9", "--verify"},
         badCheck,
         4,
         "",
         "(22 bytes, no valid frame)\n"},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.what);
        Start(c.args);
        // The query, after the setting frame (6 bytes) when there is one.
        const auto sent = Received(c.args.front() == "info" ? 5 : 11);
        ASSERT_GE(sent.size(), kQuery.size());
        EXPECT_EQ(std::vector<std::uint8_t>(sent.end() - 5, sent.end()), kQuery);
        m_Pty.Write(c.bytes);
        const ProcessResult result = Finish();
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_EQ(result.out, c.out);
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
}

TEST_F(CliPtyTest, ALostDeviceEndsTheWaitAtOnce) {
    Start({"info", "--timeout", "600"});
    ASSERT_EQ(Received(5), kQuery);
    m_Pty.Write(Hex("02 12 44"));
    m_Pty.CloseMaster();
    // The run bound is far shorter than the timeout: only the loss can end it in time.
    const ProcessResult result = Finish();
    EXPECT_EQ(result.exitStatus, 4) << result.err;
    EXPECT_NE(result.err.find(m_Pty.SlavePath() + ": device lost while waiting for the reply"),
              std::string::npos)
        << result.err;
}

// Line noise that never stops, with STX bytes but no valid frame: the wait still ends at
// its timeout.
TEST_F(CliPtyTest, EndlessNoiseDoesNotStretchTheWait) {
    std::atomic<bool> done{false};
    std::thread noise([&] {
        std::vector<std::uint8_t> junk(64, 0x55);
        junk[0] = 0x02;
        while (!done.load()) {
            pollfd out{m_Pty.MasterFd(), POLLOUT, 0};
            if (::poll(&out, 1, 50) > 0) {
                static_cast<void>(::write(m_Pty.MasterFd(), junk.data(), junk.size()));
            }
        }
    });
    Start({"info", "--timeout", "0.3"});
    const ProcessResult result = Finish();
    done.store(true);
    noise.join();
    EXPECT_EQ(result.exitStatus, 4) << result.err;
    EXPECT_NE(result.err.find("bytes, no valid frame)"), std::string::npos) << result.err;
}

// A display listening at 38400 that is slow to answer: at 19200 its late answer to the
// query of 9600 arrives, naming 9600. Only the answer naming the rate it came at counts.
TEST_F(CliPtyTest, ProbeAcceptsOnlyAReplyNamingTheRateItCameAt) {
    std::atomic<bool> done{false};
    std::thread display([&] {
        speed_t previous = B0;
        while (!done.load()) {
            if (m_Pty.Read(kQuery.size(), 100ms) != kQuery) {
                continue;
            }
            const speed_t now = SlaveSpeed();
            if (now == B38400) {
                m_Pty.Write(Reply("V3.8", 0, 0, 0, 2));
            } else if (previous == B9600) {
                m_Pty.Write(Reply("V3.8", 0, 0, 0, 0));
            }
            previous = now;
        }
    });
    Start({"probe"});
    const ProcessResult result = Finish();
    done.store(true);
    display.join();
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "rate: 38400\n" + ReportOf("V3.8", " 0", " 0", " 0", " 2"));
    // Standard error is a pipe here, not a terminal: no progress lines.
    EXPECT_EQ(result.err, "");
}

TEST_F(CliPtyTest, ProbeShowsTheRateTriedWhenStandardErrorIsATerminal) {
    PtyPair terminal;
    ASSERT_TRUE(terminal.ok());
    Launch launch;
    launch.args = {VyxctlPath(), "--port", m_Pty.SlavePath(), "probe"};
    launch.outputFile = terminal.SlavePath();
    const ProcessResult result = RunProcess(launch, kRunBound);
    EXPECT_EQ(result.exitStatus, 4);
    const auto shown = terminal.ReadUntilQuiet(100ms, 5s);
    const std::string text(shown.begin(), shown.end());
    for (const char* rate : {"9600", "19200", "38400", "57600", "115200"}) {
        EXPECT_NE(text.find(std::string("trying ") + rate + " bps"), std::string::npos) << text;
    }
    EXPECT_NE(text.find("no reply at any rate"), std::string::npos) << text;
}

// With a standard descriptor closed, the device opened must not take its number, or
// the report (or the error) would be written to the display.
TEST_F(CliPtyTest, ClosedStandardDescriptorsNeverBecomeTheLine) {
    const struct {
        std::vector<int> closed;
        std::vector<std::string> args;
        bool reply;
        int exitStatus;
    } cases[] = {
        {{STDOUT_FILENO}, {"info"}, true, 0},
        {{STDERR_FILENO}, {"info", "--timeout", "0.2"}, false, 4},
        {{STDOUT_FILENO, STDERR_FILENO}, {"info"}, true, 0},
        {{STDOUT_FILENO, STDERR_FILENO}, {"info", "--timeout", "0.2"}, false, 4},
        {{STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}, {"info"}, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closed.size());
        Start(c.args, {}, c.closed);
        ASSERT_EQ(Received(5), kQuery);
        if (c.reply) {
            m_Pty.Write(Reply("V1.0", 0, 0, 0, 0));
        }
        const ProcessResult result = Finish();
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_EQ(Leftover(), 0u) << "text reached the line";
    }
}

TEST_F(CliPtyTest, TheTimeoutToldIsTheTimeoutUsed) {
    const struct {
        const char* given;
        const char* told;
    } cases[] = {
        {"0.0011", "within 0.0011 s"}, {"0.25", "within 0.25 s"}, {"1e-3", "within 0.001 s"}};
    for (const auto& c : cases) {
        Start({"info", "--timeout", c.given});
        const ProcessResult result = Finish();
        EXPECT_EQ(result.exitStatus, 4);
        EXPECT_NE(result.err.find(c.told), std::string::npos) << result.err;
        m_Pty.ReadUntilQuiet(50ms, 5s);
    }
}

// set sends its frames in one opening, the baud rate last; --verify asks once at the new
// rate and names every value that did not take (exit 6), and only those.
TEST_F(CliPtyTest, SetVerifyNamesEachValueThatDidNotTake) {
    Start({"set", "baud=19200", "language=fr", "command-set=d101", "--verify"});
    EXPECT_EQ(Received(6), Hex("02 02 36 01 03 36"));  // language first, as given
    EXPECT_EQ(Received(6), Hex("02 02 34 01 03 34"));
    EXPECT_EQ(Received(6), Hex("02 02 33 01 03 33"));  // then the rate
    EXPECT_EQ(Received(5), kQuery);
    EXPECT_EQ(SlaveSpeed(), B19200);
    m_Pty.Write(Reply("V1.0", 1, 0, 0, 1));  // the language stayed USA
    const ProcessResult result = Finish();
    EXPECT_EQ(result.exitStatus, 6) << result.err;
    EXPECT_EQ(result.err, "vyxctl: " + m_Pty.SlavePath() +
                              ": verify failed: the display reports language 0x00 (US) USA, "
                              "not 0x01 (FR) France\n");
    EXPECT_EQ(result.out,
              "command set -> 0x01 EPSON POS D101 (verified)\n"
              "baud rate -> 0x01 19200 bps (verified)\n");
}

TEST_F(CliPtyTest, SetWithoutAnAnswerIsNoReplyAndAStoppedLineIsNotSent) {
    Start({"set", "font-set=euro", "--verify", "--timeout", "0.3"});
    EXPECT_EQ(Received(6), Hex("02 02 35 08 03 3C"));
    EXPECT_EQ(Received(5), kQuery);
    ProcessResult result = Finish();
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_EQ(result.out, "");

    ASSERT_TRUE(StopTheLine());
    Start({"set", "font-set=euro", "language=0"});
    result = Finish();
    RestartTheLine();
    EXPECT_EQ(result.exitStatus, 7) << result.err;
    EXPECT_EQ(result.out, "");
}

}  // namespace
}  // namespace vyx::test
