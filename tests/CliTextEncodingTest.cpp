// vyxctl text in the code pages it can choose, read back from the simulator's drawing:
// the simulator decodes each line through the code page of its current font set, so a
// line drawn as typed went out in the code page the display uses.
#include <gtest/gtest.h>

#include "tests/CliTestCommon.h"

namespace vyx::test {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

// vyx-display-sim drawing its screen (not the plain log) into <tmp>/screen.
class DrawingSimulator {
  public:
    explicit DrawingSimulator(std::vector<std::string> options = {}) {
        std::vector<std::string> args = {VYX_SIM_PATH, "--no-pacing", "--link", Link()};
        args.insert(args.end(), options.begin(), options.end());
        Launch launch;
        launch.args = args;
        launch.outputFile = m_Dir / "screen";
        m_Started = m_Child.Start(launch) && WaitForPath(Link(), 5s);
    }
    bool Started() const { return m_Started; }
    std::string Link() const { return m_Dir / "dev"; }
    // Ends the simulator and returns everything it drew; the last drawing is the screen.
    std::string Stop() {
        m_Child.Stop(5s);
        return ReadFileBytes(m_Dir / "screen");
    }

  private:
    TempDir m_Dir;
    ChildProcess m_Child;
    bool m_Started = false;
};

// A display line as the drawing frames it: the text padded to 20 columns.
std::string Drawn(const std::string& utf8Text, std::size_t columns) {
    return "\u2502" + utf8Text + std::string(20 - columns, ' ') + "\u2502";
}

// The locale of the arguments is fixed so that they arrive as the UTF-8 written here.
Env WithLocale(Env env = {}) {
    env.emplace_back("LC_ALL", "C.UTF-8");
    return env;
}

ProcessResult At(const DrawingSimulator& sim, std::vector<std::string> args, Env env = {}) {
    args.insert(args.begin(), {"--port", sim.Link()});
    return Vyxctl(args, WithLocale(std::move(env)));
}

TEST(CliTextEncoding, AutoEncodesForTheDisplaysFontSet) {
    DrawingSimulator sim;
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(At(sim, {"font-set", "Euro(CP-858)"}).exitStatus, 0);
    const ProcessResult text =
        At(sim, {"text", "--encoding", "auto", "Caf\u00e9 cr\u00e8me", "4,50 \u20ac"});
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_EQ(text.err, "");
    const std::string screen = sim.Stop();
    EXPECT_NE(screen.find(Drawn("Caf\u00e9 cr\u00e8me", 10)), std::string::npos) << screen;
    EXPECT_NE(screen.find(Drawn("4,50 \u20ac", 6)), std::string::npos) << screen;
}

TEST(CliTextEncoding, CyrillicInTheSystemCodePage) {
    DrawingSimulator sim;
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(At(sim, {"font-set", "Russian(Windows-1251)"}).exitStatus, 0);
    const std::string line1 = "\u0418\u0442\u043e\u0433\u043e: 4,50";         // Итого: 4,50
    const std::string line2 = "\u0421\u043f\u0430\u0441\u0438\u0431\u043e!";  // Спасибо!
    const ProcessResult text = At(sim, {"text", line1, line2}, {{"VYX_CODEPAGE", "1251"}});
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_EQ(text.err, "");
    const std::string screen = sim.Stop();
    EXPECT_NE(screen.find(Drawn(line1, 11)), std::string::npos) << screen;
    EXPECT_NE(screen.find(Drawn(line2, 8)), std::string::npos) << screen;
}

TEST(CliTextEncoding, NamedCodePagesAndTheLocalesCodePage) {
    struct Case {
        const char* fontSet;
        std::vector<std::string> encoding;  // the option, or none
        Env env;
        std::string text;
        std::size_t columns;
    };
    const Env western = {{"VYX_CODEPAGE", "1252"}, {"LC_ALL", "C.UTF-8"}};
    // Without LC_ALL and LC_CTYPE, LANG names the locale the code page comes from.
    const Env greek = {
        {"VYX_CODEPAGE", ""}, {"LC_ALL", ""}, {"LC_CTYPE", ""}, {"LANG", "el_GR.UTF-8"}};
    const std::string athens = "\u0391\u03b8\u03ae\u03bd\u03b1";  // Αθήνα
    const Case cases[] = {
        {"Greek(Windows-1253)", {"--encoding", "windows-1253"}, western, athens, 5},
        {"Greek(Windows-1253)", {}, greek, athens, 5},
        {"Hebrew(ISO/IEC 8859-8)",
         {"--encoding", "iso-8859-8"},
         western,
         "\u05e9\u05dc\u05d5\u05dd",
         4},
        {"Katakana", {"--encoding", "jis_x0201"}, western, "\uff76\uff80\uff76\uff85 \u00a5500", 9},
        {"USA(CP-437)", {"--encoding", "437"}, western, "\u2591\u2592\u2593 \u00bd", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fontSet);
        DrawingSimulator sim;
        ASSERT_TRUE(sim.Started());
        ASSERT_EQ(At(sim, {"font-set", c.fontSet}).exitStatus, 0);
        std::vector<std::string> args = {"--port", sim.Link(), "text"};
        args.insert(args.end(), c.encoding.begin(), c.encoding.end());
        args.push_back(c.text);
        const ProcessResult text = Vyxctl(args, c.env);
        EXPECT_EQ(text.exitStatus, 0) << text.err;
        EXPECT_EQ(text.err, "");
        const std::string screen = sim.Stop();
        EXPECT_NE(screen.find(Drawn(c.text, c.columns)), std::string::npos) << screen;
    }
}

TEST(CliTextEncoding, ReplacementsAndCutsAreToldOnStderr) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"text", "--encoding", "cp1252", "\u0416ar \u0416", "ok"},
         "vyxctl: line 1 (CP1252): 2 characters have no form in the code page and went out "
         "as \"?\"\n"},
        {{"text", "--encoding", "1252", "x", "ABCDEFGHIJKLMNOPQRSTUVWXY"},
         "vyxctl: line 2 (CP1252): cut to 20 bytes; left out: \"UVWXY\"\n"},
        // The character of two bytes that would end at byte 21 is left out whole.
        {{"text", "--encoding", "932", std::string(19, 'a') + "\u65e5\u672c"},
         "vyxctl: line 1 (CP932): cut to 20 bytes; left out: \"\u65e5\u672c\"\n"},
        {{"text", "--encoding", "CP-932", "\u20ac" + std::string(20, 'b')},
         "vyxctl: line 1 (CP932): 1 character has no form in the code page and went out as "
         "\"?\"\nvyxctl: line 1 (CP932): cut to 20 bytes; left out: \"b\"\n"},
        {{"text", "fine", "too"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        DrawingSimulator sim;
        ASSERT_TRUE(sim.Started());
        const ProcessResult text = At(sim, c.args, {{"VYX_CODEPAGE", "1252"}});
        EXPECT_EQ(text.exitStatus, 0);
        EXPECT_EQ(text.err, c.err);
    }
}

