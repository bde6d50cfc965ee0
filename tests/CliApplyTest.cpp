// vyxctl apply and profile save as child processes: against the real simulator on a
// pseudo-terminal, whose log tells which frames reached the display in which opening,
// and against a far end the test plays that does not take a setting.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

#include "tests/CliSimulator.h"
#include "tests/CliTestCommon.h"
#include "tests/support/PtyPair.h"

namespace vyx::test {
namespace {

using Json = nlohmann::ordered_json;

// The commands of the frames the display took, one string per opening of the port:
// "D4563" is the query, then command set, font set, language and baud rate; "2" a text.
std::vector<std::string> FramesPerOpening(const std::string& log) {
    std::vector<std::string> openings;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line == "open") {
            openings.emplace_back();
        } else if (line.rfind("frame ", 0) == 0 && line.size() > 6 && !openings.empty()) {
            openings.back() += line[6];
        }
    }
    return openings;
}

class CliApplyTest : public ::testing::Test {
  protected:
    // A profile file in the test's own folder.
    std::string Profile(const std::string& text, const std::string& name = "shop.toml") {
        std::string path = m_Dir / name;
        EXPECT_TRUE(WriteFileBytes(path, text));
        return path;
    }
    static ProcessResult At(const Simulator& sim, std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", sim.Link()});
        return Vyxctl(args);
    }
    static Json Parsed(const ProcessResult& result) {
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
        return Json::parse(result.out, nullptr, false);
    }

    TempDir m_Dir;
};

const std::string kShop =
    "command-set = \"EPSON POS D101\"\nfont-set = \"cp858\"\nlanguage = \"fr\"\nbaud = 115200\n";

TEST_F(CliApplyTest, ChangesAllFourOnceAndThenSendsOnlyTheQuery) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    const std::string profile = Profile(kShop);
    ProcessResult result = At(sim, {"apply", profile});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out,
              "command set: 0x00 LD220 -> 0x01 EPSON POS D101\n"
              "default font: 0x00 USA(CP-437) -> 0x08 Euro(CP-858)\n"
              "language: 0x00 (US) USA -> 0x01 (FR) France\n"
              "baud rate: 0x00 9600 bps -> 0x04 115200 bps\n");
    EXPECT_EQ(result.err, "");
    result = At(sim, {"--baud", "115200", "apply", profile});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "no change\n");
    result = At(sim, {"--baud", "115200", "apply", "--check", profile});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "matches the profile\n");
    // The settings in one opening, the baud rate last; the verifying query after the
    // reopening at the new rate; then nothing but queries.
    EXPECT_EQ(FramesPerOpening(sim.Stop()), (std::vector<std::string>{"D4563", "D", "D", "D"}));
}

TEST_F(CliApplyTest, CheckFindsASettingChangedBehindItsBackAndApplyMendsOnlyThat) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    const std::string profile = Profile(kShop);
    ASSERT_EQ(At(sim, {"apply", profile}).exitStatus, 0);
    EXPECT_EQ(At(sim, {"-b", "115200", "apply", "--check", profile}).exitStatus, 0);
    ASSERT_EQ(At(sim, {"-b", "115200", "set", "language=uk"}).exitStatus, 0);

    ProcessResult result = At(sim, {"-b", "115200", "apply", "--check", profile});
    EXPECT_EQ(result.exitStatus, 6);
    EXPECT_EQ(result.out, "language: 0x03 (UK) England. -> 0x01 (FR) France\n");
    result = At(sim, {"-b", "115200", "apply", "--check", "--json", profile});
    EXPECT_EQ(result.exitStatus, 6);
    const Json json = Parsed(result);
    EXPECT_EQ(json["check"], true);
    EXPECT_EQ(json["changed"], false);
    EXPECT_EQ(json["status"], 6);
    EXPECT_TRUE(json["error"].is_null());
    EXPECT_EQ(json["before"]["language"], 3);
    EXPECT_EQ(json["after"], json["before"]);  // a check changes nothing
    EXPECT_EQ(json["differences"], Json::parse(R"j([{"setting": "language", "from": 3,
        "from_name": "(UK) England.", "to": 1, "to_name": "(FR) France"}])j"));

    result = At(sim, {"-b", "115200", "apply", profile});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "language: 0x03 (UK) England. -> 0x01 (FR) France\n");
    const std::vector<std::string> openings = FramesPerOpening(sim.Stop());
    ASSERT_FALSE(openings.empty());
    EXPECT_EQ(openings.back(), "D6D");  // the one setting, then the verifying query
}

