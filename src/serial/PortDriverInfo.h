#pragma once

#include <string>
#include <utility>

namespace Zivaraze {

// The driver record the native discovery reports for one port.
class PortDriverInfo {
  public:
    PortDriverInfo(std::string name, std::string manufacture, std::string description)
        : name(std::move(name)), manufacture(std::move(manufacture)), description(std::move(description)) {}

    const std::string& getPortName() const { return name; }
    const std::string& getDriverMfgr() const { return manufacture; }
    const std::string& getDriverDesc() const { return description; }

    friend bool operator==(const PortDriverInfo&, const PortDriverInfo&) = default;

  private:
    std::string name;
    std::string manufacture;
    std::string description;
};

}  // namespace Zivaraze
