#pragma once

#include <optional>
#include <string>

namespace rszorvik::worker {

// Why a port that exists may not be opened, as far as the system tells: which group owns the device and
// how this user stands to it.
struct PortAccess {
    std::optional<std::string> group;  // the owning group, when it grants read and write and is not root
    bool inGroup = false;              // the user database lists the user in that group
    bool sessionHasGroup = false;      // this process already carries the group
};

// Looks the device up (symbolic links followed) and the user in the group database. Without a device or
// a usable group the answer has no group.
PortAccess inspectPortAccess(const std::string& port);

// The sentence that follows "permission denied" for this port: join the group that owns the device (and
// log in again), or, without one, ask for access; never changes anything itself.
std::string permissionAdvice(const std::string& port, const PortAccess& access);
std::string permissionAdvice(const std::string& port);

}  // namespace rszorvik::worker
