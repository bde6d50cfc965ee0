// The download record, the tool start, and the dialog's hand-off end to end: the
// display's frame on a pseudo-terminal, config.data in a temporary working directory and
// a stand-in programming tool found through a temporary PATH folder.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <thread>

#include "protocol/Download.h"
#include "tests/posix/DialogPtyFixture.h"

namespace vyx::test {
namespace {

namespace proto = vyx::protocol;
namespace fs = std::filesystem;

const Bytes kRecordStart{0x55, 0x2C, 0x30, 0x2C, 0x53, 0x2C, 0x31, 0x2C};
constexpr std::uint8_t kTenthByte = 0x0D;

Bytes Record(std::uint8_t port) {
    Bytes r = kRecordStart;
    r.push_back(port);
    r.push_back(kTenthByte);
    return r;
}

std::optional<Bytes> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes Numbered(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>('a' + i % 26);
    }
    return b;
}

// Runs the test inside a fresh temporary working directory and restores the old one.
class InTempDir {
  public:
    InTempDir() : m_Old(fs::current_path()) { fs::current_path(m_Dir.Path()); }
    ~InTempDir() { fs::current_path(m_Old); }
    InTempDir(const InTempDir&) = delete;
    InTempDir& operator=(const InTempDir&) = delete;
    const fs::path& Path() const { return m_Dir.Path(); }

