// The Windows build has no HTTPS client yet (WinHTTP comes with the rest of the Windows platform
// services): the update check fails with a message that says so, like any other failed transfer.
#include "util/HttpsGet.h"
#include "util/ReadRemoteUpdate.h"

namespace rszorvik::util {

std::string httpsGet(const std::string&, const std::string&, const HttpsGetLimits&) {
    throw UpdateIOError("HTTPS is not available in this build");
}

}  // namespace rszorvik::util
