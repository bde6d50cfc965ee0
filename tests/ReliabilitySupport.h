#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "tests/posix/DialogPtyFixture.h"
#include "tests/support/SerialFakes.h"

namespace vyx::test {

// CPU time (user + system) of the whole process so far, in seconds.
inline double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Share of one core the process used while the test thread waited `window`. The window
// is an observation period, not a synchronisation: a spinning thread fills it.
inline double CpuShareOver(std::chrono::milliseconds window) {
    const double before = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(window);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return (ProcessCpuSeconds() - before) / wall;
}

// Resident set size of this process in KiB (from /proc/self/statm).
inline long ResidentKiB() {
    long pages = 0;
    long resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Sanitizer builds keep freed memory in quarantine on purpose; resident size says
// nothing about leaks there (LeakSanitizer does).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

// The dialog fixture with what the fault tests add: a fresh device behind COM 1, the
// display's reply, and the information query played to its report box.
class ReliabilityFixture : public DialogPtyFixture {
  protected:
    // A well-formed reply of 22 bytes (check byte included) and the report it gives.
    static Bytes Reply() {
        return {0x02, 0x12, 0x44, 'V', '1',  '.',  '0',  0,    0,    0,    0,
                0,    0,    0,    0,   0x01, 0x09, 0x05, 0x04, 0x00, 0x03, 0x25};
    }
    static constexpr const char* kReport =
        "\n\nVersion :\nV1.0\n\nCommand Set :\n 1\n\nDefault Font :\n 9"
        "\n\nLanguage :\n 5\n\nBPS :\n 4";

    // Points COM 1 at a new pseudo-terminal, as if another display were plugged in.
    void ReplaceDevice() {
        m_Fresh = std::make_unique<PtyPair>();
        ASSERT_TRUE(m_Fresh->ok());
        std::filesystem::remove(m_Ports.Path() / "COM1");
        std::filesystem::create_symlink(m_Fresh->SlavePath(), m_Ports.Path() / "COM1");
    }
    PtyPair& Far() { return m_Fresh ? *m_Fresh : m_Pty; }

    // "VYX Information", the display answers `reply`, the box is waited for.
    bool QueryAnswered(const Bytes& reply, std::size_t boxesBefore) {
        m_Fake.Click(res::IDC_INFORMATION);
        if (Far().Read(5, 3s) != Bytes{0x02, 0x01, 0x44, 0x03, 0x46}) {
            return false;
        }
        if (!Far().Write(reply)) {
            return false;
        }
        return m_Fake.PumpUntil([&] { return m_Fake.Boxes().size() > boxesBefore; }, 5s);
    }

    std::unique_ptr<PtyPair> m_Fresh;
};

}  // namespace vyx::test
