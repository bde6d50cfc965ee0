// Whole programs measured as their users meet them: the information round trip of
// vyxctl against the simulated display at each rate, beside the same query scripted with
// pyserial; the start-up of vyxctl and of the dialog; the CPU an open, idle port costs in
// the serial layer alone and in the dialog under X. Each child is timed from fork to
// wait4, which also gives its peak resident size.
//
// Usage: process_bench --build DIR --script PATH [--rows]
//   --rows prints one tab-separated line per row (ROW, measure, result, target, met)
//   for scripts/bench to gather into its table. The dialog rows need DISPLAY.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/support/PtyPair.h"
#include "tests/support/SerialFakes.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 7;  // per figure; median, minimum and maximum are shown
constexpr std::uint32_t kRates[] = {9600, 19200, 38400, 57600, 115200};
constexpr double kExchangeBytes = 5 + 22;  // query and reply
constexpr const char* kDialogTitle = "VYX Utility Ver 2.05";

struct Row {
    std::string measure;
    std::string result;
    std::string target;
    bool met;
};

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
    char text[200];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

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
std::string Spread(const Stats& s, const char* unit) {
    char text[120];
    std::snprintf(text, sizeof text, "%.1f %s (%.1f-%.1f)", s.median, unit, s.min, s.max);
    return text;
}

struct ChildRun {
    double ms = 0;
    long peakKiB = 0;
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string output;
};

// Starts `argv` with `env` added, stdout to a pipe (kept), stderr to /dev/null.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            int* stdoutRead) {
    int out[2] = {-1, -1};
    if (stdoutRead != nullptr && ::pipe2(out, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const std::string& e : env) {
            ::putenv(const_cast<char*>(e.c_str()));
        }
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(stdoutRead != nullptr ? out[1] : devnull, 1);
        ::dup2(devnull, 2);
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    if (stdoutRead != nullptr) {
        ::close(out[1]);
        *stdoutRead = out[0];
    }
    return pid;
}

ChildRun Reap(pid_t pid, Clock::time_point start, int stdoutRead) {
    ChildRun run;
    if (stdoutRead >= 0) {
        char buf[4096];
        ssize_t n = 0;
        while ((n = ::read(stdoutRead, buf, sizeof buf)) > 0) {
            run.output.append(buf, static_cast<std::size_t>(n));
        }
        ::close(stdoutRead);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) == pid) {
        run.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        run.peakKiB = usage.ru_maxrss;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

ChildRun Run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
    const auto start = Clock::now();
    int out = -1;
    const pid_t pid = Spawn(argv, env, &out);
    if (pid < 0) {
        return {};
    }
    return Reap(pid, start, out);
}

