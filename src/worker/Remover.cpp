#include "worker/Remover.h"

#include <algorithm>

#include "base/Utf8.h"

namespace rszorvik::worker {

Remover::Remover(const config::Config& config) : Remover(config.getRemoveCharacters()) {}

Remover::Remover(std::string_view characters) : characters(characters) {
    for (std::size_t i = 0; i < characters.size();) {
        const char32_t cp = base::utf8::next(characters, i);
        if (cp < latin1.size())
            latin1.set(cp);
        else
            wide.push_back(cp);
    }
}

bool Remover::removes(char32_t cp) const {
    if (cp < latin1.size()) return latin1.test(cp);
    return std::find(wide.begin(), wide.end(), cp) != wide.end();
}

std::string Remover::removeCharacters(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t cp = base::utf8::next(text, i);
        if (!removes(cp)) out.append(text.substr(start, i - start));
    }
    return out;
}

}  // namespace rszorvik::worker