TEST(CliTextEncoding, AFontSetWithoutCodePageIsTakenAsCp437) {
    DrawingSimulator sim;
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(At(sim, {"font-set", "Slavonic"}).exitStatus, 0);
    const ProcessResult text = At(sim, {"text", "--encoding", "auto", "Caf\u00e9"});
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_EQ(text.err,
              "vyxctl: the display's font set \"Slavonic\" names no code page; encoding for "
              "CP437\n");
    EXPECT_NE(sim.Stop().find(Drawn("Caf\u00e9", 4)), std::string::npos);
}

TEST(CliTextEncoding, AutoWithoutAnAnswerSendsNothing) {
    DrawingSimulator sim({"--silent"});
    ASSERT_TRUE(sim.Started());
    const ProcessResult text =
        At(sim, {"text", "--encoding", "auto", "--timeout", "0.2", "never shown"});
    EXPECT_EQ(text.exitStatus, 4);
    EXPECT_NE(text.err.find("no valid reply within 0.2 s"), std::string::npos) << text.err;
    EXPECT_EQ(sim.Stop().find("never"), std::string::npos);
}

TEST(CliTextEncoding, UnknownEncodingsAreUsageErrors) {
    for (const char* encoding : {"klingon", "cp99999", "iso-8859-17", ""}) {
        SCOPED_TRACE(encoding);
        const ProcessResult result =
            Vyxctl({"--port", "/dev/null", "text", "--encoding", encoding, "x"}, WithLocale());
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_NE(result.err.find("--encoding"), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace vyx::test
