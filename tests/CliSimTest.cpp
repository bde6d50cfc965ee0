// vyxctl as a child process against the real simulator on a pseudo-terminal.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

#include "tests/CliSimulator.h"
#include "tests/CliTestCommon.h"
#include "tests/support/PtyPair.h"

namespace vyx::test {
namespace {

const std::vector<std::string> kRates = {"9600", "19200", "38400", "57600", "115200"};

class CliSimTest : public ::testing::Test {
  protected:
    static ProcessResult At(Simulator& sim, std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", sim.Link()});
        return Vyxctl(args);
    }
};

TEST_F(CliSimTest, InfoPrintsTheDisplaysReport) {
    Simulator sim({"--no-pacing", "--fw-version", "VYX 2.05b"});
    ASSERT_TRUE(sim.Started());
    const ProcessResult result = At(sim, {"info", "--report"});
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
        nlohmann::ordered_json::parse(json.out),
        nlohmann::ordered_json::parse(
            R"j({"version": "V1.0", "command_set": 1, "default_font": 17, "language": 1, )j"
            R"j("baud_rate": 3, "command_set_name": "EPSON POS D101", "default_font_name": )j"
            R"j("Russian(Windows-1251)", "language_name": "(FR) France", "baud_rate_bps": 57600})j"));
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
    Launch limited;
    limited.args = {VyxctlPath(), "--port", "COM12", "download"};
    limited.env = env;
    limited.cwd = m_Cwd.Path();
    limited.fileSizeLimit = 4;
    result = RunProcess(limited, kRunBound);
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
    EXPECT_NE(result.out.find("Serial devices (from "), std::string::npos);

    EXPECT_EQ(Vyxctl({"unmap", "COM9"}, env).exitStatus, 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports / "COM9")));
    result = Vyxctl({"unmap", "COM9"}, env);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "COM9 has no link in " + ports.Path() + "\n");

    // A bare name is a node in /dev.
    result = Vyxctl({"map", "COM5", "ttyUSB7"}, env);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(std::filesystem::read_symlink(ports / "COM5"), "/dev/ttyUSB7");

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

// A regular file is no serial device: one line from vyxctl, none from the serial layer.
TEST(CliExitTest, AFileThatIsNoDeviceExitsThreeInOneLine) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / "notes", "x"));
    const ProcessResult result = Vyxctl({"--port", dir / "notes", "info"});
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.err, "vyxctl: cannot open " + dir / "notes" +
                              ": not a serial device\n"
                              "hint: `vyxctl ports` lists the COM names and the serial devices "
                              "present\n");
}

