// Finds the COM ports of the host: the devices SetupDi lists in the ports class and under the COM port
// interface, with the names Device Manager shows ("USB Serial Port (COM3)", FTDI), then any port that only
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM names. Wine lists its ports only there.

#include <windows.h>
// clang-format off: setupapi.h needs the types of windows.h
#include <setupapi.h>
// clang-format on

#include <string>
#include <vector>

#include "native/PortRecords.h"
#include "native/SerialDevice.h"

namespace zsp {
namespace {

// The device setup class "Ports (COM & LPT)" and the COM port device interface (devguid.h, ntddser.h).
constexpr GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

std::string narrow(const wchar_t* text, std::size_t units) {
    return rszorvik::base::utf8::fromUtf16(std::u16string(text, text + units));
}

std::optional<RawValue> deviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD type = 0, size = 0;
    SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type, nullptr, 0, &size);
    if (size == 0) return std::nullopt;
    RawValue value{type, std::vector<std::uint8_t>(size)};
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type, value.bytes.data(), size,
                                           &size))
        return std::nullopt;
    value.type = type;
    value.bytes.resize(size);
    return value;
}

std::optional<RawValue> registryValue(HKEY key, const wchar_t* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    RawValue value{type, std::vector<std::uint8_t>(size)};
    if (RegQueryValueExW(key, name, nullptr, &type, value.bytes.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.bytes.resize(size);
    return value;
}

void addDevices(const GUID& guid, DWORD flags, std::vector<PortRecord>& records) {
    const HDEVINFO devices = SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags | DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        RawDevice raw;
        raw.friendlyName = deviceProperty(devices, device, SPDRP_FRIENDLYNAME);
        raw.description = deviceProperty(devices, device, SPDRP_DEVICEDESC);
        raw.manufacturer = deviceProperty(devices, device, SPDRP_MFG);
        const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            raw.portName = registryValue(key, L"PortName");
            RegCloseKey(key);
        }
        if (auto record = portRecord(raw)) records.push_back(std::move(*record));
    }
    SetupDiDestroyDeviceInfoList(devices);
}

std::vector<PortRecord> serialCommPorts() {
    std::vector<PortRecord> records;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return records;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameUnits = static_cast<DWORD>(std::size(name));
        DWORD type = 0, size = 0;
        LONG status = RegEnumValueW(key, index, name, &nameUnits, nullptr, &type, nullptr, &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) continue;
        RawValue value{type, std::vector<std::uint8_t>(size)};
        nameUnits = static_cast<DWORD>(std::size(name));
        status = RegEnumValueW(key, index, name, &nameUnits, nullptr, &type, value.bytes.data(), &size);
        if (status != ERROR_SUCCESS) continue;
        value.bytes.resize(size);
        if (auto record = serialCommRecord(narrow(name, nameUnits), value))
            records.push_back(std::move(*record));
    }
    RegCloseKey(key);
    return records;
}

std::vector<PortRecord> findPorts() {
    std::vector<PortRecord> setupDi;
    addDevices(kPortsClass, 0, setupDi);
    addDevices(kComPortInterface, DIGCF_DEVICEINTERFACE, setupDi);
    return mergePortRecords(setupDi, serialCommPorts());
}

}  // namespace

std::int32_t discoverPorts(const ZspPortSink& sink) {
    const auto ports = findPorts();
    for (const auto& port : ports) {
        sink.addPortName(sink.context, port.name.c_str());
        if (sink.addPortInfo != nullptr)
            sink.addPortInfo(sink.context, port.name.c_str(), port.manufacturer.c_str(),
                             port.description.c_str());
    }
    return static_cast<std::int32_t>(ports.size());
}

std::string manufacturerOf(const std::string& path) {
    std::string name = path;
    if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
    const auto wanted = comPortName(name);
    if (!wanted) return {};
    for (const auto& port : findPorts())
        if (port.name == *wanted) return port.manufacturer;
    return {};
}

}  // namespace zsp
