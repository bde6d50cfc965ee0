#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/VYX_UtilityDlg.h"
#include "resources/ControlIds.h"
#include "serial/SerialPort.h"
#include "tests/support/FakeDevice.h"
#include "tests/support/FakeWindow.h"
#include "tests/support/PtyPair.h"

namespace vyx::test {

namespace res = vyx::resources;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vyx-dialog-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_Path = pattern;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_Path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_Path; }

  private:
    std::filesystem::path m_Path;
};

// The dialog on a fake window, initialised, with a device behind COM1 (a link in a
// temporary folder named by VYX_PORTS_DIR) on which the test plays the display.
// DialogFixture uses a FakeLine; DialogPtyFixture a pseudo-terminal, for the tests that
// need the real serial layer or a real device another process can open.
class DialogFixtureBase : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_Ports.Path().empty());
        std::filesystem::create_symlink(LinkTarget(), m_Ports.Path() / "COM1");
        ::setenv("VYX_PORTS_DIR", m_Ports.Path().c_str(), 1);
        // Text goes out in the system's code page: the same on every machine here.
        ::setenv("VYX_CODEPAGE", "1252", 1);
        m_Dlg = std::make_unique<app::CVYX_UtilityDlg>(m_Fake);
        UseDevice(m_Dlg->m_Comm);
        m_Fake.Attach(m_Dlg.get());
        ASSERT_EQ(m_Dlg->OnInitDialog(), 1);
    }
    void TearDown() override {
        m_Fake.OnMessageBox(nullptr);
        m_Dlg.reset();
        m_Fake.Attach(nullptr);
        ::unsetenv("VYX_PORTS_DIR");
        ::unsetenv("VYX_CODEPAGE");
    }

    // What COM1's link points at.
    virtual std::string LinkTarget() = 0;
    // Sets the dialog's port up for the device, before anything is opened.
    virtual void UseDevice(SerialPort& port) = 0;
    // Exactly `count` bytes from the line (fewer if they do not come in time).
    virtual Bytes Line(std::size_t count) = 0;
    // Whatever else the dialog has written.
    virtual Bytes QueuedNothingMore() = 0;

    // "Port Open" on COM 1 at the rate of `rateIndex` in " Current Baudrate ".
    void OpenCom1(int rateIndex = 4) {
        m_Fake.Select(res::IDC_COM_PORT, 0);
        m_Fake.Select(res::IDC_CURRENT_BAUD, rateIndex);
        const std::size_t boxes = m_Fake.Boxes().size();
        m_Fake.Click(res::IDC_PORT_OPEN);
        ASSERT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 1);
        ASSERT_EQ(m_Fake.Boxes().size(), boxes);
    }
    std::int32_t Queued() const { return m_Dlg->m_Comm.m_QueueRead.GetCount(); }

    TempDir m_Ports;
    FakeWindow m_Fake;
    std::unique_ptr<app::CVYX_UtilityDlg> m_Dlg;
};

// COM1 is a FakeLine: the bytes the dialog writes are recorded, replies arrive when the
// test says, and every call on the device is checked against its contract.
class DialogFixture : public DialogFixtureBase {
  protected:
    void SetUp() override {
        m_Line.SetPath((m_Ports.Path() / "COM1").string());
        DialogFixtureBase::SetUp();
    }
    // COM1 resolves to its link; the line is known by that path, the target is never opened.
    std::string LinkTarget() override { return "fake-serial-line"; }
    void UseDevice(SerialPort& port) override { port.SetDeviceOpener(m_Line.Opener()); }
    // Writes are done when WriteComm returns; the timeout only guards a test that is wrong.
    Bytes Line(std::size_t count) override { return m_Line.TakeWritten(count, 3s); }
    Bytes QueuedNothingMore() override { return m_Line.TakeWritten(); }

    // Its devices share the line's state, so they may outlive it while the port closes.
    FakeLine m_Line;
};

// COM1 is a pseudo-terminal; the test plays the display on its master.
class DialogPtyFixture : public DialogFixtureBase {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_Pty.ok());
        DialogFixtureBase::SetUp();
    }
    std::string LinkTarget() override { return m_Pty.SlavePath(); }
    void UseDevice(SerialPort& /*port*/) override {}  // the platform's device
    Bytes Line(std::size_t count) override { return m_Pty.Read(count, 3s); }
    Bytes QueuedNothingMore() override { return m_Pty.ReadUntilQuiet(100ms, 1s); }

    PtyPair m_Pty;
};

}  // namespace vyx::test
