#include "worker/Editor.h"

#include <cstddef>

#include "base/Utf8.h"

namespace rszorvik::worker {

Editor::Editor(const config::Config& config)
    : Editor(config.getEditOperation(), config.getEditPosition(), config.getEditNumCharactersAsInt()) {}

Editor::Editor(EditOperation editOperation, EditPosition editPosition, int numCharacters)
    : editOperation(editOperation), editPosition(editPosition), numCharacters(numCharacters) {}

std::string Editor::edit(std::string_view text) const {
    if (text.empty() || numCharacters <= 0) return std::string(text);
    const auto n = static_cast<std::size_t>(numCharacters);
    const std::size_t length = base::utf8::length(text);
    if (length < n) return editOperation == EditOperation::REMOVE ? std::string() : std::string(text);
    // Byte offset of the boundary N characters in from the chosen end.
    const std::size_t cut = base::utf8::offsetOf(text, editPosition == EditPosition::FIRST ? n : length - n);
    const bool keepFront = (editOperation == EditOperation::KEEP) == (editPosition == EditPosition::FIRST);
    return std::string(keepFront ? text.substr(0, cut) : text.substr(cut));
}

}  // namespace rszorvik::worker