TEST_F(CliApplyTest, JsonTellsBeforeAfterAndTheDifferences) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    const std::string profile =
        Profile("command-set = 3\nfont-set = 17\nlanguage = \"ru\"\nbaud = 57600\n");
    ProcessResult result = At(sim, {"apply", "--json", profile});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    Json json = Parsed(result);
    EXPECT_EQ(json["port"], sim.Link());
    EXPECT_EQ(json["check"], false);
    EXPECT_EQ(json["changed"], true);
    EXPECT_EQ(json["rate"], 9600);
    EXPECT_EQ(json["before"], Json::parse(R"j({"version": "V1.0", "command_set": 0,
        "default_font": 0, "language": 0, "baud_rate": 0, "command_set_name": "LD220",
        "default_font_name": "USA(CP-437)", "language_name": "(US) USA",
        "baud_rate_bps": 9600})j"));
    EXPECT_EQ(json["after"], Json::parse(R"j({"version": "V1.0", "command_set": 3,
        "default_font": 17, "language": 12, "baud_rate": 3, "command_set_name": "UTC Enhance",
        "default_font_name": "Russian(Windows-1251)", "language_name": "(RU) Russia",
        "baud_rate_bps": 57600})j"));
    ASSERT_EQ(json["differences"].size(), 4u);
    const char* order[] = {"command-set", "font-set", "language", "baud"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(json["differences"][i]["setting"], order[i]);
        EXPECT_EQ(json["differences"][i]["from"], 0);
    }
    EXPECT_EQ(json["status"], 0);
    EXPECT_TRUE(json["error"].is_null());

    result = At(sim, {"-b", "57600", "apply", "--json", profile});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    json = Parsed(result);
    EXPECT_EQ(json["changed"], false);
    EXPECT_EQ(json["differences"], Json::array());
    EXPECT_EQ(json["after"], json["before"]);
    EXPECT_EQ(json["after"]["baud_rate_bps"], 57600);
}

TEST_F(CliApplyTest, ASavedProfileAppliedChangesNothing) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(At(sim, {"set", "command-set=dsp800", "font-set=1253", "language=jp", "baud=19200"})
                  .exitStatus,
              0);
    const std::string saved = m_Dir / "saved.toml";
    ProcessResult result = At(sim, {"-b", "19200", "profile", "save", saved});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "profile of " + sim.Link() + " written to " + saved + "\n");
    const std::string text = ReadFileBytes(saved);
    EXPECT_NE(text.find("command-set = \"DSP800\""), std::string::npos) << text;
    EXPECT_NE(text.find("baud = 19200"), std::string::npos) << text;
    EXPECT_NE(text.find("# A display cannot report its text"), std::string::npos) << text;

    result = At(sim, {"-b", "19200", "apply", saved});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "no change\n");
    const std::vector<std::string> openings = FramesPerOpening(sim.Stop());
    ASSERT_EQ(openings.size(), 3u);
    EXPECT_EQ(openings[1], "D");  // save: the query
    EXPECT_EQ(openings[2], "D");  // apply: the query, no setting frame
}

TEST_F(CliApplyTest, AFailedSaveKeepsTheFileThatWasThere) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    const std::string old = "# the profile of last year\nbaud = 9600\n";
    const std::string path = Profile(old, "keep.toml");
    Launch limited;
    limited.args = {VyxctlPath(), "--port", sim.Link(), "profile", "save", path};
    limited.fileSizeLimit = 40;  // the new profile is longer: its write fails
    const ProcessResult result = RunProcess(limited, kRunBound);
    EXPECT_EQ(result.exitStatus, 5);
    EXPECT_EQ(result.err, "vyxctl: cannot write the profile " + path + ": File too large\n");
    EXPECT_EQ(ReadFileBytes(path), old);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_Dir.Path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);  // no temporary left
}

