#include "config/PropertyChangeSupport.h"

#include <algorithm>

namespace rszorvik::config {

ListenerId PropertyChangeSupport::add(PropertyChangeListener listener) {
    const ListenerId id = nextId++;
    listeners.emplace_back(id, std::move(listener));
    return id;
}

bool PropertyChangeSupport::remove(ListenerId id) {
    const auto it =
        std::find_if(listeners.begin(), listeners.end(), [id](const auto& l) { return l.first == id; });
    if (it == listeners.end()) return false;
    listeners.erase(it);
    return true;
}

void PropertyChangeSupport::fire(const PropertyChangeEvent& event) const {
    // A snapshot, so listeners may register or unregister while being told.
    const auto snapshot = listeners;
    for (const auto& [id, listener] : snapshot)
        if (listener) listener(event);
}

}  // namespace rszorvik::config
