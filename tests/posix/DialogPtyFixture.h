#pragma once

#include "tests/DialogTestFixture.h"
#include "tests/support/PtyPair.h"

namespace vyx::test {

// COM1 is a pseudo-terminal; the test plays the display on its master.
class DialogPtyFixture : public DialogFixtureBase {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_Pty.ok());
        DialogFixtureBase::SetUp();
    }
    std::string LinkTarget() override { return m_Pty.SlavePath(); }
    void UseDevice(SerialPort&) override {}  // the platform's device
    Bytes Line(std::size_t count) override { return m_Pty.Read(count, 3s); }
    Bytes QueuedNothingMore() override { return m_Pty.ReadUntilQuiet(100ms, 1s); }

    PtyPair m_Pty;
};

}  // namespace vyx::test
