// The host's name and architecture from uname(): named the way Java runtimes name them, as the library
// table expects, and as the system names them, for people.
#include <sys/utsname.h>

#include <string>

#include "base/SystemProperties.h"
#include "serial/PlatformSupport.h"

namespace Zivaraze {

using rszorvik::base::SystemProperties;

std::string hostOsName() {
    if (auto name = SystemProperties::get("os.name")) return *name;
    utsname host{};
    if (uname(&host) != 0) return "Linux";
    const std::string system = host.sysname;
    return system == "Darwin" ? "Mac OS X" : system;
}

std::string hostOsArch() {
    if (auto arch = SystemProperties::get("os.arch")) return *arch;
    utsname host{};
    if (uname(&host) != 0) return "";
    const std::string machine = host.machine;
    if (machine == "x86_64") return "amd64";
    if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686") return "x86";
    return machine;
}

RunningPlatform runningPlatform() {
    utsname host{};
    if (uname(&host) != 0) return {};
    return {host.sysname, host.machine};
}

}  // namespace Zivaraze
