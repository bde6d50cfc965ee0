// vyxctl as a child process against the real simulator on a pseudo-terminal.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/CliTestCommon.h"

namespace vyx::test {
namespace {

const std::vector<std::string> kRates = {"9600", "19200", "38400", "57600", "115200"};

// vyx-display-sim serving on a pseudo-terminal reached through <tmp>/dev; its plain log
// goes to <tmp>/sim.log.
class Simulator {
  public:
    explicit Simulator(std::vector<std::string> options) {
        std::vector<std::string> args = {VYX_SIM_PATH, "--plain", "--link", Link()};
        args.insert(args.end(), options.begin(), options.end());
        m_Started = m_Child.Start({args, {}, {}, m_Dir / "sim.log"}) && WaitForPath(Link(), 5s);
    }
    bool Started() const { return m_Started; }
    std::string Link() const { return m_Dir / "dev"; }
    // Ends the simulator and returns its log.
    std::string Stop() {
        m_Child.Stop(5s);
        return ReadFileBytes(m_Dir / "sim.log");
    }

  private:
    TempDir m_Dir;
    ChildProcess m_Child;
    bool m_Started = false;
};

class CliSimTest : public ::testing::Test {
  protected:
    ProcessResult At(Simulator& sim, std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", sim.Link()});
        return Vyxctl(args);
    }
};

TEST_F(CliSimTest, InfoPrintsTheDisplaysReport) {
    Simulator sim({"--no-pacing", "--fw-version", "VYX 2.05b"});
    ASSERT_TRUE(sim.Started());
    const ProcessResult result = At(sim, {"info"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, ReportOf("VYX 2.05b", " 0", " 0", " 0", " 0"));
}

TEST_F(CliSimTest, SettingsTakeAndShowInTheJson) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    EXPECT_EQ(At(sim, {"command-set", "epson pos d101", "--verify"}).exitStatus, 0);
    EXPECT_EQ(At(sim, {"font-set", "17", "--verify"}).exitStatus, 0);
    EXPECT_EQ(At(sim, {"language", "(FR) FRANCE", "--verify"}).exitStatus, 0);
    const ProcessResult baud = At(sim, {"baud", "57600", "--verify"});
    EXPECT_EQ(baud.exitStatus, 0) << baud.err;
    EXPECT_EQ(baud.out, "verified: baud rate 3 (\"57600\")\n");
    const ProcessResult json = At(sim, {"--baud", "57600", "info", "--json"});
    EXPECT_EQ(json.exitStatus, 0) << json.err;
    EXPECT_EQ(
        json.out,
        R"j({"version": "V1.0", "command_set": 1, "default_font": 17, "language": 1, )j"
        R"j("baud_rate": 3, "command_set_name": "EPSON POS D101", "default_font_name": )j"
        R"j("Russian(Windows-1251)", "language_name": "(FR) France", "baud_rate_bps": 57600})j"
        "\n");
    // At the old rate the display no longer answers.
    EXPECT_EQ(At(sim, {"info", "--timeout", "0.2"}).exitStatus, 4);
}

TEST_F(CliSimTest, TextAndCellTestReachTheDisplay) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    EXPECT_EQ(At(sim, {"text", "Total", "12.50 €"}).exitStatus, 0);
    EXPECT_EQ(At(sim, {"cell-test", "block"}).exitStatus, 0);
    const std::string log = sim.Stop();
    EXPECT_NE(log.find(R"j(frame 2 "Total               " "12.50 \x80             ")j"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("chars DB DB"), std::string::npos) << log;
}

TEST_F(CliSimTest, ProbeFindsEachRate) {
    for (std::size_t index = 0; index < kRates.size(); ++index) {
        const std::string& rate = kRates[index];
        SCOPED_TRACE(rate);
        Simulator sim({"--no-pacing", "--baud", rate});
        ASSERT_TRUE(sim.Started());
        const ProcessResult result = At(sim, {"probe", "--timeout", "0.3"});
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        const std::string code = " " + std::to_string(index);
        EXPECT_EQ(result.out, "rate: " + rate + "\n" + ReportOf("V1.0", " 0", " 0", " 0", code));
    }
}

TEST_F(CliSimTest, ProbeTriesTheGivenRateFirst) {
    Simulator sim({"--no-pacing", "--baud", "115200"});
    ASSERT_TRUE(sim.Started());
    const ProcessResult result = At(sim, {"--baud", "115200", "probe", "--timeout", "0.3"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out.rfind("rate: 115200\n", 0), 0u);
    // Nothing was sent at another rate.
    EXPECT_EQ(sim.Stop().find("noise"), std::string::npos);
}

TEST_F(CliSimTest, ProbeWithoutAnswerExitsFour) {
    Simulator sim({"--silent"});
    ASSERT_TRUE(sim.Started());
    const ProcessResult result = At(sim, {"probe", "--timeout", "0.1"});
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(sim.Link() + ": no reply at any rate from 9600 to 115200"),
              std::string::npos)
        << result.err;
}

struct ReplyShapeCase {
    std::vector<std::string> simOptions;
    std::string timeout;
    int exitStatus;
};

TEST_F(CliSimTest, InfoWaitsForTheWholeReplyWithinTheTimeout) {
    const ReplyShapeCase cases[] = {
        {{"--reply-split", "10", "--split-pause", "150"}, "2", 0},  // two drains, one report
        {{"--reply-delay", "300"}, "1.5", 0},
        {{"--reply-delay", "600"}, "0.2", 4},
        {{"--short-reply", "--no-pacing"}, "0.3", 4},  // 21 bytes never complete it
        {{"--silent"}, "0.2", 4},
    };
    for (const ReplyShapeCase& c : cases) {
        SCOPED_TRACE(c.simOptions.front());
        Simulator sim(c.simOptions);
        ASSERT_TRUE(sim.Started());
        const ProcessResult result = At(sim, {"info", "--timeout", c.timeout});
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_EQ(result.out.empty(), c.exitStatus != 0);
    }
}

class CliDownloadTest : public CliSimTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_Sim.Started());
        ASSERT_EQ(Vyxctl({"map", "COM12", m_Sim.Link()}, Env()).exitStatus, 0);
    }
    std::vector<std::pair<std::string, std::string>> Env() {
        return {{"VYX_PORTS_DIR", m_Ports.Path()}};
    }

    Simulator m_Sim{{"--no-pacing"}};
    TempDir m_Ports;
    TempDir m_Cwd;
};

