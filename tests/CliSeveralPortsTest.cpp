// vyxctl on several ports at once, against one real simulator per port.
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <set>

#include "tests/CliSimulator.h"
#include "tests/CliTestCommon.h"

namespace vyx::test {
namespace {

// The lines of one stream, taken apart by their "PORT: " label.
struct PortBlocks {
    std::map<std::string, std::string> text;  // per port, labels taken off
    std::vector<std::string> unlabelled;      // lines that name none of the ports
    bool unbroken = true;  // each port's lines came as one run, not mixed with others
};

PortBlocks SplitByPort(const std::string& stream, const std::vector<std::string>& ports) {
    PortBlocks blocks;
    std::set<std::string> ended;
    std::string current;
    std::size_t start = 0;
    for (std::size_t end; (end = stream.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = stream.substr(start, end - start);
        std::string owner;
        for (const std::string& port : ports) {
            if (line.starts_with(port + ": ")) {
                owner = port;
            }
        }
        if (owner.empty()) {
            blocks.unlabelled.push_back(line);
            continue;
        }
        if (owner != current) {
            blocks.unbroken = blocks.unbroken && ended.insert(owner).second;
            current = owner;
        }
        blocks.text[owner] += line.substr(owner.size() + 2) + "\n";
    }
    if (start != stream.size()) {
        blocks.unlabelled.push_back(stream.substr(start));  // a line cut short
    }
    return blocks;
}

// Simulators, each with its own version text so that a report tells which one answered.
class Displays {
  public:
    Displays(std::size_t count, const std::vector<std::string>& options) {
        for (std::size_t i = 0; i < count; ++i) {
            std::vector<std::string> own = options;
            own.insert(own.end(), {"--fw-version", Version(i)});
            m_Sims.push_back(std::make_unique<Simulator>(own));
        }
    }
    bool Started() const {
        for (const auto& sim : m_Sims) {
            if (!sim->Started()) {
                return false;
            }
        }
        return true;
    }
    static std::string Version(std::size_t i) { return "VYX " + std::to_string(i); }
    Simulator& operator[](std::size_t i) { return *m_Sims[i]; }
    std::vector<std::string> Links() const {
        std::vector<std::string> links;
        for (const auto& sim : m_Sims) {
            links.push_back(sim->Link());
        }
        return links;
    }
    // "-p LINK" for each, then `args`.
    std::vector<std::string> Args(const std::vector<std::string>& args) const {
        std::vector<std::string> all;
        for (const std::string& link : Links()) {
            all.insert(all.end(), {"-p", link});
        }
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

  private:
    std::vector<std::unique_ptr<Simulator>> m_Sims;
};

TEST(CliSeveralPortsTest, InfoRunsOnEveryPortAndWritesEachPortsLinesWhole) {
    Displays displays(3, {"--no-pacing"});
    ASSERT_TRUE(displays.Started());
    const ProcessResult result = Vyxctl(displays.Args({"info", "--report"}));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const PortBlocks blocks = SplitByPort(result.out, displays.Links());
    EXPECT_TRUE(blocks.unbroken) << result.out;
    EXPECT_TRUE(blocks.unlabelled.empty()) << result.out;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(blocks.text.at(displays[i].Link()),
                  ReportOf(Displays::Version(i), " 0", " 0", " 0", " 0"));
    }
}

TEST(CliSeveralPortsTest, AFailingPortStopsNoOtherAndTheWorstStatusIsTheExitStatus) {
    Displays displays(2, {"--no-pacing"});
    Simulator silent({"--silent"});
    ASSERT_TRUE(displays.Started() && silent.Started());
    TempDir dir;
    const std::string gone = dir / "gone";
    const struct {
        std::vector<std::string> extra;  // ports beside the two that answer
        int exitStatus;
    } cases[] = {
        {{silent.Link()}, 4},        // no reply
        {{gone}, 3},                 // cannot open
        {{gone, silent.Link()}, 3},  // cannot open is worse than no reply
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extra.back());
        std::vector<std::string> args = displays.Args({});
        std::vector<std::string> ports = displays.Links();
        for (const std::string& port : c.extra) {
            args.insert(args.end(), {"--port", port});
            ports.push_back(port);
        }
        args.insert(args.end(), {"info", "--report", "--timeout", "0.3"});
        const ProcessResult result = Vyxctl(args);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        const PortBlocks out = SplitByPort(result.out, ports);
        EXPECT_TRUE(out.unlabelled.empty()) << result.out;
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(out.text.at(displays[i].Link()),
                      ReportOf(Displays::Version(i), " 0", " 0", " 0", " 0"));
        }
        const PortBlocks err = SplitByPort(result.err, ports);
        EXPECT_TRUE(err.unlabelled.empty()) << result.err;
        for (const std::string& port : c.extra) {
            const std::string told = err.text.contains(port) ? err.text.at(port) : "";
            EXPECT_FALSE(out.text.contains(port)) << result.out;
            EXPECT_TRUE(told.starts_with(port == gone ? "vyxctl: cannot open " + gone + ": "
                                                      : "vyxctl: " + port + ": no valid reply"))
                << result.err;
        }
    }
}

TEST(CliSeveralPortsTest, JsonIsOneObjectPerPortWithItsPort) {
    Displays displays(3, {"--no-pacing"});
    ASSERT_TRUE(displays.Started());
    const ProcessResult result = Vyxctl(displays.Args({"info", "--json"}));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    std::map<std::string, std::string> versions;
    std::size_t start = 0;
    for (std::size_t end; (end = result.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const auto object = nlohmann::ordered_json::parse(result.out.substr(start, end - start));
        ASSERT_TRUE(object.is_object());
        EXPECT_EQ(object.begin().key(), "port");
        EXPECT_EQ(object.size(), 10u);  // the port beside the nine fields of one port's object
        versions[object["port"].get<std::string>()] = object["version"].get<std::string>();
    }
    EXPECT_EQ(start, result.out.size());
    ASSERT_EQ(versions.size(), 3u) << result.out;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(versions[displays[i].Link()], Displays::Version(i));
    }
}

TEST(CliSeveralPortsTest, SetChangesEveryDisplay) {
    Displays displays(3, {"--no-pacing"});
    ASSERT_TRUE(displays.Started());
    const ProcessResult result = Vyxctl(displays.Args(
        {"set", "command-set=1", "font-set=cp1251", "language=fr", "baud=57600", "--verify"}));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const PortBlocks blocks = SplitByPort(result.out, displays.Links());
    EXPECT_TRUE(blocks.unbroken && blocks.unlabelled.empty()) << result.out;
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(blocks.text.at(displays[i].Link()).find("(verified)"), std::string::npos);
        // Asked again, alone, at the new rate: each display keeps what it was given.
        const ProcessResult info =
            Vyxctl({"-p", displays[i].Link(), "-b", "57600", "info", "--json"});
        ASSERT_EQ(info.exitStatus, 0) << info.err;
        const auto object = nlohmann::json::parse(info.out);
        EXPECT_EQ(object["command_set"], 1);
        EXPECT_EQ(object["default_font"], 17);
        EXPECT_EQ(object["language"], 1);
        EXPECT_EQ(object["baud_rate"], 3);
    }
}

