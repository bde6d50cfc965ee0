// The serial link measured as a whole process against a pseudo-terminal: the CPU an
// open idle port costs, the rate at which the watcher drains a continuous stream, and
// how long after the far end's last byte the window is notified.

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/support/PtyPair.h"
#include "tests/support/SerialFakes.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vyx::SerialPort;
using vyx::test::PtyPair;
using vyx::test::RecordingWindow;

struct Row {
    std::string measure;
    std::string result;
    std::string target;
    bool met;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// (a) An open port with nothing arriving: the watcher must sleep in its wait.
Row IdleCpu() {
    PtyPair pty;
    SerialPort port;
    RecordingWindow window;
    port.m_hNotifyWnd = &window;
    if (!pty.ok() || port.OpenPort(pty.SlavePath(), 9600, 4) != 1) {
        return {"idle open port, CPU over 5 s", "open failed", "< 0.1 % of a core", false};
    }
    const std::uint64_t wakeups = port.WatcherWakeups();
    const double cpuBefore = CpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(5s);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double percent = (CpuSeconds() - cpuBefore) / wall * 100.0;
    const auto woke = static_cast<double>(port.WatcherWakeups() - wakeups);
    port.ClosePort();
    return {"idle open port, CPU over 5 s",
            Format("%.4f %% of a core, %.0f wake-ups", percent, woke), "< 0.1 % of a core",
            percent < 0.1};
}

// The far end's byte stream: position-dependent, so a lost, repeated or reordered byte
// shows as a mismatch.
std::uint8_t StreamByte(std::size_t i) {
    return static_cast<std::uint8_t>((i * 131u) ^ (i >> 8) ^ (i >> 16));
}

// (b) 1 MiB sent as fast as the pseudo-terminal takes it, a consumer emptying the queue
// the way the window would, every byte checked.
Row DrainThroughput() {
    constexpr std::size_t kTotal = 1 << 20;
    constexpr double kCeiling = SerialPort::kChunkSize / (SerialPort::kGatherPauseMs / 1000.0);
    PtyPair pty;
    SerialPort port;
    RecordingWindow window;
    port.m_hNotifyWnd = &window;
    if (!pty.ok() || port.OpenPort(pty.SlavePath(), 115200, 4) != 1) {
        return {"drain throughput, 1 MiB", "open failed", ">= 90 % of 137.9 kB/s", false};
    }
    std::atomic<bool> writerFailed{false};
    const auto start = Clock::now();
    std::thread writer([&] {
        std::vector<std::uint8_t> block(4096);
        for (std::size_t sent = 0; sent < kTotal; sent += block.size()) {
            for (std::size_t i = 0; i < block.size(); ++i) {
                block[i] = StreamByte(sent + i);
            }
            if (!pty.Write(block)) {
                writerFailed = true;
                return;
            }
        }
    });
    // A continuous stream keeps one drain going, so no notification comes until the
    // end: the consumer looks at the queue every millisecond instead.
    std::size_t received = 0;
    std::size_t mismatches = 0;
    const auto giveUp = start + 60s;
    while (received < kTotal && Clock::now() < giveUp && !writerFailed.load()) {
        std::uint8_t byte = 0;
        bool took = false;
        while (port.m_QueueRead.GetByte(byte) == 1) {
            took = true;
            if (byte != StreamByte(received)) {
                ++mismatches;
            }
            ++received;
        }
        if (!took) {
            std::this_thread::sleep_for(1ms);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    port.ClosePort();
    const double rate = static_cast<double>(received) / seconds;
    const double share = rate / kCeiling * 100.0;
    const bool intact = received == kTotal && mismatches == 0;
    return {"drain throughput, 1 MiB",
            Format("%.1f kB/s = %.1f %% of ceiling, ", rate / 1000.0, share) +
                (intact ? std::string("all bytes in order")
                        : Format("%.0f of 1048576 received, %.0f wrong",
                                 static_cast<double>(received), static_cast<double>(mismatches))),
            Format(">= 90 %% of %.1f kB/s", kCeiling / 1000.0), intact && share >= 90.0};
}

// (c) A 22-byte reply (the size of the information report) written at once; time from
// the write's return to the post.
Row NotifyLatency() {
    PtyPair pty;
    SerialPort port;
    RecordingWindow window;
    port.m_hNotifyWnd = &window;
    if (!pty.ok() || port.OpenPort(pty.SlavePath(), 9600, 4) != 1) {
        return {"last byte to WM_COMM_READ", "open failed", "<= 20 ms", false};
    }
    std::vector<double> ms;
    const std::vector<std::uint8_t> reply(22, 0x41);
    for (std::size_t i = 0; i < 30; ++i) {
        if (!pty.Write(reply)) {
            break;
        }
        const auto sent = Clock::now();
        if (!window.WaitForCount(i + 1, 2s)) {
            break;
        }
        ms.push_back(
            std::chrono::duration<double, std::milli>(window.Messages().back().at - sent).count());
        port.m_QueueRead.Clear();
    }
    port.ClosePort();
    if (ms.empty()) {
        return {"last byte to WM_COMM_READ", "no notification", "<= 20 ms", false};
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    return {"last byte to WM_COMM_READ",
            Format("median %.1f ms, min %.1f, max %.1f", median, ms.front(), ms.back()), "<= 20 ms",
            median <= 20.0};
}

}  // namespace

int main(int argc, char** argv) {
    // --rows: one tab-separated line per row, for scripts/bench to gather into its table.
    const bool rowsOnly = argc > 1 && std::string(argv[1]) == "--rows";
    if (rowsOnly) {
        for (const Row& row : {IdleCpu(), DrainThroughput(), NotifyLatency()}) {
            std::printf("ROW\t%s\t%s\t%s\t%s\n", row.measure.c_str(), row.result.c_str(),
                        row.target.c_str(), row.met ? "yes" : "NO");
        }
        return 0;
    }
    std::printf("serial link against a pseudo-terminal (about 15 s)\n");
    std::fflush(stdout);
    const std::vector<Row> rows = {IdleCpu(), DrainThroughput(), NotifyLatency()};
    std::printf("\n%-30s | %-58s | %-22s | %s\n", "measure", "result", "target", "met");
    std::printf("%s\n", std::string(122, '-').c_str());
    for (const Row& row : rows) {
        std::printf("%-30s | %-58s | %-22s | %s\n", row.measure.c_str(), row.result.c_str(),
                    row.target.c_str(), row.met ? "yes" : "NO");
    }
    std::printf(
        "\nThe watcher posts after a drain ends, and a drain ends with a read that finds "
        "nothing\nfollowed by one more 15 ms pause: a short reply is announced two pauses "
        "after it arrived.\n");
    return 0;
}
