#pragma once

#include <string>

#include "serial/Compare.h"

namespace Zivaraze::tool {

// Orders texts lexicographically once both are in lower case, so "com2" sorts after "COM10".
class StringCompare : public Compare<std::string> {
  public:
    bool lessThan(const std::string& a, const std::string& b) const override;
    bool lessThanOrEqual(const std::string& a, const std::string& b) const override;
};

}  // namespace Zivaraze::tool
