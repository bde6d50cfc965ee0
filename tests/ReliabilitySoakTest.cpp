// Long runs through the dialog on a pseudo-terminal: a thousand "Port Open"/"Close"
// cycles and a thousand information queries. Descriptors, threads and resident memory
// must stay where they were after a short warm-up.

#include "tests/ReliabilitySupport.h"

namespace vyx::test {
namespace {

constexpr int kRounds = 1000;
constexpr int kWarmUp = 50;
// Allocator and page-cache noise stays well below this; a leak of a kilobyte a round
// does not.
constexpr long kResidentSlackKiB = 768;

struct Baseline {
    int descriptors = 0;
    int threads = 0;
    long residentKiB = 0;
    static Baseline Now() { return {OpenDescriptorCount(), ThreadCount(), ResidentKiB()}; }
};

void ExpectFlat(const Baseline& before) {
    EXPECT_EQ(OpenDescriptorCount(), before.descriptors);
    // A joined thread may stay listed in /proc for a moment after its join.
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == before.threads; }));
    if (kResidentSizeMeaningful) {
        EXPECT_LT(ResidentKiB() - before.residentKiB, kResidentSlackKiB)
            << "from " << before.residentKiB << " KiB";
    }
}

using ReliabilitySoakTest = ReliabilityFixture;

TEST_F(ReliabilitySoakTest, ThousandOpenCloseCyclesThroughTheDialogStayFlat) {
    Baseline before;
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        if (i == kWarmUp) {
            before = Baseline::Now();
        }
        OpenCom1(i % 5);
        m_Fake.Click(res::IDC_CLOSE);
        ASSERT_EQ(m_Dlg->m_Comm.RunningWatchers(), 0) << "cycle " << i;
        m_Fake.PumpPending();
        m_Fake.ClearLog();  // the fake's own record must not count as the dialog's memory
    }
    ExpectFlat(before);
}

TEST_F(ReliabilitySoakTest, ThousandQueriesStayFlat) {
    OpenCom1(4);
    Baseline before;
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        if (i == kWarmUp) {
            before = Baseline::Now();
        }
        ASSERT_TRUE(QueryAnswered(Reply(), 0)) << "query " << i;
        ASSERT_EQ(m_Fake.Boxes().back().text, kReport) << "query " << i;
        m_Fake.ClearLog();
    }
    ExpectFlat(before);
    m_Fake.Click(res::IDC_CLOSE);
}

}  // namespace
}  // namespace vyx::test
