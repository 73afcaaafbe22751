#include "base/SystemProperties.h"

#include <cstdlib>

namespace rszorvik::base {

std::mutex SystemProperties::mutex;
std::map<std::string, std::optional<std::string>> SystemProperties::overrides;

std::optional<std::string> SystemProperties::get(const std::string& name) {
    std::lock_guard lock(mutex);
    if (auto it = overrides.find(name); it != overrides.end()) return it->second;
    if (const char* env = std::getenv(name.c_str())) return std::string(env);
    return std::nullopt;
}

std::string SystemProperties::get(const std::string& name, const std::string& fallback) {
    return get(name).value_or(fallback);
}

void SystemProperties::set(const std::string& name, const std::string& value) {
    std::lock_guard lock(mutex);
    overrides[name] = value;
}

// A cleared property stays absent even when the environment names it.
void SystemProperties::clear(const std::string& name) {
    std::lock_guard lock(mutex);
    overrides[name] = std::nullopt;
}

std::string SystemProperties::programVersion() {
    // The build's project version, given by CMake, so that nothing repeats it.
    return ZORVIK_VERSION;
}

void SystemProperties::setProgramProperties() {
    set("VERSION", programVersion());
    set("ZSP_OSNAME", "Windows");
    set("ZSP_OSARCH", "x86");
}

}  // namespace rszorvik::base
