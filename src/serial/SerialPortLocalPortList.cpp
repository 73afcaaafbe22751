// The class-wide port list of SerialPortLocal: names from the runtime setting, the native discovery or
// the caller, and the driver records that come with them.

#include <algorithm>
#include <cctype>
#include <climits>
#include <mutex>
#include <optional>

#include "base/Ascii.h"
#include "serial/Diagnostics.h"
#include "serial/IOError.h"
#include "serial/SerialPortLocal.h"
#include "serial/SerialPortLocalState.h"

namespace Zivaraze {
namespace {

using detail::classState;
using detail::native;
using detail::rootProperty;
using rszorvik::base::asciiEqualsIgnoreCase;

struct PortLists {
    std::vector<std::string> portList;
    std::vector<PortDriverInfo> portListInfo;
    std::optional<PortDriverInfo> portInfo;
    std::vector<std::string> comPortNums;
    std::vector<int> portNumList;
};

std::mutex& listMutex() {
    static std::mutex mutex;
    return mutex;
}

PortLists& lists() {
    static PortLists state;
    return state;
}

void addPortNameLocked(const std::string& portName) {
    auto& list = lists().portList;
    if (std::none_of(list.begin(), list.end(),
                     [&](const auto& known) { return asciiEqualsIgnoreCase(known, portName); }))
        list.push_back(portName);
}

void addPortInfoLocked(const std::string& portName, const std::string& manufacture,
                       const std::string& description) {
    auto& infos = lists().portListInfo;
    if (std::any_of(infos.begin(), infos.end(),
                    [&](const auto& info) { return asciiEqualsIgnoreCase(info.getPortName(), portName); }))
        return;
    lists().portInfo.emplace(portName, manufacture, description);
    infos.push_back(*lists().portInfo);
}

// Called back by the native discovery while getPortList holds the list lock.
void discoveredName(void*, const char* portName) noexcept {
    try {
        if (portName != nullptr) addPortNameLocked(portName);
    } catch (...) {
    }
}

void discoveredInfo(void*, const char* portName, const char* manufacture, const char* description) noexcept {
    try {
        if (portName != nullptr)
            addPortInfoLocked(portName, manufacture != nullptr ? manufacture : "",
                              description != nullptr ? description : "");
    } catch (...) {
    }
}

// Leading and trailing blanks and control characters.
std::string trimmed(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

// The number of the first "COM" followed by digits in the name, if it fits.
std::optional<int> comNumber(const std::string& portName) {
    for (std::size_t at = portName.find("COM"); at != std::string::npos; at = portName.find("COM", at + 1)) {
        std::size_t end = at + 3;
        long long value = 0;
        while (end < portName.size() && std::isdigit(static_cast<unsigned char>(portName[end]))) {
            value = value * 10 + (portName[end] - '0');
            if (value > INT_MAX) return std::nullopt;
            ++end;
        }
        if (end > at + 3) return static_cast<int>(value);
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> SerialPortLocal::getPortList() {
    const auto s = classState();
    const auto setting = rszorvik::base::SystemProperties::get("SERIAL_PORT_LIST");
    if (setting && trimmed(*setting).size() > 4) {
        std::lock_guard lock(listMutex());
        std::size_t start = 0;
        while (start <= setting->size()) {
            const std::size_t end = setting->find_first_of(";:", start);
            const std::string piece =
                setting->substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!piece.empty()) addPortNameLocked(piece);
            if (end == std::string::npos) break;
            start = end + 1;
        }
        return lists().portList;
    }
    if (s->platform.supGetPortList) {
        const ZspApi& api = native("SerGetPortList");
        const auto sysRoot = rootProperty("ZSP_SYSFS_ROOT");
        const auto devRoot = rootProperty("ZSP_DEV_ROOT");
        std::lock_guard lock(listMutex());
        lists().portList.clear();
        const ZspPortSink sink{nullptr, discoveredName, discoveredInfo, sysRoot ? sysRoot->c_str() : nullptr,
                               devRoot ? devRoot->c_str() : nullptr};
        api.SerGetPortList(&sink);
        if (!s->platform.osFamilyWindows) return lists().portList;
        lists().comPortNums = lists().portList;
        auto ordered = orderWindowsPorts(lists().comPortNums);
        lists().portNumList.clear();
        for (const auto& name : lists().comPortNums)
            if (name.rfind("COM", 0) == 0)
                if (auto number = comNumber(name)) lists().portNumList.push_back(*number);
        std::sort(lists().portNumList.begin(), lists().portNumList.end());
        return ordered;
    }
    std::lock_guard lock(listMutex());
    if (!lists().portList.empty()) {
        printDiagnostic("getPortList: using list created with addPortName");
    } else {
        printDiagnostic("getPortList: port discovery not currently supported on this platform.");
        printDiagnostic("Options:");
        printDiagnostic("A) addPortName can be used to build a list of device names ");
        printDiagnostic("B) set the runtime setting SERIAL_PORT_LIST=COM1;COM2;COM3");
        printDiagnostic("or SERIAL_PORT_LIST=/dev/ttyS0:/dev/ttyS1");
    }
    return lists().portList;
}

// A number is taken only from names that begin with "COM"; such a name without digits leaves an
// empty entry at the end, as the result keeps the length of the input.
std::vector<std::string> SerialPortLocal::orderWindowsPorts(const std::vector<std::string>& names) {
    std::vector<int> numbers;
    for (const auto& name : names)
        if (name.rfind("COM", 0) == 0)
            if (auto number = comNumber(name)) numbers.push_back(*number);
    std::sort(numbers.begin(), numbers.end());
    std::vector<std::string> result(names.size());
    std::size_t next = 0;
    for (int number : numbers)
        result[next++] = "COM" + std::to_string(number);
    for (const auto& name : names)
        if (name.rfind("COM", 0) != 0) result[next++] = name;
    return result;
}

void SerialPortLocal::addPortName(const std::string& portName) {
    std::lock_guard lock(listMutex());
    addPortNameLocked(portName);
}

void SerialPortLocal::addPortInfo(const std::string& portName, const std::string& manufacture,
                                  const std::string& description) {
    std::lock_guard lock(listMutex());
    addPortInfoLocked(portName, manufacture, description);
}

void SerialPortLocal::clearPortListInfo() {
    std::lock_guard lock(listMutex());
    lists().portListInfo.clear();
}

std::vector<PortDriverInfo> SerialPortLocal::getDriverInfoList() {
    if (!classState()->platform.supDriverInfo) throw IOError("Not supported on this platform");
    std::lock_guard lock(listMutex());
    if (lists().portList.empty()) throw IOError("Must call SerialPortLocal.getPortList method first");
    return lists().portListInfo;
}

}  // namespace Zivaraze
