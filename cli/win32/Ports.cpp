// The COM ports present, as Windows lists them, and `map`/`unmap`, which Windows has no
// use for: its COM names are the system's own.
#include <windows.h>
// After windows.h, which they need.
#include <setupapi.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/ComPortListing.h"
#include "cli/ExitStatus.h"
#include "cli/Output.h"
#include "cli/Ports.h"

namespace vyx::cli {

namespace {

// The setup class of COM and LPT ports, {4D36E978-E325-11CE-BFC1-08002BE10318}.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string Utf8(const wchar_t* text, std::size_t length) {
    const int wide = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

// A string value's text without the terminating nulls the registry may keep.
std::string RegistryText(const std::vector<wchar_t>& data, DWORD bytes) {
    std::size_t length = bytes / sizeof(wchar_t);
    while (length > 0 && data[length - 1] == L'\0') {
        --length;
    }
    return Utf8(data.data(), length);
}

// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: one value per port a serial driver has started,
// named after its kernel device, its data the COM name. Every Windows port is there.
// Wine's mount manager fills it when the prefix's services start, from the ttys it finds
// (/dev/ttyS*, ttyUSB*, ttyACM*) and the ports named in HKLM\Software\Wine\Ports
// (\Device\Serial3 -> COM4): a dosdevices link made later opens, but is not listed.
void AddSerialCommPorts(std::vector<ComPortRecord>& records) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        std::vector<wchar_t> name(256);
        std::vector<wchar_t> data(256);
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        const LONG status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data.data()), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        records.push_back({RegistryText(data, dataBytes), Utf8(name.data(), nameLength), {}});
    }
    RegCloseKey(key);
}

// SetupAPI's ports class: the friendly names Device Manager shows ("USB Serial Port
// (COM4)"), the COM name in each device's PortName value. Wine's SetupAPI has no device
// of this class for its dosdevices ports: under Wine the listing has no friendly names.
void AddSetupApiPorts(std::vector<ComPortRecord>& records) {
    HDEVINFO devices = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        std::vector<wchar_t> data(256);
        ComPortRecord record;
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
            DWORD type = 0;
            if (RegQueryValueExW(key, L"PortName", nullptr, &type,
                                 reinterpret_cast<BYTE*>(data.data()), &bytes) == ERROR_SUCCESS &&
                type == REG_SZ) {
                record.name = RegistryText(data, bytes);
            }
            RegCloseKey(key);
        }
        DWORD bytes = 0;
        if (SetupDiGetDeviceRegistryPropertyW(
                devices, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(data.data()),
                static_cast<DWORD>(data.size() * sizeof(wchar_t)), &bytes)) {
            record.friendlyName = RegistryText(data, bytes);
        }
        // LPT ports share the class; only COM names (and drivers' own) are kept.
        if (!record.name.empty() && record.name.rfind("LPT", 0) != 0) {
            records.push_back(std::move(record));
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
}

int LinuxOnly(const char* command) {
    Fail(std::string(command) + " is for Linux only: Windows names its COM ports itself",
         "hint: `vyxctl ports` lists them; use --port COMn");
    return kExitUsage;
}

}  // namespace

int ListPorts(std::ostream& out, bool json) {
    std::vector<ComPortRecord> records;
    AddSerialCommPorts(records);
    AddSetupApiPorts(records);
    const std::vector<ComPortRecord> ports = MergedComPorts(records);
    const std::string origin = "the registry's SERIALCOMM and SetupAPI";
    out << (json ? FormatComPortsJson(origin, ports) : FormatComPorts(origin, ports));
    return kExitOk;
}

std::string PortNamingHelp() {
    return "COMn is the Windows port of that name (COM10 and above too); `vyxctl ports`\n"
           "lists those present.\n";
}

int MapPort(const std::string& /*comName*/, const std::string& /*device*/) {
    return LinuxOnly("map");
}

int UnmapPort(const std::string& /*comName*/) {
    return LinuxOnly("unmap");
}

}  // namespace vyx::cli
