#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/Instrument.h"

namespace rszorvik::config {

// A change of the settings record: the property name ("NUMBER" or "TEXT" for a preset change) and the
// old and new preset (old is always none).
struct PropertyChangeEvent {
    std::string propertyName;
    std::optional<ConfigHelper::Instrument> oldValue;
    std::optional<ConfigHelper::Instrument> newValue;
};

using PropertyChangeListener = std::function<void(const PropertyChangeEvent&)>;
using ListenerId = std::uint64_t;

// The listeners of one record. They belong to that object: a copy starts without listeners and an
// assignment keeps the target's own, so copied settings never notify the original's listeners.
class PropertyChangeSupport {
  public:
    PropertyChangeSupport() = default;
    PropertyChangeSupport(const PropertyChangeSupport&) {}
    PropertyChangeSupport(PropertyChangeSupport&&) noexcept {}
    PropertyChangeSupport& operator=(const PropertyChangeSupport&) { return *this; }
    PropertyChangeSupport& operator=(PropertyChangeSupport&&) noexcept { return *this; }

    // Returns the id that removes the listener again.
    ListenerId add(PropertyChangeListener listener);
    bool remove(ListenerId id);  // false for an id that is not registered
    std::size_t size() const { return listeners.size(); }
    // Calls every listener in registration order; a listener may add or remove listeners meanwhile.
    void fire(const PropertyChangeEvent& event) const;

  private:
    std::vector<std::pair<ListenerId, PropertyChangeListener>> listeners;
    ListenerId nextId = 1;
};

}  // namespace rszorvik::config
