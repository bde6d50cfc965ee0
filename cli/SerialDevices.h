#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vyx::cli {

// One tty the system knows a device behind, as a source reports it. Empty fields are
// unknown to the source (a built-in UART has no USB ids or serial number).
struct SerialDeviceRecord {
    std::string device;        // "/dev/ttyUSB0"
    std::string byId;          // "/dev/serial/by-id/usb-FTDI_...-if00-port0", or empty
    std::string driver;        // "ftdi_sio", "serial8250", "cdc_acm"
    std::string uartType;      // a serial8250 port's sysfs "type"; "0" when no UART answers
    std::string vendorId;      // USB, four hex digits
    std::string productId;     // USB, four hex digits
    std::string manufacturer;  // USB strings
    std::string product;
    std::string serialNumber;
    std::string heldBy;  // "minicom (pid 1234)" when another program has it open
};

// Where the serial devices come from: udev's database, or sysfs read directly.
class SerialDeviceSource {
  public:
    virtual ~SerialDeviceSource() = default;
    // "udev", or a sentence saying which fallback is used and why.
    virtual std::string Origin() const = 0;
    // Every tty with a device behind it (no virtual consoles, no pseudo-terminals), in
    // any order; the listing filters and sorts.
    virtual std::vector<SerialDeviceRecord> Devices() = 0;
};

// udev when it is running on this machine, else sysfs (cli/posix/SerialDevices.cpp).
std::unique_ptr<SerialDeviceSource> SystemSerialDevices();

}  // namespace vyx::cli