TEST(CliExitTest, UsageErrorsExitTwoWithTheUsageLine) {
    const std::vector<std::vector<std::string>> cases = {
        {"reboot"},
        {"infoo"},
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
        {"download", "--com", "21"},
        {"download", "--com", "0"},
        {"--port", "/dev/ttyUSB0", "download", "--com", "255"},
        {"map", "COM7", ""},
        {"map", "COM0", "/dev/ttyUSB0"},
        {"map", "COM21", "/dev/ttyUSB0"},
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

TEST(CliExitTest, CommandsAreNamedAndListed) {
    const struct {
        std::vector<std::string> args;
        int exitStatus;
        std::string out;  // part of standard output
        std::string err;  // part of standard error
    } cases[] = {
        {{"infoo"}, 2, "", "vyxctl: unknown command \"infoo\"; did you mean info?\n"},
        {{"--port", "COM4", "prboe"}, 2, "", "unknown command \"prboe\"; did you mean probe?"},
        {{"reboot"}, 2, "", "unknown command \"reboot\"; `vyxctl help` lists the commands"},
        {{}, 2, "", "vyxctl: a command is required\n"},
        {{}, 2, "", "  probe        find the rate"},
        {{"help"}, 0, "probe", ""},
        {{"help"}, 0, "Exit status: 0 success, 1 standard output could not be written", ""},
    };
    for (const auto& c : cases) {
        const ProcessResult result = Vyxctl(c.args);
        EXPECT_EQ(result.exitStatus, c.exitStatus);
        EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
        EXPECT_EQ(c.out.empty(), result.out.empty()) << result.out;
    }
}

TEST(CliExitTest, OutputThatCannotBeWrittenExitsOne) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    const struct {
        std::vector<std::string> args;
        bool brokenPipe;  // else /dev/full
        const char* reason;
    } cases[] = {
        {{"ports"}, false, "No space left on device"},
        {{"--help"}, false, "No space left on device"},
        {{"--port", sim.Link(), "info"}, false, "No space left on device"},
        {{"ports"}, true, "Broken pipe"},
        {{"--port", sim.Link(), "info", "--json"}, true, "Broken pipe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        Launch launch;
        launch.args = c.args;
        launch.args.insert(launch.args.begin(), VyxctlPath());
        launch.stdoutFile = c.brokenPipe ? "" : "/dev/full";
        launch.stdoutBrokenPipe = c.brokenPipe;
        const ProcessResult result = RunProcess(launch, kRunBound);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.err,
                  std::string("vyxctl: cannot write standard output: ") + c.reason + "\n");
    }
}

// A display slow to answer, listening at 9600: its late answer arrives while probe
// tries 19200 (garbled, as on a wire at the wrong speed), so it is no answer at 19200.
TEST_F(CliSimTest, ProbeNeverTakesALateAnswerForTheRateTriedNow) {
    Simulator sim({"--reply-delay", "600"});
    ASSERT_TRUE(sim.Started());
    ProcessResult result = At(sim, {"probe", "--timeout", "0.5"});
    EXPECT_EQ(result.out.find("rate: 19200"), std::string::npos) << result.out;
    if (result.exitStatus != 0) {
        EXPECT_EQ(result.exitStatus, 4) << result.err;
    }
    result = At(sim, {"probe", "--timeout", "1.5"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out.rfind("rate: 9600\n", 0), 0u) << result.out;
}

TEST_F(CliSimTest, ProbeOfASilentLineTriesEveryRateAndExitsFour) {
    Simulator sim({"--silent"});
    ASSERT_TRUE(sim.Started());
    const ProcessResult result = At(sim, {"probe"});
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_NE(result.err.find("no reply at any rate from 9600 to 115200 (the wire time of each "
                              "plus 40 ms)"),
              std::string::npos)
        << result.err;
}

struct HandOffCase {
    const char* what;
    std::string configData;  // "" none, "dir" a folder, "locked" held with lockf, else bytes
    std::string tool;        // "" none on PATH, "dir" a folder, else the script
    int exitStatus;
    std::string err;  // start of standard error ("" none)
    bool toolRuns;    // the stand-in tool leaves "seen"
};

// The hand-off goes on whenever the display has been told; the exit status tells what
// a script needs to know.
TEST_F(CliDownloadTest, TheHandOffSaysWhatHappened) {
    // The stand-in tool notes where its standard output and error go.
    const std::string script =
        "#!/bin/sh\no=$(readlink /proc/$$/fd/1); e=$(readlink /proc/$$/fd/2)\n"
        "printf '%s\\n%s\\n' \"$o\" \"$e\" > out.tmp && mv out.tmp seen\n";
    const HandOffCase cases[] = {
        {"all well", "0123456789", script, 0, "", true},
        {"no config.data", "", script, 0, "", true},
        {"config.data a folder", "dir", script, 5,
         "vyxctl: config.data: exists but cannot be opened for writing; the record is not "
         "written: open: Is a directory\n",
         true},
        {"config.data locked by another program", "locked", script, 5,
         "vyxctl: config.data: exists but cannot be opened for writing; the record is not "
         "written: fcntl F_SETLK: ",
         true},
        {"no tool", "0123456789", "", 8,
         "vyxctl: the display waits in download mode, but NuvoISP.exe could not be started: "
         "posix_spawnp NuvoISP.exe: No such file or directory\nhint: ",
         false},
        {"the tool a folder", "0123456789", "dir", 8,
         "vyxctl: the display waits in download mode, but NuvoISP.exe could not be started: ",
         false},
    };
    for (const HandOffCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir cwd;
        TempDir bin;
        int lockHolder[2] = {-1, -1};
        pid_t holder = -1;
        if (c.configData == "dir") {
            std::filesystem::create_directory(cwd / "config.data");
        } else if (c.configData == "locked") {
            ASSERT_TRUE(WriteFileBytes(cwd / "config.data", "0123456789"));
            // A POSIX record lock binds a process: another one must hold it.
            ASSERT_EQ(::pipe(lockHolder), 0);
            holder = ::fork();
            if (holder == 0) {
                const int fd = ::open((cwd / "config.data").c_str(), O_RDWR);
                char ready = fd >= 0 && ::lockf(fd, F_LOCK, 0) == 0 ? 'y' : 'n';
                ::close(lockHolder[0]);
                static_cast<void>(::write(lockHolder[1], &ready, 1));
                ::pause();
                ::_exit(0);
            }
            ::close(lockHolder[1]);
            char ready = 0;
            ASSERT_EQ(::read(lockHolder[0], &ready, 1), 1);
            ASSERT_EQ(ready, 'y');
        } else if (!c.configData.empty()) {
            ASSERT_TRUE(WriteFileBytes(cwd / "config.data", c.configData));
        }
        if (c.tool == "dir") {
            std::filesystem::create_directory(bin / "NuvoISP.exe");
        } else if (!c.tool.empty()) {
            ASSERT_TRUE(WriteFileBytes(bin / "NuvoISP.exe", c.tool));
            ::chmod((bin / "NuvoISP.exe").c_str(), 0755);
        }
        auto env = Env();
        env.emplace_back("PATH", bin.Path() + ":/usr/bin:/bin");
        const ProcessResult result = Vyxctl({"--port", "COM12", "download"}, env, cwd.Path());
        if (holder > 0) {
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
            ::close(lockHolder[0]);
            EXPECT_EQ(ReadFileBytes(cwd / "config.data"), "0123456789");
        }
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_EQ(result.err.rfind(c.err, 0), 0u) << result.err;
        EXPECT_EQ(c.err.empty(), result.err.empty()) << result.err;
        // The display was told in every case; the record's absence is no stdout note.
        EXPECT_EQ(result.out.find("not in the current directory") != std::string::npos,
                  c.configData.empty())
            << result.out;
        if (c.toolRuns) {
            ASSERT_TRUE(WaitForPath(cwd / "seen", 5s));
            EXPECT_EQ(ReadFileBytes(cwd / "seen"), "/dev/null\n/dev/null\n");
        }
    }
}

TEST(CliPortsTest, AFailedMapLeavesTheOldLink) {
    TempDir ports;
    const std::vector<std::pair<std::string, std::string>> env = {{"VYX_PORTS_DIR", ports.Path()}};
    ASSERT_EQ(Vyxctl({"map", "COM7", "/dev/ttyUSB0"}, env).exitStatus, 0);
    const struct {
        std::string target;
        int exitStatus;
        std::string link;  // afterwards
    } cases[] = {
        {"", 2, "/dev/ttyUSB0"},
        {"/" + std::string(5000, 'x'), 5, "/dev/ttyUSB0"},
        {"/dev/ttyUSB1", 0, "/dev/ttyUSB1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target.size());
        const ProcessResult result = Vyxctl({"map", "COM7", c.target}, env);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_EQ(std::filesystem::read_symlink(ports / "COM7"), c.link);
    }
    // Nothing is left behind under a temporary name.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ports.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(CliSimTest, SetAppliesEverySettingInOneOpeningAndVerifiesAtTheNewRate) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    ProcessResult result = At(
        sim, {"set", "command-set=1", "font-set=cp858", "language=fr", "baud=115200", "--verify"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out,
              "command set -> 0x01 EPSON POS D101 (verified)\n"
              "default font -> 0x08 Euro(CP-858) (verified)\n"
              "language -> 0x01 (FR) France (verified)\n"
              "baud rate -> 0x04 115200 bps (verified)\n");
    result = At(sim, {"-b", "115200", "info"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out,
              "version       V1.0\n"
              "command set   0x01 (1)    EPSON POS D101\n"
              "default font  0x08 (8)    Euro(CP-858)\n"
              "language      0x01 (1)    (FR) France\n"
              "baud rate     0x04 (4)    115200 bps\n");
    // Without --verify each setting says what it set; --quiet says nothing.
    result = At(sim, {"-b", "115200", "set", "language=de", "command-set=ld220"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "language -> 0x02 (DE) Germany\ncommand set -> 0x00 LD220\n");
    result = At(sim, {"-b", "115200", "-q", "font-set", "katakana"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "");
    const std::string log = sim.Stop();
    // The first set is one opening: four frames and the query between two opens.
    const auto first = log.find("open");
    const auto second = log.find("open", first + 1);
    EXPECT_NE(log.find("frame 4", first), std::string::npos) << log;
    EXPECT_LT(log.find("frame 3", first), second) << log;
}

TEST(CliDryRunTest, PrintsTheFramesAndOpensNothing) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"set", "command-set=1", "baud=19200", "language=fr", "--verify"},
         "02 02 34 01 03 34  command set -> 0x01 EPSON POS D101\n"
         "02 02 36 01 03 36  language -> 0x01 (FR) France\n"
         "02 02 33 01 03 33  baud rate -> 0x01 19200 bps\n"
         "# then reopen at 19200 bps\n"
         "02 01 44 03 46  information query (then wait up to 2 s)\n"},
        {{"info", "-t", "0.5"}, "02 01 44 03 46  information query (then wait up to 0.5 s)\n"},
        {{"cell-test", "block"}, std::string(40 * 3 - 1, ' ') + "  cell test: block\n"},
        {{"download", "--com", "4"}, "02 03 40 AA 55 03 BF  download mode\n"},
    };
    TempDir cwd;
    ASSERT_TRUE(WriteFileBytes(cwd / "config.data", "0123456789"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        std::vector<std::string> args = {"--dry-run", "--port", sim.Link()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult result = Vyxctl(args, {}, cwd.Path());
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        const std::string header = "# " + sim.Link() + " at 9600 bps (dry run: not opened)\n";
        ASSERT_EQ(result.out.rfind(header, 0), 0u) << result.out;
        const std::string frames = result.out.substr(header.size());
        if (c.args.front() == "cell-test") {
            EXPECT_EQ(frames.substr(0, 5), "DB DB");
            EXPECT_EQ(frames.substr(frames.size() - 19), "  cell test: block\n");
        } else {
            EXPECT_EQ(frames, c.out);
        }
    }
    EXPECT_EQ(ReadFileBytes(cwd / "config.data"), "0123456789");
    EXPECT_EQ(sim.Stop().find("open"), std::string::npos);
    // map changes a link: it has no dry run.
    EXPECT_EQ(Vyxctl({"--dry-run", "map", "COM7", "/dev/ttyUSB0"}).exitStatus, 2);
}

// The bytes of the trace lines in one direction, joined; false when a line is not of
// the form "12:00:01.234567 > 02 01 44 03 46  ..D.F" (hex and ASCII agreeing in length).
bool TracedBytes(const std::string& err, char direction, std::string& bytes) {
    std::size_t start = 0;
    for (std::size_t end; (end = err.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = err.substr(start, end - start);
        if (line.starts_with("vyxctl: ")) {
            continue;
        }
        const auto gap = line.find("  ", 18);
        const bool form = line.size() > 18 && line[2] == ':' && line[5] == ':' && line[8] == '.' &&
                          line[15] == ' ' && line[17] == ' ' && gap != std::string::npos &&
                          (gap - 18 + 1) / 3 == line.size() - gap - 2;
        if (!form) {
            return false;
        }
        if (line[16] == direction) {
            bytes += (bytes.empty() ? "" : " ") + line.substr(18, gap - 18);
        }
    }
    return true;
}

TEST_F(CliSimTest, TraceDumpsEveryByteOnStandardError) {
    Simulator sim({"--no-pacing"});
    ASSERT_TRUE(sim.Started());
    for (const char* option : {"--trace", "-vv"}) {
        SCOPED_TRACE(option);
        const ProcessResult result = At(sim, {option, "info", "--json"});
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.out.front(), '{');  // standard output stays clean
        std::string sent;
        std::string received;
        EXPECT_TRUE(TracedBytes(result.err, '>', sent)) << result.err;
        EXPECT_TRUE(TracedBytes(result.err, '<', received)) << result.err;
        EXPECT_EQ(sent, "02 01 44 03 46");
        EXPECT_EQ(received, "02 12 44 56 31 2E 30 00 00 00 00 00 00 00 00 00 00 00 00 00 03 2C");
        EXPECT_NE(result.err.find("> 02 01 44 03 46  ..D.F\n"), std::string::npos);
    }
}

TEST_F(CliSimTest, ProbeSaysTheDisplayMayShowStrayCharactersAndClearClearsThem) {
    Simulator sim({"--no-pacing", "--baud", "38400"});
    ASSERT_TRUE(sim.Started());
    // On a terminal, the note follows the progress.
    PtyPair terminal;
    ASSERT_TRUE(terminal.ok());
    Launch launch;
    launch.args = {VyxctlPath(), "--port", sim.Link(), "probe"};
    launch.outputFile = terminal.SlavePath();
    EXPECT_EQ(RunProcess(launch, kRunBound).exitStatus, 0);
    const auto shown = terminal.ReadUntilQuiet(100ms, 5s);
    const std::string text(shown.begin(), shown.end());
    EXPECT_NE(text.find("the queries sent at 2 other rates may show as stray characters on the "
                        "display; `vyxctl --baud 38400 text \"\" \"\"` clears them"),
              std::string::npos)
        << text;

    const ProcessResult result = At(sim, {"probe", "--clear"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out.rfind("rate: 38400\n", 0), 0u) << result.out;
    const std::string log = sim.Stop();
    const auto cleared = log.rfind(R"(frame 2 "                    " "                    ")");
    EXPECT_NE(cleared, std::string::npos) << log;
    EXPECT_GT(cleared, log.rfind("reply")) << log;
}

TEST_F(CliSimTest, EnvironmentGivesPortAndRateAndAnOptionWins) {
    Simulator sim({"--no-pacing", "--baud", "19200"});
    ASSERT_TRUE(sim.Started());
    ProcessResult result =
        Vyxctl({"info", "--report"}, {{"VYX_PORT", sim.Link()}, {"VYX_BAUD", "19200"}});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, ReportOf("V1.0", " 0", " 0", " 0", " 1"));
    TempDir dir;
    result = Vyxctl({"-p", sim.Link(), "-b", "19200", "info", "-t", "1"},
                    {{"VYX_PORT", dir / "gone"}, {"VYX_BAUD", "9600"}});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    result = Vyxctl({"info"}, {{"VYX_PORT", sim.Link()}, {"VYX_BAUD", "1200"}});
    EXPECT_EQ(result.exitStatus, 2);
    result = Vyxctl({"--help"});
    EXPECT_NE(result.out.find("VYX_PORT"), std::string::npos);
    EXPECT_NE(result.out.find("VYX_BAUD"), std::string::npos);
}

TEST(CliExitTest, ListArgumentsRefuseAmbiguousAndUnknownForms) {
    const struct {
        std::vector<std::string> args;
        std::string err;  // part of standard error
    } cases[] = {
        {{"font-set", "greek"},
         "font-set \"greek\" is ambiguous: 10 \"Greek(Windows-1253)\", 13 \"Greek(CP737)\""},
        {{"command-set", "utc"}, "2 \"UTC Standard\", 3 \"UTC Enhance\""},
        {{"set", "language=xx"}, "\"xx\" is no entry of the language list"},
        {{"set", "colour=red"}, "\"colour=red\" is no KEY=VALUE"},
        {{"set", "language=fr", "language=de"}, "language is given twice"},
        {{"lists", "fonts"}, "fonts"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const ProcessResult result = Vyxctl(c.args);
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
    const ProcessResult lists = Vyxctl({"lists", "language"});
    EXPECT_EQ(lists.exitStatus, 0);
    EXPECT_NE(lists.out.find("    1  0x01  (FR) France\n"), std::string::npos) << lists.out;
}

}  // namespace
}  // namespace vyx::test
