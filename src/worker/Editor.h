#pragma once

#include <string>
#include <string_view>

#include "config/Config.h"

namespace rszorvik::worker {

// Keeps or removes the first or last N characters of a value.
class Editor {
  public:
    using EditOperation = config::ConfigHelper::EditOperation;
    using EditPosition = config::ConfigHelper::EditPosition;

    explicit Editor(const config::Config& config);
    Editor(EditOperation editOperation, EditPosition editPosition, int numCharacters);

    // REMOVE drops N characters (all of a shorter text); KEEP keeps N (a shorter text stays whole).
    // N <= 0 or an empty text leaves the text unchanged.
    std::string edit(std::string_view text) const;

    EditOperation getEditOperation() const { return editOperation; }
    EditPosition getEditPosition() const { return editPosition; }
    int getNumCharacters() const { return numCharacters; }

  private:
    EditOperation editOperation;
    EditPosition editPosition;
    int numCharacters;
};

}  // namespace rszorvik::worker