TEST(CliSeveralPortsTest, TextReachesEveryDisplay) {
    Displays displays(2, {"--no-pacing"});
    ASSERT_TRUE(displays.Started());
    const ProcessResult result = Vyxctl(displays.Args({"text", "Till open", "Welcome"}));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string log = displays[i].Stop();
        EXPECT_NE(log.find(R"(frame 2 "Till open           " "Welcome             ")"),
                  std::string::npos)
            << log;
    }
}

// Many ports, each with many lines on both streams (the steps and every byte traced):
// any line of one port landing inside another's block, or a line cut, shows here.
TEST(CliSeveralPortsTest, LinesOfDifferentPortsAreNeverInterleaved) {
    constexpr std::size_t kPorts = 8;
    Displays displays(kPorts, {"--no-pacing"});
    ASSERT_TRUE(displays.Started());
    const ProcessResult result = Vyxctl(displays.Args({"-vv", "info", "--report"}));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const PortBlocks out = SplitByPort(result.out, displays.Links());
    const PortBlocks err = SplitByPort(result.err, displays.Links());
    EXPECT_TRUE(out.unbroken && out.unlabelled.empty()) << result.out;
    EXPECT_TRUE(err.unbroken && err.unlabelled.empty()) << result.err;
    ASSERT_EQ(out.text.size(), kPorts);
    ASSERT_EQ(err.text.size(), kPorts);
    for (std::size_t i = 0; i < kPorts; ++i) {
        const std::string& link = displays[i].Link();
        EXPECT_EQ(out.text.at(link), ReportOf(Displays::Version(i), " 0", " 0", " 0", " 0"));
        // The port's own steps, opening to reply, with the reply's bytes traced between.
        const std::string& steps = err.text.at(link);
        EXPECT_TRUE(steps.starts_with("vyxctl: " + link + " open at 9600 bps\n")) << steps;
        EXPECT_NE(steps.find("> 02 01 44 03 46  ..D.F\n"), std::string::npos) << steps;
        EXPECT_NE(steps.find("vyxctl: reply: 02 12 44"), std::string::npos) << steps;
    }
}

