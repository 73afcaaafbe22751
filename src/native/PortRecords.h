#pragma once

// Turning what Windows tells about serial devices into port records: the device properties of SetupDi
// (friendly name, description, manufacturer, the "PortName" value of the device's key) and the values of
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM. Kept free of the Windows API, so the parsing is tested with the
// buffers Windows hands out on every host.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Utf8.h"

namespace zsp {

// Registry value types, as winnt.h numbers them.
enum : std::uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegMultiSz = 7 };

// A registry or device property value as its query returns it: the bytes and their type.
struct RawValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
};

// The properties SetupDi gives for one device of the ports class or the COM port interface.
struct RawDevice {
    std::optional<RawValue> friendlyName;  // SPDRP_FRIENDLYNAME: "USB Serial Port (COM3)"
    std::optional<RawValue> description;   // SPDRP_DEVICEDESC: "USB Serial Port"
    std::optional<RawValue> manufacturer;  // SPDRP_MFG: "FTDI"
    std::optional<RawValue> portName;      // "PortName" of the device key: "COM3" (or "LPT1")
};

struct PortRecord {
    std::string name;  // "COM3"
    std::string manufacturer;
    std::string description;
    friend bool operator==(const PortRecord&, const PortRecord&) = default;
};

// The text of a string value: UTF-16LE up to the first NUL (the first string of a multi-string), whether
// or not the buffer holds the terminator; an odd last byte is dropped. Other types have no text.
inline std::string valueText(const RawValue& value) {
    if (value.type != kRegSz && value.type != kRegExpandSz && value.type != kRegMultiSz) return {};
    std::u16string units(value.bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(value.bytes[2 * i] | (value.bytes[2 * i + 1] << 8));
    std::string text = rszorvik::base::utf8::fromUtf16(units);
    // Text that a driver package left in its indirect form, "@oem12.inf,%ftdi.desc%;USB Serial Port".
    if (!text.empty() && text.front() == '@') {
        const auto semicolon = text.rfind(';');
        text = semicolon == std::string::npos ? std::string() : text.substr(semicolon + 1);
    }
    const auto notBlank = [](char c) { return c != ' ' && c != '\t'; };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notBlank));
    text.erase(std::find_if(text.rbegin(), text.rend(), notBlank).base(), text.end());
    return text;
}

inline std::string valueText(const std::optional<RawValue>& value) {
    return value ? valueText(*value) : std::string();
}

// "COM" followed by a decimal number 1-255, letters in either case: the names a COM port can have.
// Answers the name in capitals, or none.
inline std::optional<std::string> comPortName(std::string_view name) {
    if (name.size() < 4 || name.size() > 6) return std::nullopt;
    std::string upper(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (upper.compare(0, 3, "COM") != 0 || upper[3] == '0') return std::nullopt;
    int number = 0;
    for (std::size_t i = 3; i < upper.size(); ++i) {
        if (upper[i] < '0' || upper[i] > '9') return std::nullopt;
        number = number * 10 + (upper[i] - '0');
    }
    if (number < 1 || number > 255) return std::nullopt;
    return upper;
}

// The COM port a friendly name ends with: "USB Serial Port (COM3)" names COM3.
inline std::optional<std::string> portInFriendlyName(std::string_view friendly) {
    if (friendly.empty() || friendly.back() != ')') return std::nullopt;
    const auto open = friendly.rfind('(');
    if (open == std::string_view::npos) return std::nullopt;
    return comPortName(friendly.substr(open + 1, friendly.size() - open - 2));
}

// A COM port's record from its device properties; none for a device that is no COM port (a printer port
// of the same class, a device without a port name).
inline std::optional<PortRecord> portRecord(const RawDevice& device) {
    const std::string friendly = valueText(device.friendlyName);
    auto name = comPortName(valueText(device.portName));
    if (!name && !device.portName) name = portInFriendlyName(friendly);
    if (!name) return std::nullopt;
    PortRecord record{*name, valueText(device.manufacturer), valueText(device.description)};
    if (record.description.empty() && !friendly.empty()) {
        // The friendly name without its " (COM3)".
        record.description = friendly;
        if (portInFriendlyName(friendly)) {
            record.description.erase(record.description.rfind('('));
            while (!record.description.empty() && record.description.back() == ' ')
                record.description.pop_back();
        }
    }
    if (record.description.empty()) record.description = record.name;
    if (record.manufacturer.empty()) record.manufacturer = record.description;
    return record;
}

// A port that only the SERIALCOMM key lists (as every port does under Wine, where SetupDi finds none): the
// key's value name is the kernel device ("\Device\Serial0", "\Device\VCP0"), the value the port. The
// driver's part of the device name, without its number, stands for description and manufacturer, as the
// driver name does for ports Linux knows nothing more about.
inline std::optional<PortRecord> serialCommRecord(std::string_view deviceName, const RawValue& value) {
    const auto name = comPortName(valueText(value));
    if (!name) return std::nullopt;
    std::string_view driver = deviceName;
    if (const auto slash = driver.rfind('\\'); slash != std::string_view::npos)
        driver.remove_prefix(slash + 1);
    while (!driver.empty() && driver.back() >= '0' && driver.back() <= '9')
        driver.remove_suffix(1);
    const std::string label = driver.empty() ? std::string("serial") : std::string(driver);
    return PortRecord{*name, label, label};
}

// The records of both sources, each port once: SetupDi's record wins, since it carries the names Windows
// shows; the order is SetupDi's, then the ports only SERIALCOMM knows, in its order.
inline std::vector<PortRecord> mergePortRecords(const std::vector<PortRecord>& setupDi,
                                                const std::vector<PortRecord>& serialComm) {
    std::vector<PortRecord> merged;
    const auto known = [&](const std::string& name) {
        return std::any_of(merged.begin(), merged.end(), [&](const PortRecord& r) { return r.name == name; });
    };
    for (const auto* source : {&setupDi, &serialComm})
        for (const auto& record : *source)
            if (!known(record.name)) merged.push_back(record);
    return merged;
}

}  // namespace zsp