// The simulated display on a pseudo-terminal behind a link, pacing like the wire.
class Simulator {
  public:
    Simulator(const std::string& program, const fs::path& link, std::uint32_t rate,
              const std::vector<std::string>& options = {})
        : m_Link(link) {
        std::vector<std::string> args = {program,       "--plain", "--link",
                                         link.string(), "--baud",  std::to_string(rate)};
        args.insert(args.end(), options.begin(), options.end());
        m_Pid = Spawn(args, {}, nullptr);
        const auto deadline = Clock::now() + 5s;
        while (!fs::exists(link) && Clock::now() < deadline) {
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
    bool ok() const { return m_Pid > 0 && fs::exists(m_Link); }

  private:
    fs::path m_Link;
    pid_t m_Pid = -1;
};

struct Tools {
    std::string build;
    std::string script;
    std::string vyxctl() const { return build + "/cli/vyxctl"; }
    std::string sim() const { return build + "/sim/vyx-display-sim"; }
    std::string dialog() const { return build + "/app/VYX_Utility"; }
};

struct QueryFigures {
    Stats ms;
    long peakKiB = 0;
    int failures = 0;
};

QueryFigures TimeQuery(const std::vector<std::string>& argv) {
    QueryFigures f;
    std::vector<double> ms;
    Run(argv);  // warm the page cache and the simulator
    for (int i = 0; i < kRuns; ++i) {
        const ChildRun run = Run(argv);
        if (run.status != 0 || run.output.find("Version") == std::string::npos) {
            ++f.failures;
            continue;
        }
        ms.push_back(run.ms);
        f.peakKiB = std::max(f.peakKiB, run.peakKiB);
    }
    f.ms = Summarise(ms);
    return f;
}

void RoundTrips(const Tools& tools, const fs::path& dir, std::vector<Row>& rows) {
    long vyxctlPeak = 0;
    long pythonPeak = 0;
    for (const std::uint32_t rate : kRates) {
        const fs::path link = dir / ("line" + std::to_string(rate));
        Simulator sim(tools.sim(), link, rate);
        const std::string rateText = std::to_string(rate);
        if (!sim.ok()) {
            rows.push_back({"info round trip @" + rateText, "simulator did not start", "", false});
            continue;
        }
        const double wire = kExchangeBytes * 10.0 / rate * 1000.0;
        const QueryFigures cli =
            TimeQuery({tools.vyxctl(), "--port", link.string(), "--baud", rateText, "info"});
        const QueryFigures py =
            TimeQuery({"/usr/bin/python3", tools.script, link.string(), rateText});
        const double overhead = cli.ms.median - wire;
        rows.push_back({"vyxctl info @" + rateText,
                        Spread(cli.ms, "ms") +
                            Format(", wire %.1f ms, overhead %.1f ms", wire, overhead) +
                            (cli.failures ? Format(", %.0f failed", cli.failures) : ""),
                        "overhead <= 20 ms", cli.failures == 0 && overhead <= 20.0});
        rows.push_back({"python3-serial query @" + rateText,
                        Spread(py.ms, "ms") +
                            Format(", vyxctl %.2fx its time", cli.ms.median / py.ms.median) +
                            (py.failures ? Format(", %.0f failed", py.failures) : ""),
                        "vyxctl not slower", py.failures == 0 && cli.ms.median <= py.ms.median});
        vyxctlPeak = std::max(vyxctlPeak, cli.peakKiB);
        pythonPeak = std::max(pythonPeak, py.peakKiB);
    }
    rows.push_back(
        {"peak RSS, vyxctl info vs script",
         Format(
             "%.0f KiB vs %.0f KiB = %.2f", static_cast<double>(vyxctlPeak),
             static_cast<double>(pythonPeak),
             pythonPeak ? static_cast<double>(vyxctlPeak) / static_cast<double>(pythonPeak) : 0.0),
         "<= 0.20 of the script", pythonPeak > 0 && vyxctlPeak * 5 <= pythonPeak});
}

// A whole probe with its default waits: a display listening at the last rate tried, so
// four rates go unanswered first, and a silent line, where all five go unanswered.
void ProbeRows(const Tools& tools, const fs::path& dir, std::vector<Row>& rows) {
    const struct {
        const char* measure;
        std::uint32_t rate;
        std::vector<std::string> options;
        int status;  // 0: found at 115200; 4: no reply at any rate
    } cases[] = {
        {"vyxctl probe, display at 115200 (tried last)", 115200, {}, 0},
        {"vyxctl probe, silent line (all five rates)", 9600, {"--silent"}, 4},
    };
    for (const auto& c : cases) {
        const fs::path link = dir / "probe";
        Simulator sim(tools.sim(), link, c.rate, c.options);
        if (!sim.ok()) {
            rows.push_back({c.measure, "simulator did not start", "", false});
            continue;
        }
        const std::vector<std::string> argv = {tools.vyxctl(), "--port", link.string(), "probe"};
        std::vector<double> ms;
        int failures = 0;
        Run(argv);
        for (int i = 0; i < kRuns; ++i) {
            const ChildRun run = Run(argv);
            const bool right = run.status == c.status &&
                               (c.status != 0 || run.output.rfind("rate: 115200\n", 0) == 0);
            if (!right) {
                ++failures;
                continue;
            }
            ms.push_back(run.ms);
        }
        const Stats stats = Summarise(ms);
        rows.push_back(
            {c.measure,
             Spread(stats, "ms") + (failures ? Format(", %.0f wrong", failures) : std::string()),
             "< 1000 ms", failures == 0 && stats.max < 1000.0});
    }
}

Row VyxctlStartUp(const Tools& tools) {
    std::vector<double> ms;
    long peak = 0;
    Run({tools.vyxctl(), "--version"});
    for (int i = 0; i < kRuns; ++i) {
        const ChildRun run = Run({tools.vyxctl(), "--version"});
        if (run.status == 0) {
            ms.push_back(run.ms);
            peak = std::max(peak, run.peakKiB);
        }
    }
    return {"start-up, vyxctl --version",
            Spread(Summarise(ms), "ms") + Format(", peak RSS %.0f KiB", static_cast<double>(peak)),
            "(recorded)", ms.size() == kRuns};
}

// The serial layer alone: an open port on a pseudo-terminal, nothing arriving, 10 s.
Row SerialIdle() {
    vyx::test::PtyPair pty;
    vyx::SerialPort port;
    vyx::test::RecordingWindow window;
    port.m_hNotifyWnd = &window;
    if (!pty.ok() || port.OpenPort(pty.SlavePath(), 9600, 4) != 1) {
        return {"idle CPU, serial layer, 10 s", "open failed", "< 0.1 % of a core", false};
    }
    auto cpu = [] {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double before = cpu();
    const auto start = Clock::now();
    std::this_thread::sleep_for(10s);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double percent = (cpu() - before) / wall * 100.0;
    port.ClosePort();
    return {"idle CPU, serial layer, 10 s", Format("%.4f %% of a core", percent),
            "< 0.1 % of a core", percent < 0.1};
}

// --- the dialog under X ---------------------------------------------------------------

// CPU time of a process so far, every thread counted, in seconds; -1 when unknown.
double ProcessCpu(pid_t pid) {
    clockid_t clock{};
    timespec t{};
    if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &t) != 0) {
        return -1;
    }
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool HasOpen(pid_t pid, const fs::path& device) {
    std::error_code ec;
    const fs::path target = fs::canonical(device, ec);
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code ec2;
        if (fs::read_symlink(fd.path(), ec2) == target) {
            return true;
        }
    }
    return false;
}

bool Titled(Display* x, Window w) {
    char* name = nullptr;
    const bool match =
        XFetchName(x, w, &name) != 0 && name != nullptr && std::strcmp(name, kDialogTitle) == 0;
    if (name != nullptr) {
        XFree(name);
    }
    return match;
}

// Starts the dialog and waits for its main window to be mapped; the time from fork to
// the map notification, or nothing after 20 s.
std::optional<double> StartDialog(Display* x, const Tools& tools,
                                  const std::vector<std::string>& env, pid_t& pid, Window& window) {
    XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
    XSync(x, True);
    const auto start = Clock::now();
    pid = Spawn({tools.dialog()}, env, nullptr);
    const auto deadline = start + 20s;
    while (Clock::now() < deadline) {
        while (XPending(x) > 0) {
            XEvent e{};
            XNextEvent(x, &e);
            if (e.type == MapNotify && Titled(x, e.xmap.window)) {
                window = e.xmap.window;
                XSelectInput(x, DefaultRootWindow(x), NoEventMask);
                return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            }
        }
        std::this_thread::sleep_for(1ms);
    }
    XSelectInput(x, DefaultRootWindow(x), NoEventMask);
    return std::nullopt;
}

long StopDialog(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    return ::wait4(pid, &status, 0, &usage) == pid ? usage.ru_maxrss : 0;
}

void DialogRows(const Tools& tools, const fs::path& dir, std::vector<Row>& rows) {
    Display* x = XOpenDisplay(nullptr);
    if (x == nullptr || !fs::exists(tools.dialog())) {
        rows.push_back({"start-up, dialog to mapped window", "no X display or no dialog built",
                        "(recorded)", false});
        rows.push_back({"idle CPU, dialog with port open, 10 s", "no X display or no dialog built",
                        "< 0.1 % of a core", false});
        if (x != nullptr) {
            XCloseDisplay(x);
        }
        return;
    }
    // COM4 (the dialog's default) is the simulated display.
    const fs::path ports = dir / "ports";
    fs::create_directories(ports);
    Simulator sim(tools.sim(), ports / "COM4", 9600);
    const std::vector<std::string> env{"VYX_PORTS_DIR=" + ports.string()};

    std::vector<double> ms;
    long peak = 0;
    for (int i = 0; i <= kRuns; ++i) {
        pid_t pid = -1;
        Window w = 0;
        const auto took = StartDialog(x, tools, env, pid, w);
        // Let it reach its first idle before taking its size.
        std::this_thread::sleep_for(200ms);
        const long kib = pid > 0 ? StopDialog(pid) : 0;
        if (took && i > 0) {  // the first run warms the caches
            ms.push_back(*took);
            peak = std::max(peak, kib);
        }
    }
    rows.push_back(
        {"start-up, dialog to mapped window",
         Spread(Summarise(ms), "ms") + Format(", peak RSS %.0f KiB", static_cast<double>(peak)),
         "(recorded)", ms.size() == kRuns});

    // Idle with the port open: "Port Open" clicked, nothing arriving.
    pid_t pid = -1;
    Window w = 0;
    std::string result = "dialog did not start";
    double percent = -1;
    if (sim.ok() && StartDialog(x, tools, env, pid, w)) {
        XWindowAttributes a{};
        XGetWindowAttributes(x, w, &a);
        // "Port Open" is at 216, 22, 52 x 17 dialog units in a 351 x 338 client area.
        const int px = static_cast<int>((216 + 26) * a.width / 351);
        const int py = static_cast<int>((22 + 8) * a.height / 338);
        const auto deadline = Clock::now() + 10s;
        while (!HasOpen(pid, ports / "COM4") && Clock::now() < deadline) {
            Run({"xdotool", "mousemove", "--window", std::to_string(w), std::to_string(px),
                 std::to_string(py), "click", "1"});
            std::this_thread::sleep_for(300ms);
        }
        if (HasOpen(pid, ports / "COM4")) {
            std::this_thread::sleep_for(1s);
            const double before = ProcessCpu(pid);
            const auto start = Clock::now();
            std::this_thread::sleep_for(10s);
            const double wall = std::chrono::duration<double>(Clock::now() - start).count();
            const double after = ProcessCpu(pid);
            if (before >= 0 && after >= 0) {
                percent = (after - before) / wall * 100.0;
                result = Format("%.4f %% of a core (%.2f ms CPU in %.1f s)", percent,
                                (after - before) * 1000.0, wall);
            } else {
                result = "no CPU clock for the dialog";
            }
        } else {
            result = "Port Open did not take";
        }
    }
    if (pid > 0) {
        StopDialog(pid);
    }
    rows.push_back({"idle CPU, dialog with port open, 10 s", result, "< 0.1 % of a core",
                    percent >= 0 && percent < 0.1});
    XCloseDisplay(x);
}

std::string CpuModel() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) {
            return line.substr(line.find(':') + 2);
        }
    }
    return "unknown CPU";
}

}  // namespace

