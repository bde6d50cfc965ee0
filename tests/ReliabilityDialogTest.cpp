// The dialog on the real serial layer when the far end misbehaves: it vanishes, it stops
// reading, it floods the line, it lies in its replies. Outcomes are asserted: no crash,
// no hang, no busy loop (CPU used, not wall time), the controls keep working.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "protocol/Report.h"
#include "tests/ReliabilitySupport.h"
#include "tests/support/SerialFakes.h"

namespace vyx::test {
namespace {

using app::CVYX_UtilityDlg;
using app::ResponseState;
using Clock = std::chrono::steady_clock;

constexpr double kIdleCpuShare = 0.05;  // at most 5 % of a core after a fault

// Fills the far end's input until it takes nothing more: from then on the host's
// writes wait for a reader that never comes.
void StopReading(PtyPair& pty) {
    const int fd = pty.SlaveHoldFd();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const Bytes block(1024, 0x55);
    while (::write(fd, block.data(), block.size()) > 0) {
    }
}

int InputWaiting(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// State letter of one thread of this process ('S' sleeping, 'R' running ...).
char ThreadState(pid_t tid) {
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        return '?';
    }
    char buf[512] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    const std::string stat(buf, n);
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}

enum class Moment { PortOpen, QueryWaiting, DuringWrite };

class FarEndGoneTest : public ReliabilityFixture, public ::testing::WithParamInterface<Moment> {};

// The display is unplugged (the pseudo-terminal's master closes) at three moments. Then
// the process must go quiet, "Close" must work and show its box, and "Port Open" on a
// fresh device must give a working link again.
TEST_P(FarEndGoneTest, NoSpinCloseWorksAndAFreshDeviceOpens) {
    testing::internal::CaptureStderr();  // the serial layer's one-line diagnostics
    OpenCom1();
    switch (GetParam()) {
        case Moment::PortOpen:
            m_Pty.CloseMaster();
            break;
        case Moment::QueryWaiting:
            m_Fake.Click(res::IDC_INFORMATION);
            ASSERT_EQ(Line(5), (Bytes{0x02, 0x01, 0x44, 0x03, 0x46}));
            ASSERT_TRUE(m_Pty.Write(Bytes{0x02, 0x12, 0x44}));  // a reply cut short
            ASSERT_TRUE(m_Fake.PumpUntil([&] { return Queued() == 3; }, 5s));
            m_Pty.CloseMaster();
            break;
        case Moment::DuringWrite: {
            // The write waits for a peer that stopped reading; the master goes while the
            // window thread sleeps inside it.
            StopReading(m_Pty);
            const pid_t windowThread = ::gettid();
            std::atomic<bool> clicking{false};
            std::thread unplug([&] {
                while (!clicking.load()) {
                    std::this_thread::yield();
                }
                Eventually([&] { return ThreadState(windowThread) == 'S'; }, 3s);
                m_Pty.CloseMaster();
            });
            m_Fake.Type(res::IDC_LINE1, std::string(20, 'W'));
            clicking = true;
            m_Fake.Click(res::IDC_INPUT_STRING);
            unplug.join();
            break;
        }
    }
    ASSERT_TRUE(Eventually([&] { return m_Dlg->m_Comm.DeviceLost(); }));
    m_Fake.PumpPending();
    EXPECT_LT(CpuShareOver(1000ms), kIdleCpuShare);

    // Buttons still answer while the device is gone: they write to nothing.
    m_Fake.Click(res::IDC_CELL_TEST);
    m_Fake.Click(res::IDC_INFORMATION);
    m_Fake.Click(res::IDC_CLOSE);
    ASSERT_FALSE(m_Fake.Boxes().empty());
    EXPECT_EQ(m_Fake.Boxes().back().text, "Com port closed !");
    EXPECT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 0);
    EXPECT_EQ(m_Dlg->m_Comm.RunningWatchers(), 0);
    EXPECT_TRUE(m_Fake.IsWindowEnabled(res::IDC_PORT_OPEN));

