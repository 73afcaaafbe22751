#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace rszorvik::sim {

// A decimal as unscaled integer and number of decimal places, enough for instrument readings.
struct Decimal {
    std::int64_t unscaled = 0;
    int scale = 0;

    static Decimal parse(std::string_view text);  // throws std::invalid_argument
    Decimal rescaled(int newScale) const;
    std::string toString() const;
};

// The values the instrument sends, one per call of next().
class ValueSource {
  public:
    // The given values in turn, starting over after the last.
    static ValueSource list(const std::vector<std::string>& values);
    // from, from + step, ... while not past to, then again from from. The step's sign is taken from the
    // direction from -> to.
    static ValueSource ramp(std::string_view from, std::string_view to, std::string_view step);
    // Starts at from; each next value moves by -step, 0 or +step at random, kept between from and to.
    static ValueSource randomWalk(std::string_view from, std::string_view to, std::string_view step,
                                  std::uint32_t seed);

    std::string next();
    // How many values make one pass (list, ramp); 0 for the random walk, which has no end.
    std::size_t passLength() const { return passValues.size(); }
    // The values that need the most characters: every value of a pass, or both ends of a random walk as it
    // writes them (with the scale of the finest of from, to and step).
    std::vector<std::string> widestValues() const;

  private:
    ValueSource() = default;

    std::vector<std::string> passValues;
    std::size_t index = 0;
    bool isRandom = false;
    Decimal current, low, high, stepSize;
    std::mt19937 generator;
};

}  // namespace rszorvik::sim