TEST_F(CliApplyTest, ProbeFindsTheRateAndSetsTheDisplayThere) {
    const struct {
        const char* simRate;
        std::string profile;
        int bps;  // the rate it answered at
        // Frames per opening: a rate that is not the display's gets noise, no frame.
        std::vector<std::string> openings;
    } cases[] = {
        // The profile's rate is tried first: a display set up before listens there.
        {"115200", kShop, 115200, {"D456D"}},
        // 9600 (the profile's), 19200, then 38400, where the new rate is set and
        // verified after the reopening.
        {"38400",
         "command-set = 0\nfont-set = 0\nlanguage = 0\nbaud = 9600\n",
         38400,
         {"", "", "D3", "D"}},
        // probe-first comes before the profile's rate.
        {"57600", kShop + "probe-first = 57600\n", 57600, {"D4563", "D"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.simRate);
        Simulator sim({"--no-pacing", "--baud", c.simRate});
        ASSERT_TRUE(sim.Started());
        const ProcessResult result = At(sim, {"apply", "--probe", "--json", Profile(c.profile)});
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        const Json json = Parsed(result);
        EXPECT_EQ(json["rate"], c.bps);
        EXPECT_EQ(json["status"], 0);
        EXPECT_EQ(json["changed"], true);
        const std::string log = sim.Stop();
        EXPECT_EQ(FramesPerOpening(log), c.openings) << log;
    }
}

TEST_F(CliApplyTest, LinesAreWrittenEveryTimeButAreNoChange) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    const std::string profile = Profile(
        "command-set = 0\nfont-set = \"cp858\"\nlanguage = 0\nbaud = 9600\n"
        "line1 = \"Welcome\"\nline2 = \"Total 0.00 €\"\n");
    ProcessResult result = At(sim, {"apply", profile});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out,
              "default font: 0x00 USA(CP-437) -> 0x08 Euro(CP-858)\ntext lines written\n");
    result = At(sim, {"apply", "--json", profile});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const Json json = Parsed(result);
    EXPECT_EQ(json["changed"], false);
    EXPECT_EQ(json["text_written"], true);
    result = At(sim, {"apply", "--check", profile});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "matches the profile\n");
    const std::string log = sim.Stop();
    EXPECT_EQ(FramesPerOpening(log), (std::vector<std::string>{"D5D2", "D2", "D"}));
    // The euro sign as the display's font set (CP858) has it.
    EXPECT_NE(log.find(R"j(frame 2 "Welcome             " "Total 0.00 \xD5        ")j"),
              std::string::npos)
        << log;
}