TEST_F(CliDownloadTest, WritesTheRecordInPlaceAndHandsOver) {
    const std::string tail(20, 'T');
    ASSERT_TRUE(WriteFileBytes(m_Cwd / "config.data", std::string(10, 'x') + tail));
    const ProcessResult result =
        Vyxctl({"--port", "COM12", "download", "--no-tool"}, Env(), m_Cwd.Path());
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    // COM12 is index 11: offset 8 is ";"; the file keeps its bytes from offset 10 on.
    EXPECT_EQ(ReadFileBytes(m_Cwd / "config.data").substr(0, 9), "U,0,S,1,;");
    EXPECT_EQ(ReadFileBytes(m_Cwd / "config.data").substr(10), tail);
    EXPECT_NE(m_Sim.Stop().find("frame @"), std::string::npos);
}

TEST_F(CliDownloadTest, ADevicePathTakesTheComNumberFromCom) {
    ASSERT_TRUE(WriteFileBytes(m_Cwd / "config.data", ""));
    const ProcessResult result = Vyxctl(
        {"--port", m_Sim.Link(), "download", "--no-tool", "--com", "20"}, Env(), m_Cwd.Path());
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(ReadFileBytes(m_Cwd / "config.data").substr(0, 9), "U,0,S,1,C");
    EXPECT_EQ(ReadFileBytes(m_Cwd / "config.data").size(), 10u);
}

TEST_F(CliDownloadTest, StartsTheToolAfterTheRecordIsWritten) {
    TempDir bin;
    // The stand-in tool copies the record it finds, then signals by renaming.
    ASSERT_TRUE(WriteFileBytes(bin / "NuvoISP.exe",
                               "#!/bin/sh\ncp config.data seen.tmp && mv seen.tmp seen\n"));
    ::chmod((bin / "NuvoISP.exe").c_str(), 0755);
    ASSERT_TRUE(WriteFileBytes(m_Cwd / "config.data", "0123456789"));
    auto env = Env();
    env.emplace_back("PATH", bin.Path() + ":/usr/bin:/bin");
    const ProcessResult result = Vyxctl({"--port", "COM12", "download"}, env, m_Cwd.Path());
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    ASSERT_TRUE(WaitForPath(m_Cwd / "seen", 5s));
    EXPECT_EQ(ReadFileBytes(m_Cwd / "seen").substr(0, 9), "U,0,S,1,;");
}

