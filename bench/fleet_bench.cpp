// vyxctl on many displays at once: the same change of all four settings on 1, 4 and 16
// simulated displays (one simulator, on its own pseudo-terminal, per display), and a
// run that changes nothing. The work is waiting on wires, so 16 displays should take
// about as long as one. Each run is timed from fork to wait4.
//
// Usage: fleet_bench --build DIR [--rows]
//   --rows prints one tab-separated line per row (ROW, measure, result, target, met)
//   for scripts/bench to gather into its table.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 7;  // per figure; median, minimum and maximum are shown
constexpr std::size_t kDisplayCounts[] = {1, 4, 16};
constexpr double kAllowedSlowdown = 1.5;  // 16 displays against one

// What vyxctl is asked, in one place, with what a successful run prints: `mark` on
// standard output `marks` times per display. The change applies a profile that takes a
// display from the simulator's start-up values (all 0, 9600 bps) to others in every
// setting, the rate last; its summary has one "->" line per setting. The no-change run
// applies the same profile again at the new rate: it finds nothing to change and sends
// the query only. The reset then takes the display back, untimed, for the next round.
// The profiles are written into the run's folder, which is the working directory.
struct VyxctlRun {
    std::vector<std::string> args;
    std::string mark;
    std::size_t marks;
};
constexpr const char* kChangeProfile =
    "command-set = 1\nfont-set = 8\nlanguage = 1\nbaud = 115200\n";
constexpr const char* kResetProfile = "command-set = 0\nfont-set = 0\nlanguage = 0\nbaud = 9600\n";
const VyxctlRun kChange = {{"apply", "change.toml"}, " -> ", 4};
const VyxctlRun kReset = {{"--baud", "115200", "apply", "reset.toml"}, " -> ", 4};
const VyxctlRun kNoChange = {{"--baud", "115200", "apply", "change.toml"}, "no change", 1};

struct Row {
    std::string measure;
    std::string result;
    std::string target;
    bool met;
};

struct Stats {
    double median = 0, min = 0, max = 0;
};

