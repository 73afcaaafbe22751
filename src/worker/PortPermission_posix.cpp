#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "worker/PortPermission.h"

namespace rszorvik::worker {
namespace {

bool userListedIn(gid_t group) {
    const passwd* user = getpwuid(getuid());
    if (user == nullptr) return false;
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
    }
    groups.resize(static_cast<std::size_t>(count));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

bool sessionCarries(gid_t group) {
    if (getegid() == group) return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    if (got < 0) return false;
    groups.resize(static_cast<std::size_t>(got));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

}  // namespace

PortAccess inspectPortAccess(const std::string& port) {
    PortAccess access;
    struct stat device {};
    if (stat(port.c_str(), &device) != 0) return access;
    // Joining root, or a group the device grants nothing to, would not help: no group to suggest.
    if (device.st_gid == 0 || (device.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return access;
    const group* owner = getgrgid(device.st_gid);
    if (owner == nullptr) return access;
    access.group = owner->gr_name;
    access.inGroup = userListedIn(device.st_gid);
    access.sessionHasGroup = sessionCarries(device.st_gid);
    return access;
}

}  // namespace rszorvik::worker
