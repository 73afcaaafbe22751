#include "util/FriendlyPortUtil.h"

#include <mutex>
#include <optional>

#include "serial/SerialPortLocal.h"

namespace rszorvik::util {
namespace {

std::mutex& snapshotMutex() {
    static std::mutex mutex;
    return mutex;
}

// None until the first update.
std::optional<std::vector<Zivaraze::PortDriverInfo>>& portInfoList() {
    static std::optional<std::vector<Zivaraze::PortDriverInfo>> list;
    return list;
}

}  // namespace

void FriendlyPortUtil::update() {
    auto records = Zivaraze::SerialPortLocal::getDriverInfoList();
    std::lock_guard lock(snapshotMutex());
    portInfoList() = std::move(records);
}

bool FriendlyPortUtil::portInfoListIsPopulated() {
    std::lock_guard lock(snapshotMutex());
    return portInfoList() && !portInfoList()->empty();
}

std::string FriendlyPortUtil::friendlyText(const Zivaraze::PortDriverInfo& info) {
    return info.getPortName() + ": " + info.getDriverDesc() + " - " + info.getDriverMfgr();
}

std::vector<std::string> FriendlyPortUtil::getFriendlyPortList() {
    std::lock_guard lock(snapshotMutex());
    std::vector<std::string> names;
    if (portInfoList())
        for (const auto& info : *portInfoList())
            names.push_back(friendlyText(info));
    return names;
}

std::string FriendlyPortUtil::getFriendlyPortName(const std::string& portName) {
    std::lock_guard lock(snapshotMutex());
    if (portInfoList())
        for (const auto& info : *portInfoList())
            if (info.getPortName() == portName) return friendlyText(info);
    return portName;
}

std::string FriendlyPortUtil::getUnfriendlyPortName(const std::string& friendly) {
    std::lock_guard lock(snapshotMutex());
    if (portInfoList())
        for (const auto& info : *portInfoList())
            if (friendlyText(info) == friendly) return info.getPortName();
    return friendly;
}

}  // namespace rszorvik::util
