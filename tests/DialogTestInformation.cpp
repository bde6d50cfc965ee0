// The information query: the reply gathered from the line, the report and its box.

#include "tests/DialogTestFixture.h"

namespace vyx::test {
namespace {

using app::CVYX_UtilityDlg;
using app::ResponseState;

// A reply of 22 bytes: version "V2" 0 ".05" e-acute and zeros, command set 0x01,
// default font 0x0A, language 0xC3, rate 0x1F.
const Bytes kReply{0x02, 0x14, 0x44, 'V',  '2',  0x00, '.',  '0',  '5',  0xE9, 0x00,
                   0x00, 0x00, 0x00, 0x00, 0x01, 0x0A, 0xC3, 0x1F, 0x03, 0x77, 0x00};
const std::string kReport =
    "\n\nVersion :\nV2.05\xC3\xA9\n\nCommand Set :\n 1\n\nDefault Font :\n A"
    "\n\nLanguage :\nC3\n\nBPS :\n1F";

Bytes Part(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(to));
}

class DialogInformationTest : public DialogFixture {
  protected:
    void Query() {
        m_Fake.Click(res::IDC_INFORMATION);
        ASSERT_EQ(Line(5), (Bytes{0x02, 0x01, 0x44, 0x03, 0x46}));
        ASSERT_EQ(CVYX_UtilityDlg::GetResponseState(), ResponseState::InformationAwaited);
    }
    // Waits, delivering nothing, until exactly `count` bytes are queued. Every append of
    // the watcher is followed by a post, so a post seen before the count is read is
    // enough to wait on.
    bool WaitQueued(std::int32_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::size_t seen = m_Fake.PostedCount();
            if (Queued() == count) {
                return true;
            }
            m_Fake.WaitForPosted(seen + 1, 200ms);
        }
        return Queued() == count;
    }
    bool PumpUntilBoxes(std::size_t count) {
        return m_Fake.PumpUntil([&] { return m_Fake.Boxes().size() >= count; }, 5s);
    }
    void ExpectReportBox(std::size_t index, const std::string& text) {
        ASSERT_GT(m_Fake.Boxes().size(), index);
        EXPECT_EQ(m_Fake.Boxes()[index].text, text);
        EXPECT_EQ(m_Fake.Boxes()[index].caption, "VYX Information");
        EXPECT_EQ(m_Fake.Boxes()[index].style, 0x40u);
    }
    static void ExpectIdleAndEmpty() {
        EXPECT_EQ(CVYX_UtilityDlg::GetResponseState(), ResponseState::Idle);
        EXPECT_TRUE(CVYX_UtilityDlg::ReportText().empty());
    }
};

TEST_F(DialogInformationTest, ReplyInTwoPartsGivesOneReport) {
    OpenCom1();
    Query();
    std::string shownText;
    ResponseState shownState = ResponseState::Idle;
    m_Fake.OnMessageBox([&](const FakeWindow::Box&, int) {
        shownText = CVYX_UtilityDlg::ReportText();
        shownState = CVYX_UtilityDlg::GetResponseState();
    });
    ASSERT_TRUE(m_Line.Arrive(Part(kReply, 0, 10)));
    ASSERT_TRUE(m_Fake.PumpUntil([&] { return Queued() == 10; }, 5s));
    m_Fake.PumpPending();
    EXPECT_TRUE(m_Fake.Boxes().empty());

    ASSERT_TRUE(m_Line.Arrive(Part(kReply, 10, 22)));
    ASSERT_TRUE(PumpUntilBoxes(1));
    ExpectReportBox(0, kReport);
    EXPECT_EQ(shownText, kReport);
    EXPECT_EQ(shownState, ResponseState::InformationAwaited);
    ExpectIdleAndEmpty();
    EXPECT_EQ(Queued(), 0);
    m_Fake.PumpPending();
    EXPECT_EQ(m_Fake.Boxes().size(), 1u);
}

TEST_F(DialogInformationTest, TwentyOneBytesWaitForTheTwentySecond) {
    OpenCom1();
    Query();
    ASSERT_TRUE(m_Line.Arrive(Part(kReply, 0, 21)));
    ASSERT_TRUE(m_Fake.PumpUntil([&] { return Queued() == 21; }, 5s));
    m_Fake.PumpPending();
    m_Dlg->OnMessage(WM_COMM_READ, 1, 0);  // a notification that finds 21 bytes
    EXPECT_TRUE(m_Fake.Boxes().empty());
    EXPECT_EQ(Queued(), 21);
    EXPECT_EQ(CVYX_UtilityDlg::GetResponseState(), ResponseState::InformationAwaited);

    ASSERT_TRUE(m_Line.Arrive(Part(kReply, 21, 22)));
    ASSERT_TRUE(PumpUntilBoxes(1));
    ExpectReportBox(0, kReport);
    EXPECT_EQ(Queued(), 0);
    ExpectIdleAndEmpty();
}

TEST_F(DialogInformationTest, AllQueuedBytesAreTakenOnlyTheFieldsShown) {
    OpenCom1();
    Query();
    Bytes reply = kReply;
    reply.insert(reply.end(), {0xFF, 0xFE, 0xFD});
    ASSERT_TRUE(m_Line.Arrive(reply));
    ASSERT_TRUE(WaitQueued(25));
    ASSERT_TRUE(PumpUntilBoxes(1));
    ExpectReportBox(0, kReport);
    EXPECT_EQ(Queued(), 0);
}

