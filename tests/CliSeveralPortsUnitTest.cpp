// The parts of a run on several ports that need no display: the port list, the order of
// severity, the labelling of lines and the runner with a command of the test's own.
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/PortList.h"
#include "cli/SeveralPorts.h"

namespace vyx::cli {
namespace {

std::vector<std::string> Names(const std::vector<NamedPort>& ports) {
    std::vector<std::string> names;
    names.reserve(ports.size());
    for (const NamedPort& port : ports) {
        names.push_back(port.name + " @" + port.origin);
    }
    return names;
}

TEST(PortListTest, ParsesOneNameALineSkippingBlanksAndComments) {
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> ports;  // "name @origin"
    } cases[] = {
        {"empty", "", {}},
        {"one, no newline", "COM4", {"COM4 @f:1"}},
        {"blank lines and comments",
         "\n# shop\n\nCOM4\n   \n  # till\nCOM5\n",
         {"COM4 @f:4", "COM5 @f:7"}},
        {"blanks around, CR LF",
         " \t/dev/ttyUSB0 \r\nCOM5\r\n",
         {"/dev/ttyUSB0 @f:1", "COM5 @f:2"}},
        {"a # after a name stays in it", "COM4 # till 3\n", {"COM4 # till 3 @f:1"}},
        {"a space inside a path stays", "/dev/serial/by-id/a b\n", {"/dev/serial/by-id/a b @f:1"}},
        {"only a comment", "#COM4\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Names(ParsePortList(c.text, "f")), c.ports);
    }
}

class PortListFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vyx-ports-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_Dir = pattern;
        std::filesystem::create_directory(m_Dir / "ports");
        std::filesystem::create_symlink("/dev/null", m_Dir / "ports" / "COM7");
        // COM names resolve through this folder only, whatever the user has linked.
        ::setenv("VYX_PORTS_DIR", (m_Dir / "ports").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_Dir / "config").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("VYX_PORTS_DIR");
        ::unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(m_Dir);
    }
    std::filesystem::path m_Dir;
};

TEST_F(PortListFolders, ReadsAFileOrTellsWhyNot) {
    std::ofstream(m_Dir / "list") << "# two\nCOM1\n\nCOM2\n";
    PortListRead read = ReadPortList((m_Dir / "list").string());
    EXPECT_EQ(read.error, "");
    EXPECT_EQ(read.ports.size(), 2u);
    read = ReadPortList((m_Dir / "missing").string());
    EXPECT_EQ(read.error,
              "--ports-from " + (m_Dir / "missing").string() + ": No such file or directory");
    EXPECT_TRUE(read.ports.empty());
    read = ReadPortList(m_Dir.string());
    EXPECT_EQ(read.error, "--ports-from " + m_Dir.string() + ": Is a directory");
}