  private:
    TempDir m_Dir;
    fs::path m_Old;
};

// Sets an environment variable for the scope and restores it.
class EnvVar {
  public:
    EnvVar(const char* name, const std::string& value) : m_Name(name) {
        if (const char* old = ::getenv(name)) {
            m_Old = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvVar() {
        if (m_Old) {
            ::setenv(m_Name, m_Old->c_str(), 1);
        } else {
            ::unsetenv(m_Name);
        }
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

  private:
    const char* m_Name;
    std::optional<std::string> m_Old;
};

// Files may grow to `bytes` only, for the scope; SIGXFSZ ignored so the write fails.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_Old);
        m_OldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = m_Old;
        lim.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_Old);
        ::signal(SIGXFSZ, m_OldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit m_Old{};
    sighandler_t m_OldHandler = SIG_DFL;
};

// The stand-in programming tool. It reports through a FIFO what it found when it
// started: its pid, its argument count, how many descriptors of its parent are on the
// pseudo-terminal's slave, and config.data's bytes. With VYX_TEST_GATE set it first
// waits for a line on that FIFO, so it is still running when the test looks.
constexpr const char* kToolScript = R"sh(#!/bin/sh
[ -n "$VYX_TEST_GATE" ] && read gate < "$VYX_TEST_GATE"
n=0
for f in /proc/$PPID/fd/*; do
  if [ "$(readlink "$f")" = "$VYX_TEST_SLAVE" ]; then n=$((n+1)); fi
done
if [ -e config.data ]; then c=$(od -An -v -tx1 config.data | tr -d ' \n'); else c=missing; fi
printf 'pid=%s args=%s slave=%s config=%s\n' "$$" "$#" "$n" "$c" > "$VYX_TEST_REPORT"
)sh";

// A folder on PATH holding the stand-in tool, and the FIFO it reports through.
class StandInTool {
  public:
    StandInTool() {
        m_Bin = m_Dir.Path() / "bin";
        fs::create_directory(m_Bin);
        const fs::path tool = m_Bin / proto::kProgrammingTool;
        std::ofstream(tool) << kToolScript;
        fs::permissions(tool, fs::perms::owner_all);
        m_Report = m_Dir.Path() / "report.fifo";
        ::mkfifo(m_Report.c_str(), 0600);
        // Opened now, without blocking, so the tool's open for writing never waits.
        m_ReportFd = ::open(m_Report.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        // A writer of our own keeps the FIFO from reporting end-of-file between tools.
        m_KeepFd = ::open(m_Report.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        m_Path.emplace("PATH", m_Bin.string() + ":/usr/bin:/bin");
        m_ReportVar.emplace("VYX_TEST_REPORT", m_Report.string());
    }
    ~StandInTool() {
        for (const int fd : {m_KeepFd, m_ReportFd}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    StandInTool(const StandInTool&) = delete;
    StandInTool& operator=(const StandInTool&) = delete;
    bool ok() const { return m_ReportFd >= 0 && m_KeepFd >= 0; }

    // The tool's report line, or "" when none came before the timeout.
    std::string Report(std::chrono::milliseconds timeout) {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (text.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{m_ReportFd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char buf[512];
            const ssize_t n = ::read(m_ReportFd, buf, sizeof buf);
            if (n > 0) {
                text.append(buf, static_cast<std::size_t>(n));
            }
        }
        return text;
    }

  private:
    TempDir m_Dir;
    fs::path m_Bin;
    fs::path m_Report;
    int m_ReportFd = -1;
    int m_KeepFd = -1;
    std::optional<EnvVar> m_Path;
    std::optional<EnvVar> m_ReportVar;
};

std::string Field(const std::string& report, const std::string& name) {
    const std::string key = name + "=";
    const auto at = report.find(key);
    if (at == std::string::npos) {
        return "<none>";
    }
    const auto end = report.find_first_of(" \n", at);
    return report.substr(at + key.size(), end - at - key.size());
}

std::string Hex(const Bytes& bytes) {
    std::string s;
    char buf[3];
    for (const std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        s += buf;
    }
    return s;
}

// True once `pid` is gone altogether: exited and reaped, not left as a zombie. Polls
// /proc with a deadline, the only view of another waiter's reaping.
bool Reaped(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const fs::path proc = "/proc/" + std::to_string(pid);
    while (fs::exists(proc)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// Children started by this thread that are still there (running or zombie).
std::string ChildrenOfThisThread() {
    std::ifstream in("/proc/self/task/" + std::to_string(::gettid()) + "/children");
    std::string s;
    std::getline(in, s);
    return s;
}

int DescriptorsOn(const std::string& path) {
    int n = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(e.path(), ec) == path) {
            ++n;
        }
    }
    return n;
}

// -------------------------------------------------------------------------------------

TEST(DownloadRecordTest, PortByteAndFixedBytes) {
    const std::pair<int, std::uint8_t> cases[] = {{0, 0x30},  {3, 0x33},  {9, 0x39},
                                                  {10, 0x3A}, {19, 0x43}, {-1, 0x2F}};
    for (const auto& [index, byte] : cases) {
        const auto record = proto::BuildDownloadRecord(index);
        EXPECT_EQ(Bytes(record.begin(), record.end()), Record(byte)) << index;
    }
}

TEST(WriteDownloadRecordTest, ExistingFilesOnlyWrittenInPlace) {
    InTempDir dir;
    const auto record = proto::BuildDownloadRecord(3);
    std::string error;

    EXPECT_EQ(proto::WriteDownloadRecord("config.data", record, &error),
              proto::RecordWrite::NotOpened);
    EXPECT_FALSE(fs::exists("config.data"));

    WriteFile("config.data", {});
    EXPECT_EQ(proto::WriteDownloadRecord("config.data", record, &error),
              proto::RecordWrite::Written);
    EXPECT_EQ(ReadFile("config.data"), Record(0x33));

    const Bytes thirty = Numbered(30);
    WriteFile("config.data", thirty);
    EXPECT_EQ(proto::WriteDownloadRecord("config.data", record, &error),
              proto::RecordWrite::Written);
    Bytes expected = Record(0x33);
    expected.insert(expected.end(), thirty.begin() + 10, thirty.end());
    EXPECT_EQ(ReadFile("config.data"), expected);
}

TEST(WriteDownloadRecordTest, RefusesWhatIsNoRegularFileOrIsLocked) {
    InTempDir dir;
    const auto record = proto::BuildDownloadRecord(0);
    std::string error;

    fs::create_directory("config.data");
    EXPECT_EQ(proto::WriteDownloadRecord("config.data", record, &error),
              proto::RecordWrite::NotOpened);
    fs::remove("config.data");

    // A FIFO: neither waited on nor written.
    ASSERT_EQ(::mkfifo("config.data", 0600), 0);
    const int reader = ::open("config.data", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(proto::WriteDownloadRecord("config.data", record, &error),
              proto::RecordWrite::NotOpened);
    char buf[16];
    EXPECT_LE(::read(reader, buf, sizeof buf), 0);
    ::close(reader);
    fs::remove("config.data");

    // Held exclusively by someone else.
    const Bytes before = Numbered(12);
    WriteFile("config.data", before);
    const int holder = ::open("config.data", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_EQ(proto::WriteDownloadRecord("config.data", record, &error),
              proto::RecordWrite::NotOpened);
    EXPECT_EQ(ReadFile("config.data"), before);
    ::close(holder);
    EXPECT_EQ(proto::WriteDownloadRecord("config.data", record, &error),
              proto::RecordWrite::Written);
}

// A missing file is told apart from one that exists but cannot be opened, and a POSIX
// record lock of another process keeps the file as a flock does.
TEST(WriteDownloadRecordTest, OutcomeTellsMissingFromRefusedAndHonoursRecordLocks) {
    InTempDir dir;
    const auto record = proto::BuildDownloadRecord(0);
    proto::RecordOutcome outcome = proto::WriteRecordFile("config.data", record);
    EXPECT_EQ(outcome.result, proto::RecordWrite::NotOpened);
    EXPECT_TRUE(outcome.missing);

    fs::create_directory("config.data");
    outcome = proto::WriteRecordFile("config.data", record);
    EXPECT_EQ(outcome.result, proto::RecordWrite::NotOpened);
    EXPECT_FALSE(outcome.missing);
    EXPECT_EQ(outcome.error, "open: Is a directory");
    fs::remove("config.data");

    const Bytes before = Numbered(12);
    WriteFile("config.data", before);
    int ready[2] = {-1, -1};
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open("config.data", O_RDWR);
        const char locked = fd >= 0 && ::lockf(fd, F_LOCK, 0) == 0 ? 'y' : 'n';
        static_cast<void>(::write(ready[1], &locked, 1));
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char locked = 0;
    ASSERT_EQ(::read(ready[0], &locked, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(locked, 'y');
    outcome = proto::WriteRecordFile("config.data", record);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(outcome.result, proto::RecordWrite::NotOpened);
    EXPECT_FALSE(outcome.missing);
    EXPECT_EQ(outcome.error.rfind("fcntl F_SETLK: ", 0), 0u) << outcome.error;
    EXPECT_EQ(ReadFile("config.data"), before);
    // Once the other process is gone, the record is written.
    EXPECT_EQ(proto::WriteRecordFile("config.data", record).result, proto::RecordWrite::Written);
}

TEST(WriteDownloadRecordTest, ShortWriteIsAFailure) {
    InTempDir dir;
    WriteFile("config.data", {});
    std::string error;
    proto::RecordWrite result{};
    {
        FileSizeLimit limit(5);  // the first five bytes fit, the rest cannot
        result = proto::WriteDownloadRecord("config.data", proto::BuildDownloadRecord(0), &error);
    }
    EXPECT_EQ(result, proto::RecordWrite::WriteFailed);
    EXPECT_NE(error.find("pwrite"), std::string::npos) << error;
}

TEST(StartProgramTest, FoundThroughPathStartedWithoutArgumentsAndReaped) {
    InTempDir cwd;
    StandInTool tool;
    ASSERT_TRUE(tool.ok());
    EnvVar slave("VYX_TEST_SLAVE", "none");
    ASSERT_TRUE(proto::StartProgram(proto::kProgrammingTool));
    const std::string report = tool.Report(10s);
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(Field(report, "args"), "0");
    EXPECT_EQ(Field(report, "config"), "missing");
    EXPECT_TRUE(Reaped(std::stoi(Field(report, "pid")), 10s)) << "left a zombie";
}

TEST(StartProgramTest, NotOnPathNotStartedEvenInTheCurrentDirectory) {
    InTempDir cwd;
    std::ofstream(proto::kProgrammingTool) << "#!/bin/sh\n";
    fs::permissions(proto::kProgrammingTool, fs::perms::owner_all);
    TempDir emptyBin;
    EnvVar path("PATH", emptyBin.Path().string());
    EXPECT_FALSE(proto::StartProgram(proto::kProgrammingTool));
    EXPECT_EQ(ChildrenOfThisThread(), "");
}

// -------------------------------------------------------------------------------------

class DialogDownloadTest : public DialogPtyFixture {
  protected:
    void SetUp() override {
        DialogPtyFixture::SetUp();
        ASSERT_TRUE(m_Tool.ok());
        m_Cwd.emplace();
        m_Slave.emplace("VYX_TEST_SLAVE", m_Pty.SlavePath());
    }
    void TearDown() override {
        DialogPtyFixture::TearDown();
        m_Slave.reset();
        m_Cwd.reset();
    }

    StandInTool m_Tool;
    std::optional<InTempDir> m_Cwd;
    std::optional<EnvVar> m_Slave;
};

TEST_F(DialogDownloadTest, HandOffInOrder) {
    struct Case {
        const char* what;
        int comIndex;  // selected after opening; -1: the text field edited
        std::optional<Bytes> config;
        std::uint8_t port;
    };
    const Bytes thirty = Numbered(30);
    const Case cases[] = {
        {"COM 1, 30 bytes", 0, thirty, 0x30},        {"COM 10, empty", 9, Bytes{}, 0x39},
        {"COM 11, missing", 10, std::nullopt, 0x3A}, {"COM 20", 19, Bytes{}, 0x43},
        {"no selection", -1, Bytes{}, 0x2F},
    };
    const int slaveHeldClosed = DescriptorsOn(m_Pty.SlavePath());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove("config.data");
        if (c.config) {
            WriteFile("config.data", *c.config);
        }
        OpenCom1();
        ASSERT_EQ(DescriptorsOn(m_Pty.SlavePath()), slaveHeldClosed + 1);
        if (c.comIndex < 0) {
            m_Fake.EditListText(res::IDC_COM_PORT, "COM?");
        } else {
            m_Fake.Select(res::IDC_COM_PORT, c.comIndex);
        }
        m_Fake.ClearLog();
        bool checkedInBox = false;
        m_Fake.OnMessageBox([&](const FakeWindow::Box& box, int) {
            // The frame went out while the port was open; nothing further yet.
            EXPECT_EQ(box.text, "Com port closed !");
            EXPECT_EQ(Line(7), (Bytes{0x02, 0x03, 0x40, 0xAA, 0x55, 0x03, 0xBF}));
            EXPECT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 0);
            EXPECT_EQ(ReadFile("config.data"), c.config);
            EXPECT_EQ(ChildrenOfThisThread(), "");
            checkedInBox = true;
        });
        m_Fake.Click(res::IDC_PROGRAM_DOWNLOAD);
        m_Fake.OnMessageBox(nullptr);
        EXPECT_TRUE(checkedInBox);
        ASSERT_EQ(m_Fake.Boxes().size(), 1u);
        EXPECT_EQ(m_Fake.Boxes()[0].caption, app::MessageCaption);
        EXPECT_EQ(m_Fake.Boxes()[0].style, 0x40u);
        EXPECT_TRUE(m_Fake.IsWindowEnabled(res::IDC_PORT_OPEN));
        EXPECT_FALSE(m_Fake.IsWindowEnabled(res::IDC_PROGRAM_DOWNLOAD));
        EXPECT_FALSE(m_Fake.IsWindowEnabled(res::IDC_CLOSE));

        Bytes expected;
        if (c.config) {
            expected = Record(c.port);
            if (c.config->size() > 10) {
                expected.insert(expected.end(), c.config->begin() + 10, c.config->end());
            }
        }
        EXPECT_EQ(ReadFile("config.data"),
                  c.config ? std::optional<Bytes>(expected) : std::nullopt);

        const std::string report = m_Tool.Report(10s);
        ASSERT_FALSE(report.empty()) << "the tool did not start";
        EXPECT_EQ(Field(report, "args"), "0");
        EXPECT_EQ(Field(report, "slave"), std::to_string(slaveHeldClosed));
        EXPECT_EQ(Field(report, "config"), c.config ? Hex(expected) : "missing");
        EXPECT_TRUE(Reaped(std::stoi(Field(report, "pid")), 10s)) << "left a zombie";
    }
    EXPECT_EQ(app::CVYX_UtilityDlg::GetResponseState(), app::ResponseState::Idle);
}

TEST_F(DialogDownloadTest, WriteFailureStopsBeforeTheTool) {
    // A started tool would wait on this gate, so it would still be there to be seen.
    const fs::path gate = m_Cwd->Path() / "gate.fifo";
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    const int gateFd = ::open(gate.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(gateFd, 0);
    EnvVar gateVar("VYX_TEST_GATE", gate.string());
    WriteFile("config.data", {});
    OpenCom1();
    {
        FileSizeLimit limit(4);
        m_Fake.Click(res::IDC_PROGRAM_DOWNLOAD);
    }
    const std::string children = ChildrenOfThisThread();
    EXPECT_EQ(children, "") << "the tool was started";
    if (!children.empty()) {
        static_cast<void>(::write(gateFd, "\n", 1));
    }
    ::close(gateFd);
    ASSERT_EQ(m_Fake.Boxes().size(), 2u);
    EXPECT_EQ(m_Fake.Boxes()[0].text, "Com port closed !");
    EXPECT_EQ(m_Fake.Boxes()[1].text, "Writing config.data failed !");
    EXPECT_EQ(m_Fake.Boxes()[1].caption, app::MessageCaption);
    EXPECT_EQ(m_Fake.Boxes()[1].style, 0x10u);
    EXPECT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 0);
}

}  // namespace
}  // namespace vyx::test