TEST_F(CliDownloadTest, AMissingConfigIsNotCreatedAndAFailedWriteExitsFiveWithoutTheTool) {
    ProcessResult result =
        Vyxctl({"--port", "COM12", "download", "--no-tool"}, Env(), m_Cwd.Path());
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_FALSE(std::filesystem::exists(m_Cwd / "config.data"));

    // Opens, but the write fails past a file size limit of 4 bytes.
    // The tool is then not started: vyxctl would say on standard error that it could not.
    ASSERT_TRUE(WriteFileBytes(m_Cwd / "config.data", ""));
    auto env = Env();
    env.emplace_back("PATH", m_Cwd.Path());
    result = RunProcess({{VyxctlPath(), "--port", "COM12", "download"}, env, m_Cwd.Path(), {}, 4},
                        kRunBound);
    EXPECT_EQ(result.exitStatus, 5);
    EXPECT_EQ(result.err.rfind("vyxctl: config.data: cannot write the record: ", 0), 0u)
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

TEST(CliPortsTest, MapUnmapAndPortsInAPrivateFolder) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    TempDir ports;
    const std::vector<std::pair<std::string, std::string>> env = {{"VYX_PORTS_DIR", ports.Path()}};

    ProcessResult result = Vyxctl({"map", "com9", sim.Link()}, env);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(std::filesystem::read_symlink(ports / "COM9"), sim.Link());
    EXPECT_EQ(Vyxctl({"--port", "com9", "info"}, env).exitStatus, 0);

    result = Vyxctl({"ports"}, env);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.out.find("COM9  " + ports / "COM9" + " -> " + sim.Link()), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("COM20 /dev/ttyS19"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Serial devices present:"), std::string::npos);

    EXPECT_EQ(Vyxctl({"unmap", "COM9"}, env).exitStatus, 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports / "COM9")));
    result = Vyxctl({"unmap", "COM9"}, env);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "COM9 has no link in " + ports.Path() + "\n");

    // An entry that is no link is left alone.
    ASSERT_TRUE(WriteFileBytes(ports / "COM3", "keep"));
    result = Vyxctl({"map", "COM3", "/dev/ttyUSB0"}, env);
    EXPECT_EQ(result.exitStatus, 5);
    EXPECT_EQ(ReadFileBytes(ports / "COM3"), "keep");
}

TEST(CliExitTest, AMissingDeviceExitsThreeWithAHint) {
    TempDir dir;
    const ProcessResult result = Vyxctl({"--port", dir / "gone", "info"});
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.err, "vyxctl: cannot open " + dir / "gone" +
                              ": No such file or directory\n"
                              "hint: `vyxctl ports` lists the COM names and the serial devices "
                              "present\n");
}

TEST(CliExitTest, UsageErrorsExitTwoWithTheUsageLine) {
    const std::vector<std::vector<std::string>> cases = {
        {"reboot"},
        {"--baud", "1200", "info"},
        {"baud", "4800"},
        {"command-set", "10"},
        {"command-set", "LD 220"},
        {"font-set", "18"},
        {"language", "13"},
        {"cell-test", "stripes"},
        {"info", "--timeout", "0"},
        {"info", "--timeout", "soon"},
        {"text"},
        {"--port", "LPT1", "info"},
        {"--port", "/dev/ttyUSB0", "download"},
        {"map", "COM0", "/dev/ttyUSB0"},
        {"unmap", "PRN"},
    };
    for (const auto& args : cases) {
        const ProcessResult result = Vyxctl(args);
        EXPECT_EQ(result.exitStatus, 2) << (args.empty() ? "" : args.front());
        EXPECT_EQ(result.out, "");
        ASSERT_GE(result.err.size(), UsageLine().size());
        EXPECT_EQ(result.err.substr(result.err.size() - UsageLine().size()), UsageLine());
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
    }
}

TEST(CliExitTest, VersionAndHelp) {
    ProcessResult result = Vyxctl({"--version"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "vyxctl 2.05\n");
    result = Vyxctl({"--help"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.out.find("probe"), std::string::npos);
    result = Vyxctl({"download", "--help"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.out.find("--no-tool"), std::string::npos);
}

}  // namespace
}  // namespace vyx::test