TEST_F(PortListFolders, ChecksNamesAndRefusesTwoEntriesForOneDevice) {
    const std::string link = (m_Dir / "ports" / "COM7").string();
    const struct {
        const char* what;
        std::vector<NamedPort> ports;
        std::string problem;  // empty: accepted; else a part of the message
    } cases[] = {
        {"distinct", {{"COM1", "--port"}, {"COM2", "--port"}, {"/dev/null", "l:1"}}, ""},
        {"not a port",
         {{"COM1", "--port"}, {"tty0", "l:2"}},
         "l:2: tty0: neither COMn (n from 1) nor a device path"},
        {"as --port says it",
         {{"COM0", "--port"}},
         "--port COM0: neither COMn (n from 1) nor a device path"},
        {"the same name",
         {{"COM2", "--port"}, {"COM2", "l:1"}},
         "--port COM2 and l:1: COM2 lead to the same device (/dev/ttyS1); name each display "
         "once"},
        {"any case", {{"com2", "l:1"}, {"COM2", "l:2"}}, "l:1: COM2 and l:2: COM2 lead to"},
        {"a COM link and its device",
         {{"/dev/null", "l:1"}, {"COM7", "l:2"}},
         "l:1: /dev/null and l:2: COM7 lead to the same device (/dev/null)"},
        {"the link's own path", {{link, "l:1"}, {"COM7", "l:2"}}, "lead to the same device"},
        {"a path spelt otherwise",
         {{"/dev/../dev/ttyS1", "l:1"}, {"COM2", "l:2"}},
         "lead to the same device (/dev/ttyS1)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<NamedPort> ports = c.ports;
        const std::string problem = CheckPorts(ports);
        if (c.problem.empty()) {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        }
    }
    std::vector<NamedPort> lower = {{"com3", "--port"}};
    EXPECT_EQ(CheckPorts(lower), "");
    EXPECT_EQ(lower.front().name, "COM3");
}

TEST(ExitSeverityTest, TheWorstOfSeveralPortsFollowsTheDocumentedOrder) {
    const std::vector<int> documented = {2, 3, 7, 4, 6, 8, 5, 1, 0};
    // Every pair, both ways round: the one earlier in the order wins.
    for (std::size_t i = 0; i < documented.size(); ++i) {
        for (std::size_t j = 0; j < documented.size(); ++j) {
            const int expected = documented[std::min(i, j)];
            EXPECT_EQ(WorseExitStatus(documented[i], documented[j]), expected)
                << documented[i] << " vs " << documented[j];
        }
    }
    // A status outside the list is never hidden behind a known failure.
    EXPECT_EQ(WorseExitStatus(kExitPortNotOpened, 99), 99);
    EXPECT_EQ(WorseExitStatus(99, kExitOk), 99);
}

TEST(LabelPortLinesTest, PrefixesHumanLinesAndKeysJsonObjects) {
    const struct {
        const char* what;
        std::string text;
        bool json;
        std::string labelled;
    } cases[] = {
        {"nothing", "", false, ""},
        {"lines", "a\nb c\n", false, "COM4: a\nCOM4: b c\n"},
        {"an empty line keeps its label", "a\n\nb\n", false, "COM4: a\nCOM4: \nCOM4: b\n"},
        {"a last line without newline", "a\nb", false, "COM4: a\nCOM4: b\n"},
        {"json lines are prefixed when not asked for", "{\"a\":1}\n", false, "COM4: {\"a\":1}\n"},
        {"a json object gets the port first", "{\"version\":\"V1\",\"n\":null}\n", true,
         "{\"port\":\"COM4\",\"version\":\"V1\",\"n\":null}\n"},
        {"one that has a port keeps it", "{\"port\":\"X\",\"a\":1}\n", true,
         "{\"port\":\"X\",\"a\":1}\n"},
        {"a json line that is no object", "[1,2]\nplain\n", true, "COM4: [1,2]\nCOM4: plain\n"},
        {"not json at all", "{broken\n", true, "COM4: {broken\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(LabelPortLines("COM4", c.text, c.json), c.labelled);
    }
}

// Holds each arriving thread until `count` have arrived, or until a deadline (then
// says so): the ports' commands end together, which is when a runner that does not keep
// each port's lines together would mix them.
class Gathering {
  public:
    explicit Gathering(int count) : m_Count(count) {}
    bool ArriveAndWait() {
        std::unique_lock<std::mutex> hold(m_Lock);
        ++m_Arrived;
        m_All.notify_all();
        return m_All.wait_for(hold, std::chrono::seconds(10),
                              [this] { return m_Arrived >= m_Count; });
    }

  private:
    std::mutex m_Lock;
    std::condition_variable m_All;
    int m_Count;
    int m_Arrived = 0;  // guarded by m_Lock
};

// The runner with a command of the test's own: many ports, many lines each on both
// streams, a status per port, all ending at once; the blocks must arrive whole and the
// worst status win.
TEST(RunOnEveryPortTest, WritesEachPortsLinesWholeAndReturnsTheWorstStatus) {
    constexpr int kPorts = 16;
    constexpr int kLines = 200;
    Invocation invocation;
    std::map<std::string, int> statuses;
    invocation.ports.clear();
    for (int i = 0; i < kPorts; ++i) {
        const std::string port = "P" + std::to_string(i);
        invocation.ports.push_back(port);
        statuses[port] = i == 5 ? kExitVerifyMismatch : i == 11 ? kExitNoReply : kExitOk;
    }
    Gathering gathering(kPorts);
    std::atomic<bool> together = true;
    const PortCommand command = [&](const Invocation& own) {
        for (int line = 0; line < kLines; ++line) {
            Out() << "line " << line << " of " << own.port << '\n';
            Err() << "note " << line << '\n';
        }
        // Every port runs at once, on its own thread, or they could not all meet here.
        if (!gathering.ArriveAndWait()) {
            together = false;
        }
        return own.ports.size() == 1 ? statuses.at(own.port) : kExitUsage;
    };
    std::ostringstream out;
    std::ostringstream err;
    int status = kExitOk;
    {
        const ConsoleCapture capture(out, err);
        status = RunOnEveryPort(invocation, command);
    }
    EXPECT_EQ(status, kExitNoReply);  // 4 ranks above 6
    EXPECT_TRUE(together);

    for (const std::string& text : {out.str(), err.str()}) {
        std::istringstream lines(text);
        std::map<std::string, int> seen;
        std::string current;
        int runs = 0;
        for (std::string line; std::getline(lines, line);) {
            const std::string port = line.substr(0, line.find(':'));
            if (port != current) {
                ++runs;
                current = port;
            }
            const bool isOut = text == out.str();
            std::string expected = port + ": ";
            expected += isOut ? "line " + std::to_string(seen[port]) + " of " + port
                              : "note " + std::to_string(seen[port]);
            ASSERT_EQ(line, expected);
            ++seen[port];
        }
        EXPECT_EQ(runs, kPorts);  // one unbroken run of lines per port
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(kPorts));
        for (const auto& [port, count] : seen) {
            EXPECT_EQ(count, kLines) << port;
        }
    }
}

}  // namespace
}  // namespace vyx::cli