TEST_F(DialogInformationTest, BytesBeyondTheReplyBufferAreDropped) {
    OpenCom1();
    Query();
    Bytes burst = kReply;
    burst.resize(1100, 0x55);
    ASSERT_TRUE(m_Line.Arrive(burst));
    ASSERT_TRUE(WaitQueued(1100));
    std::int32_t queuedInBox = -1;
    m_Fake.OnMessageBox([&](const FakeWindow::Box&, int) { queuedInBox = Queued(); });
    ASSERT_TRUE(PumpUntilBoxes(1));
    ExpectReportBox(0, kReport);
    EXPECT_EQ(queuedInBox, 0);
    m_Fake.PumpPending();
    EXPECT_EQ(m_Fake.Boxes().size(), 1u);
    ExpectIdleAndEmpty();
}

TEST_F(DialogInformationTest, IdleBytesStayUntilTheNextQueryDiscardsThem) {
    OpenCom1();
    ASSERT_TRUE(m_Line.Arrive(Bytes{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16}));
    ASSERT_TRUE(m_Fake.PumpUntil([&] { return Queued() == 7; }, 5s));
    m_Fake.PumpPending();
    m_Dlg->OnMessage(WM_COMM_READ, 1, 0);
    EXPECT_EQ(Queued(), 7);
    EXPECT_TRUE(m_Fake.Boxes().empty());

    Query();
    EXPECT_EQ(Queued(), 0);
    ASSERT_TRUE(m_Line.Arrive(kReply));
    ASSERT_TRUE(PumpUntilBoxes(1));
    ExpectReportBox(0, kReport);

    // Idle again: further bytes are left alone.
    ASSERT_TRUE(m_Line.Arrive(kReply));
    ASSERT_TRUE(m_Fake.PumpUntil([&] { return Queued() == 22; }, 5s));
    m_Fake.PumpPending();
    EXPECT_EQ(m_Fake.Boxes().size(), 1u);
    EXPECT_EQ(Queued(), 22);
}

TEST_F(DialogInformationTest, SecondReportWhileTheFirstBoxIsUp) {
    OpenCom1();
    Query();
    Bytes second = kReply;
    second[3] = 'X';
    second[15] = 0x09;
    const std::string secondReport =
        "\n\nVersion :\nX2.05\xC3\xA9\n\nCommand Set :\n 9\n\nDefault Font :\n A"
        "\n\nLanguage :\nC3\n\nBPS :\n1F";
    std::string innerText;
    ResponseState afterInner = ResponseState::InformationAwaited;
    std::string outerTextAfterInner = "unset";
    bool nested = false;
    m_Fake.OnMessageBox([&](const FakeWindow::Box&, int depth) {
        if (depth == 2) {
            innerText = CVYX_UtilityDlg::ReportText();
            return;
        }
        EXPECT_EQ(CVYX_UtilityDlg::GetResponseState(), ResponseState::InformationAwaited);
        ASSERT_TRUE(m_Line.Arrive(second));
        nested = PumpUntilBoxes(2);
        afterInner = CVYX_UtilityDlg::GetResponseState();
        outerTextAfterInner = CVYX_UtilityDlg::ReportText();
    });
    ASSERT_TRUE(m_Line.Arrive(kReply));
    ASSERT_TRUE(PumpUntilBoxes(1));
    ASSERT_TRUE(nested);
    ExpectReportBox(0, kReport);
    ExpectReportBox(1, secondReport);
    EXPECT_EQ(innerText, secondReport);
    // The inner handling set Idle and emptied the text when its own box closed.
    EXPECT_EQ(afterInner, ResponseState::Idle);
    EXPECT_EQ(outerTextAfterInner, "");
    ExpectIdleAndEmpty();
}

TEST_F(DialogInformationTest, CloseAndReopenKeepTheWaitAndTheBytes) {
    OpenCom1();
    Query();
    ASSERT_TRUE(m_Line.Arrive(Part(kReply, 0, 10)));
    ASSERT_TRUE(m_Fake.PumpUntil([&] { return Queued() == 10; }, 5s));
    m_Fake.Click(res::IDC_CLOSE);
    OpenCom1();
    EXPECT_EQ(CVYX_UtilityDlg::GetResponseState(), ResponseState::InformationAwaited);
    EXPECT_EQ(Queued(), 10);
    ASSERT_TRUE(m_Line.Arrive(Part(kReply, 10, 22)));
    ASSERT_TRUE(PumpUntilBoxes(2));
    EXPECT_EQ(m_Fake.Boxes()[0].text, "Com port closed !");
    ExpectReportBox(1, kReport);
}

// The edit boxes go out, and the version comes back, in the system's code page.
TEST_F(DialogInformationTest, TextAndReportFollowTheSystemCodePage) {
    SetVariable("VYX_CODEPAGE", "1251");
    OpenCom1();
    m_Fake.Type(res::IDC_LINE1, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");  // Привет
    m_Fake.Type(res::IDC_LINE2, "\xD0\x96\xC3\xA9");                                  // Жé
    m_Fake.Click(res::IDC_INPUT_STRING);
    const Bytes frame = Line(45);
    ASSERT_EQ(frame.size(), 45u);
    EXPECT_EQ(Part(frame, 3, 10), (Bytes{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, ' '}));
    EXPECT_EQ(Part(frame, 23, 26), (Bytes{0xC6, '?', ' '}));

    Query();
    Bytes reply = kReply;
    reply[9] = 0xC0;  // А in place of é, and б after it
    reply[10] = 0xE1;
    ASSERT_TRUE(m_Line.Arrive(reply));
    ASSERT_TRUE(PumpUntilBoxes(1));
    ExpectReportBox(
        0,
        "\n\nVersion :\nV2.05\xD0\x90\xD0\xB1\n\nCommand Set :\n 1\n\nDefault Font :\n A"
        "\n\nLanguage :\nC3\n\nBPS :\n1F");
}

}  // namespace
}  // namespace vyx::test