// apply on several displays: each brought to the profile once, then a drift on one of
// them shows in --check for that display alone, with the mismatch as the exit status.
TEST(CliSeveralPortsTest, ApplyAndItsCheckRunOnEveryDisplay) {
    Displays displays(3, {"--no-pacing"});
    ASSERT_TRUE(displays.Started());
    TempDir dir;
    const std::string profile = dir / "shop.toml";
    ASSERT_TRUE(
        WriteFileBytes(profile, "command-set = 1\nfont-set = 8\nlanguage = 1\nbaud = 19200\n"));
    const ProcessResult applied = Vyxctl(displays.Args({"apply", "--json", profile}));
    EXPECT_EQ(applied.exitStatus, 0) << applied.err;
    std::map<std::string, bool> changed;
    std::size_t start = 0;
    for (std::size_t end; (end = applied.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const auto object = nlohmann::json::parse(applied.out.substr(start, end - start));
        changed[object["port"].get<std::string>()] = object["changed"].get<bool>();
        EXPECT_EQ(object["after"]["baud_rate_bps"], 19200);
    }
    ASSERT_EQ(changed.size(), 3u) << applied.out;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(changed[displays[i].Link()]) << displays[i].Link();
    }

    ASSERT_EQ(Vyxctl({"-p", displays[2].Link(), "-b", "19200", "-q", "language", "0"}).exitStatus,
              0);
    const ProcessResult checked =
        Vyxctl(displays.Args({"-b", "19200", "apply", "--check", profile}));
    EXPECT_EQ(checked.exitStatus, 6) << checked.err;
    const PortBlocks blocks = SplitByPort(checked.out, displays.Links());
    EXPECT_TRUE(blocks.unbroken && blocks.unlabelled.empty()) << checked.out;
    ASSERT_EQ(blocks.text.size(), 3u) << checked.out;
    EXPECT_EQ(blocks.text.at(displays[0].Link()), "matches the profile\n");
    EXPECT_EQ(blocks.text.at(displays[1].Link()), "matches the profile\n");
    EXPECT_NE(blocks.text.at(displays[2].Link()).find("language: 0x00"), std::string::npos)
        << checked.out;
}

TEST(CliSeveralPortsTest, OtherCommandsRefuseSeveralPorts) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"probe"},
                                                 {"cell-test", "block"},
                                                 {"baud", "9600"},
                                                 {"download", "--no-tool"}}) {
        SCOPED_TRACE(args.front());
        std::vector<std::string> all = {"-p", "COM7", "-p", "COM8"};
        all.insert(all.end(), args.begin(), args.end());
        const ProcessResult result = Vyxctl(all);
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.err, "vyxctl: " + args.front() +
                                  ": 2 ports named; only info, set, text and apply run on several "
                                  "ports\n" +
                                  UsageLine());
    }
}

