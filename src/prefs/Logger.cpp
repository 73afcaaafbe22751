#include "prefs/Logger.h"

#include <iostream>

namespace rszorvik::prefs {

std::mutex Logger::mutex;
Logger::Level Logger::threshold = Logger::Level::WARNING;
Logger::Sink Logger::currentSink;

void Logger::log(Level level, const std::string& message) const {
    std::lock_guard lock(mutex);
    if (level < threshold) return;
    Record record{level, loggerName, message};
    if (currentSink) {
        currentSink(record);
    } else {
        std::cerr << levelName(level) << ' ' << loggerName << ": " << message << '\n' << std::flush;
    }
}

void Logger::log(Level level, const std::string& message, const std::exception& failure) const {
    log(level, message + ": " + failure.what());
}

Logger::Level Logger::setThreshold(Level level) {
    std::lock_guard lock(mutex);
    Level previous = threshold;
    threshold = level;
    return previous;
}

Logger::Sink Logger::setSink(Sink sink) {
    std::lock_guard lock(mutex);
    Sink previous = std::move(currentSink);
    currentSink = std::move(sink);
    return previous;
}

const char* Logger::levelName(Level level) {
    switch (level) {
        case Level::FINE:
            return "FINE";
        case Level::INFO:
            return "INFO";
        case Level::WARNING:
            return "WARNING";
        case Level::SEVERE:
            return "SEVERE";
    }
    return "?";
}

}  // namespace rszorvik::prefs
