#include "serial/ReceiveQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <random>
#include <thread>

namespace vyx {
namespace {

constexpr std::int32_t kSlots = ReceiveQueue::kSlots;
constexpr std::int32_t kCapacity = ReceiveQueue::kCapacity;

// Wraps the queue and checks its invariants around every operation against a plain
// model: the count follows from the indices, count + free space is the capacity, and
// bytes leave in the order they came.
class CheckedQueue {
  public:
    int Put(std::uint8_t byte) {
        Check();
        const int result = m_Queue.PutByte(byte);
        EXPECT_EQ(result, m_Model.size() < kCapacity ? 1 : 0);
        if (result == 1) {
            m_Model.push_back(byte);
        }
        Check();
        return result;
    }

    int Get(std::uint8_t& byte) {
        Check();
        const int result = m_Queue.GetByte(byte);
        EXPECT_EQ(result, m_Model.empty() ? 0 : 1);
        if (result == 1) {
            EXPECT_EQ(byte, m_Model.front());
            m_Model.pop_front();
        }
        Check();
        return result;
    }

    void Clear() {
        m_Queue.Clear();
        m_Model.clear();
        Check();
        EXPECT_EQ(m_Queue.WriteIndex(), 0);
        EXPECT_EQ(m_Queue.ReadIndex(), 0);
    }

    ReceiveQueue& Queue() { return m_Queue; }

  private:
    void Check() const {
        const std::int32_t w = m_Queue.WriteIndex();
        const std::int32_t r = m_Queue.ReadIndex();
        ASSERT_GE(w, 0);
        ASSERT_LT(w, kSlots);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, kSlots);
        const std::int32_t count = m_Queue.GetCount();
        ASSERT_EQ(count, (w - r + kSlots) % kSlots);
        ASSERT_EQ(count, static_cast<std::int32_t>(m_Model.size()));
        const std::int32_t free = kCapacity - count;
        ASSERT_EQ(count + free, kCapacity);
        ASSERT_GE(free, 0);
    }

    ReceiveQueue m_Queue;
    std::deque<std::uint8_t> m_Model;
};

TEST(ReceiveQueueTest, NewQueueIsEmptyAndGetLeavesTheByteUntouched) {
    CheckedQueue q;
    EXPECT_EQ(q.Queue().GetCount(), 0);
    std::uint8_t byte = 0x5A;
    EXPECT_EQ(q.Get(byte), 0);
    EXPECT_EQ(byte, 0x5A);
}

TEST(ReceiveQueueTest, HoldsExactly8191BytesAndRefusesThe8192nd) {
    CheckedQueue q;
    for (std::int32_t i = 0; i < kCapacity; ++i) {
        ASSERT_EQ(q.Put(static_cast<std::uint8_t>(i)), 1) << i;
    }
    EXPECT_EQ(q.Queue().GetCount(), kCapacity);
    // The refused byte is dropped: the one free slot keeps its old content.
    const std::uint8_t freeSlotBefore = q.Queue().SlotValue(q.Queue().WriteIndex());
    EXPECT_EQ(q.Put(0xEE), 0);
    EXPECT_EQ(q.Queue().GetCount(), kCapacity);
    EXPECT_EQ(q.Queue().SlotValue(q.Queue().WriteIndex()), freeSlotBefore);

    // One taken, one more fits; bytes come out in order.
    std::uint8_t byte = 0;
    ASSERT_EQ(q.Get(byte), 1);
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(q.Put(0xEE), 1);
    EXPECT_EQ(q.Put(0xEF), 0);
    for (std::int32_t i = 1; i < kCapacity; ++i) {
        ASSERT_EQ(q.Get(byte), 1);
    }
    ASSERT_EQ(q.Get(byte), 1);
    EXPECT_EQ(byte, 0xEE);
    EXPECT_EQ(q.Get(byte), 0);
}

TEST(ReceiveQueueTest, WrapsFromTheLastSlotToSlotZero) {
    CheckedQueue q;
    std::uint8_t byte = 0;
    for (std::int32_t i = 0; i < kSlots - 1; ++i) {
        ASSERT_EQ(q.Put(1), 1);
        ASSERT_EQ(q.Get(byte), 1);
    }
    ASSERT_EQ(q.Queue().WriteIndex(), kSlots - 1);
    ASSERT_EQ(q.Put(0xA1), 1);
    EXPECT_EQ(q.Queue().SlotValue(kSlots - 1), 0xA1);
    EXPECT_EQ(q.Queue().WriteIndex(), 0);
    ASSERT_EQ(q.Put(0xB2), 1);
    EXPECT_EQ(q.Queue().SlotValue(0), 0xB2);
    EXPECT_EQ(q.Queue().GetCount(), 2);
    ASSERT_EQ(q.Get(byte), 1);
    EXPECT_EQ(byte, 0xA1);
    ASSERT_EQ(q.Get(byte), 1);
    EXPECT_EQ(byte, 0xB2);
    EXPECT_EQ(q.Queue().ReadIndex(), 1);
}

TEST(ReceiveQueueTest, ClearOnAFullQueueZeroesEverything) {
    CheckedQueue q;
    std::uint8_t byte = 0;
    // Start from a wrapped position so that the clear has both indices to reset.
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(q.Put(9), 1);
        ASSERT_EQ(q.Get(byte), 1);
    }
    for (std::int32_t i = 0; i < kCapacity; ++i) {
        ASSERT_EQ(q.Put(0xFF), 1);
    }
    q.Clear();
    EXPECT_EQ(q.Queue().GetCount(), 0);
    for (std::int32_t slot = 0; slot < kSlots; ++slot) {
        ASSERT_EQ(q.Queue().SlotValue(slot), 0) << slot;
    }
    ASSERT_EQ(q.Put(0x11), 1);
    EXPECT_EQ(q.Queue().SlotValue(0), 0x11);
    EXPECT_EQ(q.Queue().WriteIndex(), 1);
}

