#include "serial/ReceiveQueue.h"

namespace vyx {

namespace {
std::int32_t Count(std::int32_t write, std::int32_t read) {
    return (write - read + ReceiveQueue::kSlots) % ReceiveQueue::kSlots;
}
}  // namespace

void ReceiveQueue::Clear() {
    std::lock_guard lock(m_Lock);
    m_Buffer.fill(0);
    m_WriteIndex.store(0, std::memory_order_release);
    m_ReadIndex.store(0, std::memory_order_release);
}

std::int32_t ReceiveQueue::GetCount() const {
    return Count(m_WriteIndex.load(std::memory_order_acquire),
                 m_ReadIndex.load(std::memory_order_acquire));
}

int ReceiveQueue::PutByte(std::uint8_t byte) {
    std::lock_guard lock(m_Lock);
    const std::int32_t write = m_WriteIndex.load(std::memory_order_relaxed);
    if (Count(write, m_ReadIndex.load(std::memory_order_relaxed)) == kCapacity) {
        return 0;
    }
    m_Buffer[static_cast<std::size_t>(write)] = byte;
    m_WriteIndex.store((write + 1) % kSlots, std::memory_order_release);
    return 1;
}

int ReceiveQueue::GetByte(std::uint8_t& byte) {
    std::lock_guard lock(m_Lock);
    const std::int32_t read = m_ReadIndex.load(std::memory_order_relaxed);
    if (Count(m_WriteIndex.load(std::memory_order_relaxed), read) == 0) {
        return 0;
    }
    byte = m_Buffer[static_cast<std::size_t>(read)];
    m_ReadIndex.store((read + 1) % kSlots, std::memory_order_release);
    return 1;
}

std::uint8_t ReceiveQueue::SlotValue(std::int32_t slot) const {
    std::lock_guard lock(m_Lock);
    return m_Buffer[static_cast<std::size_t>(slot % kSlots)];
}

}  // namespace vyx