    ReplaceDevice();
    OpenCom1();
    EXPECT_EQ(m_Dlg->m_Comm.RunningWatchers(), 1);
    const std::size_t boxes = m_Fake.Boxes().size();
    ASSERT_TRUE(QueryAnswered(Reply(), boxes));
    EXPECT_EQ(m_Fake.Boxes().back().text, kReport);
    testing::internal::GetCapturedStderr();
}

INSTANTIATE_TEST_SUITE_P(Moments, FarEndGoneTest,
                         ::testing::Values(Moment::PortOpen, Moment::QueryWaiting,
                                           Moment::DuringWrite),
                         [](const auto& moment) {
                             switch (moment.param) {
                                 case Moment::PortOpen:
                                     return "WhilePortOpen";
                                 case Moment::QueryWaiting:
                                     return "WhileQueryWaits";
                                 default:
                                     return "DuringAWrite";
                             }
                         });

using ReliabilityDialogTest = ReliabilityFixture;

// A peer that stops reading: "Input String" gives up after its write bound instead of
// holding the window thread, and the dialog goes on handling replies.
TEST_F(ReliabilityDialogTest, PeerStopsReadingInputStringReturnsAndTheDialogAnswers) {
    OpenCom1(4);  // 115200: the bound of a 45-byte frame is about a second
    StopReading(m_Pty);
    m_Fake.Type(res::IDC_LINE1, "stalled");
    const auto start = Clock::now();
    m_Fake.Click(res::IDC_INPUT_STRING);
    // Not a speed target: a generous ceiling that only a hang would pass.
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_LT(CpuShareOver(500ms), kIdleCpuShare);

    // Still responsive: the query goes out (it too may stall) and the reply that comes
    // back is reported.
    m_Fake.Click(res::IDC_INFORMATION);
    ASSERT_EQ(CVYX_UtilityDlg::GetResponseState(), ResponseState::InformationAwaited);
    ASSERT_TRUE(m_Pty.Write(Reply()));
    ASSERT_TRUE(m_Fake.PumpUntil([&] { return !m_Fake.Boxes().empty(); }, 5s));
    EXPECT_EQ(m_Fake.Boxes().back().text, kReport);
    m_Fake.Click(res::IDC_CLOSE);
    EXPECT_EQ(m_Dlg->m_Comm.RunningWatchers(), 0);
}

// 1 MiB of random bytes while the dialog is Idle: the queue overflows, the port is
// closed and reopened on the same device, exactly one watcher remains, nothing leaked;
// then a normal query works.
TEST_F(ReliabilityDialogTest, JunkFloodWhileIdleOverflowsReopensAndRecovers) {
    TestMessageBox appBox;
    m_Dlg->m_Comm.m_pAppMessageBox = &appBox;
    OpenCom1(4);
    const int descriptors = OpenDescriptorCount();
    const int threads = ThreadCount();

    std::atomic<bool> flooding{true};
    std::thread farEnd([&] {
        std::mt19937 random(7);
        Bytes junk(1 << 20);
        std::generate(junk.begin(), junk.end(),
                      [&] { return static_cast<std::uint8_t>(random()); });
        m_Pty.Write(junk);
        flooding = false;
    });
    // The operator dismisses each "m_QueueRead FULL!" as it comes.
    std::size_t shown = 0;
    while (flooding.load() || appBox.DismissAll() > 0) {
        if (appBox.WaitForShown(shown + 1, 100ms)) {
            shown = appBox.Texts().size();
            appBox.DismissAll();
        }
        m_Fake.PumpPending();  // Idle: notifications take nothing
    }
    farEnd.join();
    ASSERT_GE(appBox.Texts().size(), 1u);
    for (const std::string& text : appBox.Texts()) {
        EXPECT_EQ(text, "m_QueueRead FULL!");
    }
    // Bytes still in the pseudo-terminal when the far end's write returned can overflow
    // the queue once more, and a reopen may be under way. Settled: nothing waits on the
    // line, no box is up, one watcher, and the descriptors and threads of before the
    // flood, all holding for 100 ms (a watcher that just read a chunk raises its box
    // within microseconds). A leak never settles.
    auto quiet = [&] {
        return appBox.DismissAll() == 0 && InputWaiting(m_Pty.SlaveHoldFd()) == 0 &&
               m_Dlg->m_Comm.RunningWatchers() == 1 && m_Dlg->m_Comm.m_bConnected.load() == 1 &&
               ThreadCount() == threads && OpenDescriptorCount() == descriptors;
    };
    auto quietSince = Clock::now();
    const bool settled = Eventually(
        [&] {
            if (!quiet()) {
                quietSince = Clock::now();
                return false;
            }
            return Clock::now() - quietSince >= 100ms;
        },
        10s);
    EXPECT_TRUE(settled) << "watchers " << m_Dlg->m_Comm.RunningWatchers() << ", threads "
                         << ThreadCount() << " (" << threads << " before), descriptors "
                         << OpenDescriptorCount() << " (" << descriptors << " before)";
    EXPECT_EQ(m_Dlg->m_Comm.LastGoodBaudRate(), 115200u);
    EXPECT_GE(m_Dlg->m_Comm.SuccessfulOpens(), 2u);
    EXPECT_EQ(CVYX_UtilityDlg::GetResponseState(), ResponseState::Idle);
    EXPECT_TRUE(m_Fake.Boxes().empty());  // the flood alone raises no dialog box

    ASSERT_TRUE(QueryAnswered(Reply(), 0));
    EXPECT_EQ(m_Fake.Boxes().back().text, kReport);
    m_Fake.Click(res::IDC_CLOSE);
    EXPECT_EQ(m_Dlg->m_Comm.RunningWatchers(), 0);
}

// Replies that lie in every byte the host does not examine give the report of the
// truthful reply; replies that lie in the fields are reported as they are.
TEST_F(ReliabilityDialogTest, LyingRepliesAreReportedAsTheyComeWithinTheBuffer) {
    struct Case {
        const char* what;
        Bytes reply;
        std::string report;
    };
    auto with = [](std::initializer_list<std::pair<std::size_t, std::uint8_t>> changes) {
        Bytes r = Reply();
        for (const auto& [pos, value] : changes) {
            r[pos] = value;
        }
        return r;
    };
    Bytes huge(5000, 0xEE);  // 5,000 bytes at once: more than the 1024-byte reply buffer
    std::copy_n(Reply().begin(), 22, huge.begin());
    const std::string zeros =
        "\n\nVersion :\n\n\nCommand Set :\n 0\n\nDefault Font :\n 0\n\nLanguage :\n 0"
        "\n\nBPS :\n 0";
    // Twelve U+00FF in UTF-8, then FF in every field.
    std::string allFF = "\n\nVersion :\n";
    for (int i = 0; i < 12; ++i) {
        allFF += "\xC3\xBF";
    }
    allFF += "\n\nCommand Set :\nFF\n\nDefault Font :\nFF\n\nLanguage :\nFF\n\nBPS :\nFF";
    const std::vector<Case> cases{
        {"wrong STX", with({{0, 0x55}}), kReport},
        {"wrong LEN", with({{1, 0xFF}}), kReport},
        {"wrong CMD", with({{2, '3'}}), kReport},
        {"wrong ETX and BCC", with({{20, 0x00}, {21, 0x00}}), kReport},
        {"zero bytes everywhere", Bytes(22, 0x00), zeros},
        {"5000 bytes at once", huge, kReport},
        {"every byte 0xFF", Bytes(22, 0xFF), allFF},
    };
    OpenCom1(4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t boxes = m_Fake.Boxes().size();
        ASSERT_TRUE(QueryAnswered(c.reply, boxes));
        EXPECT_EQ(m_Fake.Boxes().back().text, c.report);
        EXPECT_EQ(m_Fake.Boxes().size(), boxes + 1);  // one report, never a second
        // Whatever is still queued or posted is taken by nobody: the state is Idle.
        m_Fake.PumpPending();
        EXPECT_EQ(m_Fake.Boxes().size(), boxes + 1);
        EXPECT_EQ(CVYX_UtilityDlg::GetResponseState(), ResponseState::Idle);
    }
}

// A display that answers with 21 bytes, again and again, never completes a reply of its
// own: each query discards the last answer. No report, no spinning.
TEST_F(ReliabilityDialogTest, TwentyOneBytesForeverNeverReportAndNeverSpin) {
    OpenCom1(4);
    const Bytes reply = Reply();
    const Bytes shortReply(reply.begin(), reply.begin() + 21);
    for (int i = 0; i < 20; ++i) {
        m_Fake.Click(res::IDC_INFORMATION);
        ASSERT_EQ(Line(5), (Bytes{0x02, 0x01, 0x44, 0x03, 0x46}));
        const std::size_t posted = m_Fake.PostedCount();
        ASSERT_TRUE(m_Pty.Write(shortReply));
        ASSERT_TRUE(m_Fake.WaitForPosted(posted + 1, 5s));
        ASSERT_TRUE(m_Fake.PumpUntil([&] { return Queued() == 21; }, 5s));
        m_Fake.PumpPending();
    }
    EXPECT_TRUE(m_Fake.Boxes().empty());
    EXPECT_EQ(CVYX_UtilityDlg::GetResponseState(), ResponseState::InformationAwaited);
    EXPECT_LT(CpuShareOver(500ms), kIdleCpuShare);
    // The one byte that completes the reply brings the report.
    ASSERT_TRUE(m_Pty.Write(Bytes{reply[21]}));
    ASSERT_TRUE(m_Fake.PumpUntil([&] { return !m_Fake.Boxes().empty(); }, 5s));
    EXPECT_EQ(m_Fake.Boxes().back().text, kReport);
}

}  // namespace
}  // namespace vyx::test