// Random interleavings of puts, gets and clears, every step checked against the model.
TEST(ReceiveQueueTest, RandomInterleavingsKeepTheInvariants) {
    for (const std::uint32_t seed : {1u, 2u, 3u, 42u}) {
        SCOPED_TRACE(seed);
        CheckedQueue q;
        std::mt19937 random(seed);
        std::uint8_t byte = 0;
        for (int step = 0; step < 60000; ++step) {
            const auto dice = random() % 1000;
            if (dice == 0) {
                q.Clear();
            } else if (dice < 520) {  // puts slightly ahead, so the queue reaches full
                q.Put(static_cast<std::uint8_t>(random()));
            } else {
                q.Get(byte);
            }
            if (testing::Test::HasFatalFailure()) {
                return;
            }
        }
    }
}

// A producer and a consumer thread run as the watcher and the window do, and both clear
// now and then. The producer sends 1, 2, ..., 255, 1, ... (never 0), retrying a refused
// byte. Between two gets with no clear anywhere near them, bytes must follow each other;
// a 0 would be cleared storage read as data. Run under TSan to check the locking.
TEST(ReceiveQueueTest, ClearFromEitherSideIsSafeAgainstTheOtherThread) {
    ReceiveQueue queue;
    // Odd while a clear runs, bumped before and after it.
    std::atomic<std::uint64_t> clearing{0};
    auto clear = [&] {
        clearing.fetch_add(1);
        queue.Clear();
        clearing.fetch_add(1);
    };
    std::atomic<bool> producing{true};
    constexpr int kBytes = 400000;

    std::thread producer([&] {
        std::mt19937 random(7);
        std::uint8_t next = 1;
        for (int sent = 0; sent < kBytes;) {
            if (queue.PutByte(next) == 1) {
                next = static_cast<std::uint8_t>(next == 255 ? 1 : next + 1);
                ++sent;
                if (random() % 20000 == 0) {
                    clear();
                }
            }
        }
        producing = false;
    });

    std::mt19937 random(11);
    std::uint8_t previous = 0;
    std::uint64_t beforePrevious = 1;  // odd: no previous byte to compare with
    int faults = 0;
    int compared = 0;
    while (producing.load() || queue.GetCount() > 0) {
        const std::int32_t count = queue.GetCount();
        if (count < 0 || count > kCapacity) {
            ++faults;
        }
        const std::uint64_t before = clearing.load();
        std::uint8_t byte = 0;
        if (queue.GetByte(byte) != 1) {
            continue;
        }
        if (byte == 0) {
            ++faults;
        }
        if (beforePrevious % 2 == 0 && clearing.load() == beforePrevious) {
            ++compared;
            if (byte != (previous == 255 ? 1 : previous + 1)) {
                ++faults;
            }
        }
        previous = byte;
        beforePrevious = before;
        if (random() % 20000 == 0) {
            clear();
        }
    }
    producer.join();
    EXPECT_EQ(faults, 0);
    EXPECT_GT(clearing.load(), 0u);
    EXPECT_GT(compared, kBytes / 10);
    EXPECT_EQ(queue.GetCount(), 0);
    EXPECT_EQ(queue.GetCount(), (queue.WriteIndex() - queue.ReadIndex() + kSlots) % kSlots);
}

}  // namespace
}  // namespace vyx
