#include "serial/ComName.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "serial/SerialPort.h"
#include "tests/support/PtyPair.h"

namespace vyx {
namespace {

namespace fs = std::filesystem;

TEST(ComNameTest, ComNumberParsesOnlyTheDialogsNames) {
    const struct {
        const char* name;
        int number;
    } cases[] = {
        {"COM1", 1},  {"COM4", 4},   {"COM10", 10}, {"COM20", 20}, {"COM255", 255},
        {"COM0", 0},  {"COM256", 0}, {"COM", 0},    {"COM04", 0},  {"com4", 0},
        {"COM 4", 0}, {"COM4 ", 0},  {"COM-1", 0},  {"COMX", 0},   {"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComNumber(c.name), c.number) << '"' << c.name << '"';
    }
}

// Each test gets empty folders for $VYX_PORTS_DIR and $XDG_CONFIG_HOME.
class ResolveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/vyx-comname-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        m_Root = templ;
        m_Ports = m_Root / "ports";
        m_Config = m_Root / "config";
        fs::create_directories(m_Ports);
        fs::create_directories(m_Config / "vyx-utility" / "ports");
        setenv("VYX_PORTS_DIR", m_Ports.c_str(), 1);
        setenv("XDG_CONFIG_HOME", m_Config.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VYX_PORTS_DIR");
        unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(m_Root);
    }
    fs::path UserPorts() const { return m_Config / "vyx-utility" / "ports"; }

    fs::path m_Root, m_Ports, m_Config;
};

TEST_F(ResolveTest, LooksInThePortsFolderThenTheUsersFolderThenTtyS) {
    // Nothing linked: COMn is the n-th standard serial port.
    EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortName("COM20"), "/dev/ttyS19");

    fs::create_symlink("/dev/ttyUSB0", UserPorts() / "COM3");
    EXPECT_EQ(ResolvePortName("COM3"), (UserPorts() / "COM3").string());

    // $VYX_PORTS_DIR comes first when it has the entry.
    fs::create_symlink("/dev/ttyACM0", m_Ports / "COM3");
    EXPECT_EQ(ResolvePortName("COM3"), (m_Ports / "COM3").string());

    // Without the variable only the user's folder counts.
    unsetenv("VYX_PORTS_DIR");
    EXPECT_EQ(ResolvePortName("COM3"), (UserPorts() / "COM3").string());
    EXPECT_EQ(PortsDirectory(), UserPorts().string());
}

TEST_F(ResolveTest, PathsPassUnchangedAndOtherNamesHaveNoDevice) {
    EXPECT_EQ(ResolvePortName("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(ResolvePortName("./COM4"), "./COM4");
    EXPECT_EQ(ResolvePortName("COM0"), std::nullopt);
    EXPECT_EQ(ResolvePortName("ttyUSB0"), std::nullopt);
    EXPECT_EQ(PortsDirectory(), m_Ports.string());
}

// The dialog's "COM7" reaches a pseudo-terminal through a link in the ports folder.
TEST_F(ResolveTest, OpenPortFollowsTheComLink) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    fs::create_symlink(pty.SlavePath(), m_Ports / "COM7");
    SerialPort port;
    ASSERT_EQ(port.OpenPort("COM7", 9600, 7), 1);
    EXPECT_EQ(port.m_PortName, "COM7");
    const std::uint8_t byte = 0x31;
    EXPECT_EQ(port.WriteComm(&byte, 1), 1u);
    EXPECT_EQ(pty.Read(1, std::chrono::seconds(2)), std::vector<std::uint8_t>{0x31});
}

}  // namespace
}  // namespace vyx
