#pragma once

namespace Zivaraze::tool {

// An ordering of two values.
template <typename T>
class Compare {
  public:
    virtual ~Compare() = default;
    virtual bool lessThan(const T& a, const T& b) const = 0;
    virtual bool lessThanOrEqual(const T& a, const T& b) const = 0;
};

}  // namespace Zivaraze::tool
