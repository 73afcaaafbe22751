#pragma once

#include <string>
#include <utility>

#include "base/Log.h"

namespace rszorvik::prefs {

// The preferences store's log: standard error, from WARNING up, as "LEVEL logger: message".
base::LogChannel& preferencesLog();

// A named logger of the preferences store. The settings below are process-wide; tests install a sink
// of their own to see what was logged.
class Logger : public base::Logger {
  public:
    using Record = base::LogChannel::Record;
    using Sink = base::LogChannel::Sink;

    explicit Logger(std::string name) : base::Logger(preferencesLog(), std::move(name)) {}

    // Both return the previous value; an empty sink restores standard error.
    static Level setThreshold(Level level) { return preferencesLog().setThreshold(level); }
    static Sink setSink(Sink sink) { return preferencesLog().setSink(std::move(sink)); }

    static const char* levelName(Level level) { return base::LogChannel::levelName(level); }
};

}  // namespace rszorvik::prefs