TEST_F(CliApplyTest, EveryFailureStillPrintsTheObject) {
    Simulator silent({"--silent"});
    ASSERT_TRUE(silent.Started());
    const std::string good = Profile(kShop);
    const std::string bad = Profile(kShop + "colour = 1\n", "bad.toml");
    const struct {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string error;  // the start of the error
    } cases[] = {
        {"no such port",
         {"--port", m_Dir / "gone", "apply", "--json", good},
         3,
         "cannot open " + m_Dir / "gone" + ": No such file or directory"},
        {"no reply",
         {"--port", silent.Link(), "apply", "--json", "-t", "0.2", good},
         4,
         silent.Link() + ": no valid reply within 0.2 s at 9600 bps (nothing arrived)"},
        {"no reply at any rate",
         {"--port", silent.Link(), "apply", "--probe", "--json", good},
         4,
         silent.Link() + ": no reply at any rate"},
        {"bad profile",
         {"--port", silent.Link(), "apply", "--check", "--json", bad},
         2,
         bad + ":5: unknown key \"colour\""},
        {"no profile",
         {"--port", silent.Link(), "apply", "--json", m_Dir / "none.toml"},
         2,
         "cannot read the profile " + m_Dir / "none.toml" + ": No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessResult result = Vyxctl(c.args);
        EXPECT_EQ(result.exitStatus, c.status) << result.err;
        const Json json = Parsed(result);
        ASSERT_TRUE(json.is_object()) << result.out;
        EXPECT_EQ(json["status"], c.status);
        ASSERT_TRUE(json["error"].is_string());
        EXPECT_EQ(json["error"].get<std::string>().substr(0, c.error.size()), c.error);
        EXPECT_EQ(json["changed"], false);
        EXPECT_TRUE(json["before"].is_null());
        EXPECT_TRUE(json["after"].is_null());
        // The operator reads the same reason on standard error, once.
        EXPECT_EQ(result.err.find("vyxctl: " + c.error), 0u) << result.err;
        EXPECT_EQ(result.err.find("vyxctl: ", 1), std::string::npos) << result.err;
    }
}

// A display that answers but keeps its old command set.
TEST(CliApplyPtyTest, ASettingThatDoesNotTakeExitsSixAndNamesIt) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    TempDir dir;
    const std::string profile = dir / "p.toml";
    ASSERT_TRUE(
        WriteFileBytes(profile, "command-set = 1\nfont-set = 0\nlanguage = 0\nbaud = 9600\n"));
    ChildProcess child;
    Launch launch;
    launch.args = {VyxctlPath(), "--port", pty.SlavePath(), "apply", "--json", profile};
    ASSERT_TRUE(child.Start(launch));
    const std::vector<std::uint8_t> query = Hex("02 01 44 03 46");
    EXPECT_EQ(pty.Read(5, 5s), query);
    ASSERT_TRUE(pty.Write(Reply("V1.0", 0, 0, 0, 0)));
    EXPECT_EQ(pty.Read(11, 5s), Concat({Hex("02 02 34 01 03 34"), query}));
    ASSERT_TRUE(pty.Write(Reply("V1.0", 0, 0, 0, 0)));
    const ProcessResult result = child.Finish(kRunBound);
    EXPECT_EQ(result.exitStatus, 6);
    const std::string complaint = pty.SlavePath() +
                                  ": verify failed: the display reports command set 0x00 LD220, "
                                  "not 0x01 EPSON POS D101";
    EXPECT_EQ(result.err, "vyxctl: " + complaint + "\n");
    const Json json = Json::parse(result.out);
    EXPECT_EQ(json["status"], 6);
    EXPECT_EQ(json["error"], complaint);
    EXPECT_EQ(json["changed"], true);
    EXPECT_EQ(json["after"]["command_set"], 0);
}

// A device that goes away while --probe waits is not "no reply at any rate": the loss
// ends the probe and is named.
TEST(CliApplyPtyTest, ALostDeviceEndsTheProbeAndIsNamed) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    TempDir dir;
    const std::string profile = dir / "p.toml";
    ASSERT_TRUE(
        WriteFileBytes(profile, "command-set = 1\nfont-set = 0\nlanguage = 0\nbaud = 9600\n"));
    ChildProcess child;
    Launch launch;
    launch.args = {VyxctlPath(), "--port",    pty.SlavePath(), "apply", "--probe",
                   "--json",     "--timeout", "600",           profile};
    ASSERT_TRUE(child.Start(launch));
    EXPECT_EQ(pty.Read(5, 5s), Hex("02 01 44 03 46"));
    pty.CloseMaster();
    // The run bound is far shorter than the timeout: only the loss can end it in time.
    const ProcessResult result = child.Finish(kRunBound);
    EXPECT_EQ(result.exitStatus, 4) << result.err;
    const Json json = Json::parse(result.out, nullptr, false);
    ASSERT_TRUE(json.is_object()) << result.out;
    EXPECT_EQ(json["status"], 4);
    EXPECT_EQ(json["error"],
              pty.SlavePath() + ": device lost while waiting for the reply (nothing arrived)");
}

}  // namespace
}  // namespace vyx::test
