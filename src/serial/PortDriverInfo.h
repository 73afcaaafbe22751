#pragma once

#include <string>
#include <utility>

namespace Zivaraze {

// The driver record the native discovery reports for one port.
class PortDriverInfo {
  public:
    PortDriverInfo(std::string name, std::string manufacture, std::string description)
        : portName(std::move(name)), driverMfgr(std::move(manufacture)), driverDesc(std::move(description)) {}

    const std::string& getPortName() const { return portName; }
    const std::string& getDriverMfgr() const { return driverMfgr; }
    const std::string& getDriverDesc() const { return driverDesc; }

    friend bool operator==(const PortDriverInfo&, const PortDriverInfo&) = default;

  private:
    std::string portName;
    std::string driverMfgr;
    std::string driverDesc;
};

}  // namespace Zivaraze
