#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vyx::test {

// A pseudo-terminal pair: the program under test opens the slave by its path, the
// test plays the far end on the master. The helper keeps one slave descriptor of its
// own open so that the master does not see a hang-up between openings; CloseMaster()
// simulates the far end vanishing.
class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_Master >= 0; }
    const std::string& SlavePath() const { return m_SlavePath; }
    int MasterFd() const { return m_Master; }
    // The pair's own slave descriptor (-1 after CloseSlaveHold): the tty's line state
    // can be read and set through it, and bytes written to it reach the master.
    int SlaveHoldFd() const { return m_SlaveHold; }

    // Writes all bytes to the master (the host receives them); false on failure.
    bool Write(const std::vector<std::uint8_t>& bytes);
    bool Write(const std::string& bytes);
    // Reads from the master until `count` bytes arrived or the deadline passed.
    std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout);
    // Reads whatever arrives until nothing has come for `quiet`.
    std::vector<std::uint8_t> ReadUntilQuiet(std::chrono::milliseconds quiet,
                                             std::chrono::milliseconds timeout);
    void CloseMaster();
    void CloseSlaveHold();

  private:
    int m_Master = -1;
    int m_SlaveHold = -1;
    std::string m_SlavePath;
};

// Number of open descriptors and threads of this process (from /proc/self).
int OpenDescriptorCount();
int ThreadCount();

}  // namespace vyx::test