// A list with comments and blank lines, beside --port; --ports-from wins over VYX_PORT.
TEST(CliSeveralPortsTest, PortsFromReadsAListOfPorts) {
    Displays displays(3, {"--no-pacing"});
    ASSERT_TRUE(displays.Started());
    TempDir dir;
    const std::string list = dir / "shop.txt";
    ASSERT_TRUE(WriteFileBytes(list, "# shop 12\n\n  " + displays[1].Link() + "  \n\t# till 3\n" +
                                         displays[2].Link() + "\r\n"));
    const ProcessResult result =
        Vyxctl({"-p", displays[0].Link(), "--ports-from", list, "info", "--report"},
               {{"VYX_PORT", dir / "gone"}});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const PortBlocks blocks = SplitByPort(result.out, displays.Links());
    EXPECT_EQ(blocks.text.size(), 3u) << result.out;
    EXPECT_TRUE(blocks.unlabelled.empty()) << result.out;

    // A list of one port is a run on one port: today's output, unlabelled.
    ASSERT_TRUE(WriteFileBytes(list, displays[0].Link() + "\n"));
    const ProcessResult one = Vyxctl({"--ports-from", list, "info", "--report"});
    EXPECT_EQ(one.exitStatus, 0) << one.err;
    EXPECT_EQ(one.out, ReportOf(Displays::Version(0), " 0", " 0", " 0", " 0"));
}

TEST(CliSeveralPortsTest, PortListsThatCannotBeUsedAreUsageErrors) {
    TempDir dir;
    const std::string list = dir / "list";
    const struct {
        const char* what;
        std::string contents;
        bool make;  // false: `path` is not written
        std::string path;
        std::string err;  // the message line
    } cases[] = {
        {"missing", "", false, dir / "none",
         "--ports-from " + dir / "none" + ": No such file or directory"},
        {"a folder", "", false, dir.Path(), "--ports-from " + dir.Path() + ": Is a directory"},
        {"only comments", "# none yet\n\n", true, list, "--ports-from " + list + ": names no port"},
        {"bad name", "COM3\nCOM0\n", true, list,
         list + ":2: COM0: neither COMn (n from 1) nor a device path"},
        {"repeated", "COM3\n#\ncom3\n", true, list,
         list + ":1: COM3 and " + list + ":3: COM3 lead to the same device"},
        {"a link and its device", "/dev/null\n" + dir / "null-link" + "\n", true, list,
         list + ":1: /dev/null and " + list + ":2: " + dir / "null-link" +
             " lead to the same device (/dev/null); name each display once"},
    };
    ASSERT_EQ(::symlink("/dev/null", (dir / "null-link").c_str()), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.make) {
            ASSERT_TRUE(WriteFileBytes(list, c.contents));
        }
        // COM names resolve to /dev/ttyS(n-1) with no link folder of the user's in the way.
        const ProcessResult result =
            Vyxctl({"--ports-from", c.path, "info"},
                   {{"VYX_PORTS_DIR", dir / "ports"}, {"XDG_CONFIG_HOME", dir / "config"}});
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

// A standard output that cannot be written still gives exit 1 when every port did well.
TEST(CliSeveralPortsTest, AFailedStandardOutputIsStillTold) {
    Displays displays(2, {"--no-pacing"});
    ASSERT_TRUE(displays.Started());
    std::vector<std::string> args = displays.Args({"info"});
    args.insert(args.begin(), VyxctlPath());
    Launch launch;
    launch.args = args;
    launch.stdoutBrokenPipe = true;
    const ProcessResult result = RunProcess(launch, kRunBound);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("vyxctl: cannot write standard output: Broken pipe"),
              std::string::npos)
        << result.err;
}

}  // namespace
}  // namespace vyx::test
