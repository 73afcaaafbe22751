#pragma once

#include <exception>
#include <functional>
#include <mutex>
#include <string>

namespace rszorvik::prefs {

// A small named logger for the preferences store. Records at or above the threshold go to the sink,
// by default standard error; tests install a sink of their own to see what was logged.
class Logger {
  public:
    enum class Level { FINE, INFO, WARNING, SEVERE };

    struct Record {
        Level level;
        std::string logger;
        std::string message;
    };

    using Sink = std::function<void(const Record&)>;

    explicit Logger(std::string name) : loggerName(std::move(name)) {}

    const std::string& name() const { return loggerName; }

    void log(Level level, const std::string& message) const;
    // The failure's own message is appended after ": ".
    void log(Level level, const std::string& message, const std::exception& failure) const;
    void fine(const std::string& message) const { log(Level::FINE, message); }
    void info(const std::string& message) const { log(Level::INFO, message); }
    void warning(const std::string& message) const { log(Level::WARNING, message); }

    // Process-wide settings shared by every logger. Both return the previous value.
    static Level setThreshold(Level level);
    static Sink setSink(Sink sink);  // an empty sink restores standard error

    static const char* levelName(Level level);

  private:
    std::string loggerName;
    static std::mutex mutex;
    static Level threshold;
    static Sink currentSink;
};

}  // namespace rszorvik::prefs