Stats Summarise(std::vector<double> values) {
    if (values.empty()) {
        return {};
    }
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

std::string Spread(const Stats& s) {
    char text[120];
    std::snprintf(text, sizeof text, "%.1f ms (%.1f-%.1f)", s.median, s.min, s.max);
    return text;
}

// Starts `argv` with standard output to `out` (or /dev/null) and standard error to
// /dev/null.
pid_t Spawn(const std::vector<std::string>& argv, int out = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(out >= 0 ? out : devnull, 1);
        ::dup2(devnull, 2);
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

struct ChildRun {
    double ms = 0;
    int status = -1;
    std::string output;
};

ChildRun Run(const std::vector<std::string>& argv) {
    ChildRun run;
    int pipe[2] = {-1, -1};
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return run;
    }
    const auto start = Clock::now();
    const pid_t pid = Spawn(argv, pipe[1]);
    ::close(pipe[1]);
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(pipe[0], buf, sizeof buf)) > 0) {
        run.output.append(buf, static_cast<std::size_t>(n));
    }
    ::close(pipe[0]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid) {
        run.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

// A simulated display on a pseudo-terminal behind a link, pacing its replies like the
// wire, at 9600 bps.
class Simulator {
  public:
    Simulator(const std::string& program, fs::path link) : m_Link(std::move(link)) {
        m_Pid = Spawn({program, "--plain", "--link", m_Link.string()});
        const auto deadline = Clock::now() + 5s;
        while (!fs::exists(m_Link) && Clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
    }
    ~Simulator() {
        if (m_Pid > 0) {
            ::kill(m_Pid, SIGTERM);
            ::waitpid(m_Pid, nullptr, 0);
        }
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    bool Ok() const { return m_Pid > 0 && fs::exists(m_Link); }
    const fs::path& Link() const { return m_Link; }

  private:
    fs::path m_Link;
    pid_t m_Pid = -1;
};

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

struct Figures {
    Stats change;
    Stats noChange;
    int failures = 0;
};

// The displays of one group, each with its own simulator, and the runs timed on them.
class Group {
  public:
    Group(const std::string& vyxctl, const std::string& sim, const fs::path& dir, std::size_t count)
        : m_Vyxctl(vyxctl), m_Count(count) {
        for (std::size_t i = 0; i < count; ++i) {
            const fs::path link =
                dir / ("display" + std::to_string(count) + "-" + std::to_string(i));
            m_Sims.push_back(std::make_unique<Simulator>(sim, link));
            m_Ports.insert(m_Ports.end(), {"--port", link.string()});
        }
    }
    bool Ok() const {
        return std::all_of(m_Sims.begin(), m_Sims.end(), [](const auto& s) { return s->Ok(); });
    }
    // One round: the change (timed), the run that changes nothing (timed), the reset
    // (untimed). `count` false: a warm-up round.
    void Round(bool count) {
        const ChildRun changed = Run(Command(kChange.args));
        const bool changeOk = Succeeded(changed, kChange);
        const ChildRun asked = Run(Command(kNoChange.args));
        const bool askOk = Succeeded(asked, kNoChange);
        const bool resetOk = Succeeded(Run(Command(kReset.args)), kReset);
        if (!changeOk || !resetOk || !askOk) {
            ++m_Failures;
        } else if (count) {
            m_Change.push_back(changed.ms);
            m_NoChange.push_back(asked.ms);
        }
    }
    Figures Result() const { return {Summarise(m_Change), Summarise(m_NoChange), m_Failures}; }
    std::size_t Size() const { return m_Count; }

  private:
    bool Succeeded(const ChildRun& run, const VyxctlRun& what) const {
        return run.status == 0 && Count(run.output, what.mark) == what.marks * m_Count;
    }
    std::vector<std::string> Command(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {m_Vyxctl};
        argv.insert(argv.end(), m_Ports.begin(), m_Ports.end());
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    std::string m_Vyxctl;
    std::size_t m_Count;
    std::vector<std::unique_ptr<Simulator>> m_Sims;
    std::vector<std::string> m_Ports;
    std::vector<double> m_Change;
    std::vector<double> m_NoChange;
    int m_Failures = 0;
};

// Every group is set up first and the rounds go group after group, so that a change in
// the machine's other load touches 1 and 16 displays alike.
std::vector<Figures> Measure(const std::string& vyxctl, const std::string& sim,
                             const fs::path& dir) {
    std::vector<std::unique_ptr<Group>> groups;
    for (const std::size_t count : kDisplayCounts) {
        groups.push_back(std::make_unique<Group>(vyxctl, sim, dir, count));
    }
    const bool started =
        std::all_of(groups.begin(), groups.end(), [](const auto& g) { return g->Ok(); });
    for (int round = 0; started && round <= kRuns; ++round) {
        for (const auto& group : groups) {
            group->Round(round > 0);  // the first round warms up
        }
    }
    std::vector<Figures> figures;
    for (const auto& group : groups) {
        figures.push_back(group->Result());
        if (!started) {
            figures.back().failures = kRuns;
        }
    }
    return figures;
}

std::string Displays(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " display" : " displays");
}

bool WriteText(const char* path, const char* text) {
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fputs(text, file) >= 0;
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    std::string build;
    bool rows = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--build" && i + 1 < argc) {
            build = argv[++i];
        } else if (arg == "--rows") {
            rows = true;
        }
    }
    if (build.empty()) {
        std::fprintf(stderr, "usage: fleet_bench --build DIR [--rows]\n");
        return 2;
    }
    char pattern[] = "/tmp/vyx-fleet-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;
    const std::string vyxctl = fs::absolute(build + "/cli/vyxctl").string();
    const std::string sim = fs::absolute(build + "/sim/vyx-display-sim").string();
    std::error_code error;
    fs::current_path(dir, error);
    if (error || !WriteText("change.toml", kChangeProfile) ||
        !WriteText("reset.toml", kResetProfile)) {
        std::fprintf(stderr, "fleet_bench: cannot write the profiles in %s\n", pattern);
        return 1;
    }

    std::vector<Row> table;
    double changeOne = 0;
    double noChangeOne = 0;
    const std::vector<Figures> measured = Measure(vyxctl, sim, dir);
    for (std::size_t g = 0; g < measured.size(); ++g) {
        const std::size_t count = kDisplayCounts[g];
        const Figures& f = measured[g];
        if (count == 1) {
            changeOne = f.change.median;
            noChangeOne = f.noChange.median;
        }
        const std::string failed =
            f.failures ? ", " + std::to_string(f.failures) + " rounds failed" : "";
        const auto ratio = [](double ms, double one) {
            char text[40];
            std::snprintf(text, sizeof text, ", %.2fx of 1", one > 0 ? ms / one : 0.0);
            return std::string(text);
        };
        const bool last = count == kDisplayCounts[std::size(kDisplayCounts) - 1];
        const std::string target = last ? "<= 1.5x of 1 display" : "(recorded)";
        table.push_back(
            {"change all four settings, " + Displays(count),
             Spread(f.change) + ratio(f.change.median, changeOne) + failed, target,
             f.failures == 0 && (!last || f.change.median <= kAllowedSlowdown * changeOne)});
        table.push_back(
            {"no change (one query each), " + Displays(count),
             Spread(f.noChange) + ratio(f.noChange.median, noChangeOne) + failed, target,
             f.failures == 0 && (!last || f.noChange.median <= kAllowedSlowdown * noChangeOne)});
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);

    for (const Row& row : table) {
        if (rows) {
            std::printf("ROW\t%s\t%s\t%s\t%s\n", row.measure.c_str(), row.result.c_str(),
                        row.target.c_str(), row.met ? "yes" : "NO");
        } else {
            std::printf("%-45s %s  [%s: %s]\n", row.measure.c_str(), row.result.c_str(),
                        row.target.c_str(), row.met ? "met" : "NOT met");
        }
    }
    return 0;
}
