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

// The dialog on a fake window, initialised; a pseudo-terminal is mapped as COM1 through
// VYX_PORTS_DIR, and the test plays the display on its master.
class DialogFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_Pty.ok());
        ASSERT_FALSE(m_Ports.Path().empty());
        std::filesystem::create_symlink(m_Pty.SlavePath(), m_Ports.Path() / "COM1");
        ::setenv("VYX_PORTS_DIR", m_Ports.Path().c_str(), 1);
        // Text goes out in the system's code page: the same on every machine here.
        ::setenv("VYX_CODEPAGE", "1252", 1);
        m_Dlg = std::make_unique<app::CVYX_UtilityDlg>(m_Fake);
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

    // "Port Open" on COM 1 at the rate of `rateIndex` in " Current Baudrate ".
    void OpenCom1(int rateIndex = 4) {
        m_Fake.Select(res::IDC_COM_PORT, 0);
        m_Fake.Select(res::IDC_CURRENT_BAUD, rateIndex);
        const std::size_t boxes = m_Fake.Boxes().size();
        m_Fake.Click(res::IDC_PORT_OPEN);
        ASSERT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 1);
        ASSERT_EQ(m_Fake.Boxes().size(), boxes);
    }
    // Exactly `count` bytes from the line (fewer if they do not come in time).
    Bytes Line(std::size_t count) { return m_Pty.Read(count, 3s); }
    Bytes QueuedNothingMore() { return m_Pty.ReadUntilQuiet(100ms, 1s); }
    std::int32_t Queued() const { return m_Dlg->m_Comm.m_QueueRead.GetCount(); }

    PtyPair m_Pty;
    TempDir m_Ports;
    FakeWindow m_Fake;
    std::unique_ptr<app::CVYX_UtilityDlg> m_Dlg;
};

}  // namespace vyx::test
