#include "cli/SerialDevices.h"

#include <libudev.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace vyx::cli {

namespace fs = std::filesystem;

namespace {

const fs::path kById = "/dev/serial/by-id";

std::string Text(const char* value) {
    return value != nullptr ? std::string(value) : std::string();
}

// A sysfs attribute's first line; empty when it is missing or unreadable.
std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

dev_t DeviceNumber(const fs::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode) ? info.st_rdev : 0;
}

// Which program holds a port: its open file descriptors in /proc, not a trial of the
// port's own lock. Opening a tty to try the lock raises DTR and RTS, which resets many
// USB boards; reading /proc changes nothing and also names the holder. Its limit: only
// the processes this user may inspect are seen (all of them for root).
void MarkHolders(std::vector<SerialDeviceRecord>& records) {
    std::map<dev_t, SerialDeviceRecord*> byNumber;
    for (SerialDeviceRecord& record : records) {
        const dev_t number = DeviceNumber(record.device);
        if (number != 0) {
            byNumber[number] = &record;
        }
    }
    if (byNumber.empty()) {
        return;
    }
    const std::string self = std::to_string(getpid());
    std::error_code error;
    for (fs::directory_iterator proc("/proc", error), end; !error && proc != end;
         proc.increment(error)) {
        const std::string pid = proc->path().filename().string();
        if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code fdError;
        for (fs::directory_iterator fd(proc->path() / "fd", fdError), fdEnd;
             !fdError && fd != fdEnd; fd.increment(fdError)) {
            const auto found = byNumber.find(DeviceNumber(fd->path()));
            if (found != byNumber.end() && found->second->heldBy.empty()) {
                found->second->heldBy = ReadLine(proc->path() / "comm") + " (pid " + pid + ")";
            }
        }
    }
}

// Since Linux 6.5 a UART's tty hangs from the serial core's own "port" and "ctrl"
// devices; the driver that matters (serial8250, serial, ftdi_sio) is above them.
bool IsSerialCoreDriver(const std::string& driver) {
    return driver.empty() || driver == "port" || driver == "ctrl";
}

std::string SysfsDriver(const fs::path& ttyDevice) {
    std::error_code error;
    for (fs::path dir = fs::canonical(ttyDevice, error); !error && dir.has_relative_path();
         dir = dir.parent_path()) {
        std::error_code linkError;
        std::string driver = fs::read_symlink(dir / "driver", linkError).filename().string();
        if (!IsSerialCoreDriver(driver)) {
            return driver;
        }
    }
    return {};
}

// The USB strings and ids of the USB device a tty hangs from, read from sysfs.
void AddUsbAttributes(const fs::path& ttyDevice, SerialDeviceRecord& record) {
    std::error_code error;
    for (fs::path dir = fs::canonical(ttyDevice, error); !error && dir.has_relative_path();
         dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", error)) {
            record.vendorId = ReadLine(dir / "idVendor");
            record.productId = ReadLine(dir / "idProduct");
            record.manufacturer = ReadLine(dir / "manufacturer");
            record.product = ReadLine(dir / "product");
            record.serialNumber = ReadLine(dir / "serial");
            return;
        }
    }
}

class UdevSource final : public SerialDeviceSource {
  public:
    std::string Origin() const override { return "udev"; }

    std::vector<SerialDeviceRecord> Devices() override {
        std::vector<SerialDeviceRecord> records;
        udev* context = udev_new();
        if (context == nullptr) {
            return records;
        }
        udev_enumerate* enumerate = udev_enumerate_new(context);
        udev_enumerate_add_match_subsystem(enumerate, "tty");
        udev_enumerate_scan_devices(enumerate);
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
            udev_device* device =
                udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            if (device != nullptr) {
                AddRecord(device, records);
                udev_device_unref(device);
            }
        }
        udev_enumerate_unref(enumerate);
        udev_unref(context);
        MarkHolders(records);
        return records;
    }

  private:
    static void AddRecord(udev_device* device, std::vector<SerialDeviceRecord>& records) {
        // Virtual consoles and pseudo-terminals have no device behind them.
        udev_device* parent = udev_device_get_parent(device);
        const char* node = udev_device_get_devnode(device);
        if (parent == nullptr || node == nullptr) {
            return;
        }
        SerialDeviceRecord record;
        record.device = node;
        udev_list_entry* link = nullptr;
        udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(device)) {
            const std::string name = udev_list_entry_get_name(link);
            if (name.rfind(kById.string() + "/", 0) == 0) {
                record.byId = name;
            }
        }
        record.driver = Text(udev_device_get_property_value(device, "ID_USB_DRIVER"));
        for (udev_device* up = parent; up != nullptr && IsSerialCoreDriver(record.driver);
             up = udev_device_get_parent(up)) {
            record.driver = Text(udev_device_get_driver(up));
        }
        record.uartType = Text(udev_device_get_sysattr_value(device, "type"));
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
        if (usb != nullptr) {
            record.vendorId = Text(udev_device_get_sysattr_value(usb, "idVendor"));
            record.productId = Text(udev_device_get_sysattr_value(usb, "idProduct"));
            record.manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
            record.product = Text(udev_device_get_sysattr_value(usb, "product"));
            record.serialNumber = Text(udev_device_get_sysattr_value(usb, "serial"));
        }
        records.push_back(std::move(record));
    }
};

// Without udev (a container, a minimal system) the kernel's own view in /sys/class/tty
// still tells the real ports; only the by-id names, which udev makes, are missing unless
// something else made them.
class SysfsSource final : public SerialDeviceSource {
  public:
    std::string Origin() const override { return "sysfs; udev is not running here"; }

    std::vector<SerialDeviceRecord> Devices() override {
        std::vector<SerialDeviceRecord> records;
        std::error_code error;
        for (fs::directory_iterator it("/sys/class/tty", error), end; !error && it != end;
             it.increment(error)) {
            const fs::path tty = it->path();
            std::error_code linkError;
            if (!fs::exists(tty / "device", linkError)) {
                continue;  // virtual: no device behind it
            }
            SerialDeviceRecord record;
            record.device = "/dev/" + tty.filename().string();
            record.driver = SysfsDriver(tty / "device");
            record.uartType = ReadLine(tty / "type");
            AddUsbAttributes(tty / "device", record);
            records.push_back(std::move(record));
        }
        AddByIdNames(records);
        MarkHolders(records);
        return records;
    }

  private:
    static void AddByIdNames(std::vector<SerialDeviceRecord>& records) {
        std::error_code error;
        for (fs::directory_iterator it(kById, error), end; !error && it != end;
             it.increment(error)) {
            std::error_code linkError;
            const fs::path target = fs::canonical(it->path(), linkError);
            for (SerialDeviceRecord& record : records) {
                if (!linkError && target == record.device) {
                    record.byId = it->path().string();
                }
            }
        }
    }
};

// udevd announces itself by its control socket; without it the database is empty.
bool UdevIsRunning() {
    return access("/run/udev/control", F_OK) == 0;
}

}  // namespace

std::unique_ptr<SerialDeviceSource> SystemSerialDevices() {
    if (UdevIsRunning()) {
        return std::make_unique<UdevSource>();
    }
    return std::make_unique<SysfsSource>();
}

}  // namespace vyx::cli
