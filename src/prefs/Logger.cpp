#include "prefs/Logger.h"

#include <iostream>

namespace rszorvik::prefs {

std::mutex Logger::mutex_;
Logger::Level Logger::threshold_ = Logger::Level::WARNING;
Logger::Sink Logger::sink_;

void Logger::log(Level level, const std::string& message) const {
    std::lock_guard lock(mutex_);
    if (level < threshold_) return;
    Record record{level, name_, message};
    if (sink_) {
        sink_(record);
    } else {
        std::cerr << levelName(level) << ' ' << name_ << ": " << message << '\n' << std::flush;
    }
}

void Logger::log(Level level, const std::string& message, const std::exception& failure) const {
    log(level, message + ": " + failure.what());
}

Logger::Level Logger::setThreshold(Level level) {
    std::lock_guard lock(mutex_);
    Level previous = threshold_;
    threshold_ = level;
    return previous;
}

Logger::Sink Logger::setSink(Sink sink) {
    std::lock_guard lock(mutex_);
    Sink previous = std::move(sink_);
    sink_ = std::move(sink);
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
