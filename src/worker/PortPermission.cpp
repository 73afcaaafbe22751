#include "worker/PortPermission.h"

#include "base/MessageFormat.h"
#include "worker/WeightWorker.h"

namespace rszorvik::worker {

std::string permissionAdvice(const std::string& port, const PortAccess& access) {
    if (!access.group) return base::formatMessage(WeightWorker::text("port.permission.no.group"), {port});
    // Added to the group, but this login started before: the new membership only counts after logging in.
    if (access.inGroup && !access.sessionHasGroup)
        return base::formatMessage(WeightWorker::text("port.permission.log.in.again"), {port, *access.group});
    return base::formatMessage(WeightWorker::text("port.permission.join.group"), {port, *access.group});
}

std::string permissionAdvice(const std::string& port) {
    return permissionAdvice(port, inspectPortAccess(port));
}

}  // namespace rszorvik::worker
