#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace rszorvik::base {

// The process property table ("VERSION", "ZSP_OSNAME", "SERIAL_PORT_LIST", ...). A property that was
// never set falls back to the environment variable of the same name. Safe to use from any thread.
class SystemProperties {
  public:
    static std::optional<std::string> get(const std::string& name);
    static std::string get(const std::string& name, const std::string& fallback);
    static void set(const std::string& name, const std::string& value);
    static void clear(const std::string& name);
    // The properties every zorvik program sets at start-up: "VERSION" (programVersion()), and the platform
    // name and architecture that choose the serial library's feature set and native module, on every host.
    static void setProgramProperties();
    // The version of this build, the one its package, manual pages and --version carry ("2020.1.0.0").
    static std::string programVersion();

  private:
    static std::mutex mutex;
    static std::map<std::string, std::optional<std::string>> overrides;
};

}  // namespace rszorvik::base
