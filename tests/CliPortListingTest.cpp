// `vyxctl ports`: the listing's logic fed records from a fake source, and a smoke test of
// the machine's own source.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/PortListing.h"
#include "cli/SerialDevices.h"

namespace vyx::cli {
namespace {

// Hands out the records it was given, as udev or sysfs would.
class FakeSource final : public SerialDeviceSource {
  public:
    explicit FakeSource(std::vector<SerialDeviceRecord> records) : m_Records(std::move(records)) {}
    std::string Origin() const override { return "fake"; }
    std::vector<SerialDeviceRecord> Devices() override { return m_Records; }

  private:
    std::vector<SerialDeviceRecord> m_Records;
};

SerialDeviceRecord Uart(const std::string& name, const std::string& type) {
    SerialDeviceRecord record;
    record.device = "/dev/" + name;
    record.driver = "serial8250";
    record.uartType = type;
    return record;
}

SerialDeviceRecord Ftdi() {
    SerialDeviceRecord record;
    record.device = "/dev/ttyUSB0";
    record.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZP5K-if00-port0";
    record.driver = "ftdi_sio";
    record.vendorId = "0403";
    record.productId = "6001";
    record.manufacturer = "FTDI";
    record.product = "FT232R USB UART";
    record.serialNumber = "A10KZP5K";
    return record;
}

ComMapping Com(const std::string& name, const std::string& resolved, const std::string& device) {
    return {name, resolved, {}, device};
}

std::vector<std::string> Devices(const std::vector<ListedPort>& ports) {
    std::vector<std::string> devices;
    devices.reserve(ports.size());
    for (const ListedPort& port : ports) {
        devices.push_back(port.record.device);
    }
    return devices;
}

TEST(CliPortListing, KeepsRealPortsSortedAndJoinsTheirComNames) {
    SerialDeviceRecord acm;
    acm.device = "/dev/ttyACM0";
    acm.driver = "cdc_acm";
    const struct {
        const char* what;
        std::vector<SerialDeviceRecord> records;
        std::vector<ComMapping> mappings;
        std::vector<std::string> devices;                // listed, in order
        std::vector<std::vector<std::string>> comNames;  // per listed device
    } cases[] = {
        {"no devices", {}, {Com("COM1", "/dev/ttyS0", "/dev/ttyS0")}, {}, {}},
        {"nodes without a UART are left out",
         {Uart("ttyS0", "4"), Uart("ttyS1", "0"), Uart("ttyS2", "unknown"), Uart("ttyS3", "")},
         {},
         {"/dev/ttyS0", "/dev/ttyS3"},
         {{}, {}}},
        {"natural order",
         {Uart("ttyS10", "4"), Ftdi(), Uart("ttyS2", "4"), acm, Uart("ttyS9", "4")},
         {},
         {"/dev/ttyACM0", "/dev/ttyS2", "/dev/ttyS9", "/dev/ttyS10", "/dev/ttyUSB0"},
         {{}, {}, {}, {}, {}}},
        {"COM names by device, by by-id path and by default name",
         {Uart("ttyS0", "4"), Ftdi()},
         {Com("COM1", "/dev/ttyS0", "/dev/ttyS0"),
          Com("COM3", "/home/u/.config/vyx-utility/ports/COM3", "/dev/ttyUSB0"),
          Com("COM4", Ftdi().byId, ""),  // by-id link recorded but not followed
          Com("COM5", "/dev/ttyS4", "")},
         {"/dev/ttyS0", "/dev/ttyUSB0"},
         {{"COM1"}, {"COM3", "COM4"}}},
        {"a COM name leading nowhere joins nothing",
         {Uart("ttyS0", "4")},
         {Com("COM2", "/dev/ttyS1", "")},
         {"/dev/ttyS0"},
         {{}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSource source(c.records);
        const std::vector<ListedPort> ports = ListedPorts(source.Devices(), c.mappings);
        EXPECT_EQ(Devices(ports), c.devices);
        ASSERT_EQ(ports.size(), c.comNames.size());
        for (std::size_t i = 0; i < ports.size(); ++i) {
            EXPECT_EQ(ports[i].comNames, c.comNames[i]) << ports[i].record.device;
        }
    }
}

TEST(CliPortListing, TextShowsWhatIsKnownAndMarksHeldPorts) {
    SerialDeviceRecord held = Ftdi();
    held.heldBy = "minicom (pid 4242)";
    const std::vector<ComMapping> mappings = {Com("COM1", "/dev/ttyS0", "/dev/ttyS0"),
                                              {"COM3", "/p/COM3", "/dev/ttyUSB0", "/dev/ttyUSB0"},
                                              Com("COM4", "/dev/ttyS3", "")};
    const auto ports = ListedPorts({Uart("ttyS0", "4"), held}, mappings);
    const std::string text = FormatPorts("fake", ports, mappings, "/p");
    const std::string expected[] = {
        "Serial devices (from fake):\n",
        "  /dev/ttyS0\n    driver        serial8250\n    COM names     COM1\n",
        "  /dev/ttyUSB0  [in use by minicom (pid 4242)]\n",
        "    by-id         /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZP5K-if00-port0\n",
        "    usb id        0403:6001\n",
        "    manufacturer  FTDI\n    product       FT232R USB UART\n",
        "    serial number A10KZP5K\n    COM names     COM3\n",
        "COM names (ports folder /p):\n",
        "COM3  /p/COM3 -> /dev/ttyUSB0",
        "COM4  /dev/ttyS3" + std::string(31, ' ') + "missing\n",
    };
    for (const std::string& part : expected) {
        EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\nin:\n" << text;
    }
    // A built-in UART has no USB details: no empty lines for them.
    EXPECT_EQ(text.find("usb id        \n"), std::string::npos);
    EXPECT_NE(FormatPorts("fake", {}, {}, "/p").find("  (none)\n"), std::string::npos);
}

TEST(CliPortListing, JsonHasTheSameFacts) {
    SerialDeviceRecord held = Ftdi();
    held.heldBy = "picocom (pid 7)";
    held.product = std::string("FT232R\xff");  // not UTF-8: replaced, not thrown
    const std::vector<ComMapping> mappings = {Com("COM3", "/p/COM3", "/dev/ttyUSB0")};
    const auto ports = ListedPorts({Uart("ttyS0", "4"), held, Uart("ttyS1", "0")}, mappings);
    const auto json = nlohmann::json::parse(FormatPortsJson("udev", ports, mappings, "/p"));
    EXPECT_EQ(json["source"], "udev");
    EXPECT_EQ(json["ports_folder"], "/p");
    ASSERT_EQ(json["devices"].size(), 2U);
    const auto& uart = json["devices"][0];
    EXPECT_EQ(uart["device"], "/dev/ttyS0");
    EXPECT_TRUE(uart["by_id"].is_null());
    EXPECT_TRUE(uart["usb_vendor_id"].is_null());
    EXPECT_EQ(uart["in_use"], false);
    const auto& usb = json["devices"][1];
    EXPECT_EQ(usb["by_id"], Ftdi().byId);
    EXPECT_EQ(usb["usb_vendor_id"], "0403");
    EXPECT_EQ(usb["usb_product_id"], "6001");
    EXPECT_EQ(usb["serial_number"], "A10KZP5K");
    EXPECT_EQ(usb["in_use"], true);
    EXPECT_EQ(usb["held_by"], "picocom (pid 7)");
    EXPECT_EQ(usb["product"], "FT232R\xEF\xBF\xBD");
    EXPECT_EQ(usb["com_names"], nlohmann::json::array({"COM3"}));
    ASSERT_EQ(json["com_names"].size(), 1U);
    EXPECT_EQ(json["com_names"][0]["present"], true);
    EXPECT_EQ(json["com_names"][0]["device"], "/dev/ttyUSB0");
}

TEST(CliPortListing, StableNameIsOfferedOnlyWhenItDiffers) {
    const std::vector<SerialDeviceRecord> records = {Uart("ttyS0", "4"), Ftdi()};
    EXPECT_EQ(StableNameOf(records, "/dev/ttyUSB0"), Ftdi().byId);
    EXPECT_EQ(StableNameOf(records, "/dev/ttyS0"), std::nullopt);
    EXPECT_EQ(StableNameOf(records, Ftdi().byId), std::nullopt);
    EXPECT_EQ(StableNameOf(records, "/dev/ttyUSB1"), std::nullopt);
}

// The machine's own source, whatever hardware it has (often none): every record it
// gives is a device node with a name, and the listing never shows a port without a UART.
TEST(CliPortListing, SmokeTheSystemSource) {
    const auto source = SystemSerialDevices();
    ASSERT_NE(source, nullptr);
    EXPECT_FALSE(source->Origin().empty());
    const std::vector<SerialDeviceRecord> records = source->Devices();
    for (const SerialDeviceRecord& record : records) {
        EXPECT_EQ(record.device.rfind("/dev/", 0), 0U) << record.device;
        EXPECT_GT(record.device.size(), 5U);
        EXPECT_EQ(record.device.find("/dev/pts/"), std::string::npos) << record.device;
    }
    const auto ports = ListedPorts(records, {});
    for (const ListedPort& port : ports) {
        EXPECT_NE(port.record.uartType, "0") << port.record.device;
    }
    // Formatting a real listing gives valid JSON whatever the devices report.
    EXPECT_TRUE(nlohmann::json::accept(FormatPortsJson(source->Origin(), ports, {}, "/p")));
}

}  // namespace
}  // namespace vyx::cli
