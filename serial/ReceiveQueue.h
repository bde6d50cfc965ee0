#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace vyx {

// Fixed circular byte queue between the serial watcher (producer) and the window
// thread (consumer). 8192 slots; one always stays free, so it holds at most 8191 bytes.
//
// PutByte and GetByte are each called from one thread only. Clear is called from
// both (after an information query on the window thread, on overflow on the watcher),
// so a small lock serialises the four operations that touch the storage; GetCount
// reads the two indices without it and may see a slightly stale, always safe, value.
class ReceiveQueue {
  public:
    static constexpr std::int32_t kSlots = 8192;
    static constexpr std::int32_t kCapacity = kSlots - 1;

    ReceiveQueue() { Clear(); }
    ReceiveQueue(const ReceiveQueue&) = delete;
    ReceiveQueue& operator=(const ReceiveQueue&) = delete;

    // Empties the queue: both indices 0, all storage zero.
    void Clear();
    // Number of queued bytes, 0 to 8191.
    std::int32_t GetCount() const;
    // 1 when appended; 0 when full (the byte is dropped, the queue unchanged).
    int PutByte(std::uint8_t byte);
    // 1 with the oldest byte stored in `byte`; 0 when empty (`byte` untouched).
    int GetByte(std::uint8_t& byte);

    // Indices, exposed for tests that check the ring's invariants.
    std::int32_t WriteIndex() const { return m_WriteIndex.load(std::memory_order_acquire); }
    std::int32_t ReadIndex() const { return m_ReadIndex.load(std::memory_order_acquire); }
    std::uint8_t SlotValue(std::int32_t slot) const;

  private:
    mutable std::mutex m_Lock;  // protects m_Buffer and the index updates
    std::array<std::uint8_t, kSlots> m_Buffer{};
    std::atomic<std::int32_t> m_WriteIndex{0};
    std::atomic<std::int32_t> m_ReadIndex{0};
};

}  // namespace vyx
