#pragma once

#include <bitset>
#include <string>
#include <string_view>
#include <vector>

#include "config/Config.h"

namespace rszorvik::worker {

// Drops every character of a value that occurs in the text of characters to remove.
class Remover {
  public:
    explicit Remover(const config::Config& config);
    explicit Remover(std::string_view characters);

    std::string removeCharacters(std::string_view text) const;
    bool empty() const { return characters.empty(); }
    const std::string& getCharacters() const { return characters; }

  private:
    bool removes(char32_t cp) const;

    std::string characters;
    std::bitset<256> latin1;     // the set for the code points a received byte can become
    std::vector<char32_t> wide;  // any others the text holds
};

}  // namespace rszorvik::worker
