#include "base/SystemProperties.h"

#include <cstdlib>

namespace rszorvik::base {

std::mutex SystemProperties::mutex_;
std::map<std::string, std::optional<std::string>> SystemProperties::table_;

std::optional<std::string> SystemProperties::get(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (auto it = table_.find(name); it != table_.end()) return it->second;
    if (const char* env = std::getenv(name.c_str())) return std::string(env);
    return std::nullopt;
}

std::string SystemProperties::get(const std::string& name, const std::string& fallback) {
    return get(name).value_or(fallback);
}

void SystemProperties::set(const std::string& name, const std::string& value) {
    std::lock_guard lock(mutex_);
    table_[name] = value;
}

// A cleared property stays absent even when the environment names it.
void SystemProperties::clear(const std::string& name) {
    std::lock_guard lock(mutex_);
    table_[name] = std::nullopt;
}

}  // namespace rszorvik::base