int main(int argc, char** argv) {
    Tools tools;
    bool rowsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--build" && i + 1 < argc) {
            tools.build = argv[++i];
        } else if (arg == "--script" && i + 1 < argc) {
            tools.script = argv[++i];
        } else if (arg == "--rows") {
            rowsOnly = true;
        } else {
            std::fprintf(stderr, "usage: process_bench --build DIR --script PATH [--rows]\n");
            return 2;
        }
    }
    char pattern[] = "/tmp/vyx-bench-XXXXXX";
    if (tools.build.empty() || tools.script.empty() || ::mkdtemp(pattern) == nullptr) {
        std::fprintf(stderr, "process_bench: need --build and --script, and a temporary folder\n");
        return 2;
    }
    const fs::path dir = pattern;
    std::thread([] {}).join();

    std::vector<Row> rows;
    RoundTrips(tools, dir, rows);
    ProbeRows(tools, dir, rows);
    rows.push_back(VyxctlStartUp(tools));
    DialogRows(tools, dir, rows);
    rows.push_back(SerialIdle());
    std::error_code ec;
    fs::remove_all(dir, ec);

    if (rowsOnly) {
        for (const Row& r : rows) {
            std::printf("ROW\t%s\t%s\t%s\t%s\n", r.measure.c_str(), r.result.c_str(),
                        r.target.c_str(), r.met ? "yes" : "NO");
        }
        return 0;
    }
    std::printf("%s, %u cores\n", CpuModel().c_str(), std::thread::hardware_concurrency());
    for (const Row& r : rows) {
        std::printf("%-38s | %-62s | %-22s | %s\n", r.measure.c_str(), r.result.c_str(),
                    r.target.c_str(), r.met ? "yes" : "NO");
    }
    return 0;
}
