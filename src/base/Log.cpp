#include "base/Log.h"

#include <ostream>
#include <utility>

namespace rszorvik::base {

LogChannel::LogChannel(std::ostream& standardStream, Level threshold, Layout layout)
    : defaultStream(standardStream), minimumLevel(threshold), lineLayout(std::move(layout)) {}

void LogChannel::log(Level level, std::string_view logger, std::string_view message) {
    std::lock_guard lock(mutex);
    if (level < minimumLevel) return;
    const Record record{level, std::string(logger), std::string(message)};
    if (recordSink) {
        recordSink(record);
        return;
    }
    const std::string line = lineLayout(record) + '\n';
    std::ostream& out = redirectedStream != nullptr ? *redirectedStream : defaultStream;
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    out.flush();
}

LogChannel::Level LogChannel::setThreshold(Level level) {
    std::lock_guard lock(mutex);
    return std::exchange(minimumLevel, level);
}

LogChannel::Sink LogChannel::setSink(Sink sink) {
    std::lock_guard lock(mutex);
    return std::exchange(recordSink, std::move(sink));
}

std::ostream* LogChannel::setStream(std::ostream* stream) {
    std::lock_guard lock(mutex);
    return std::exchange(redirectedStream, stream);
}

const char* LogChannel::levelName(Level level) {
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

std::string LogChannel::messageOnly(const Record& record) {
    return record.message;
}

std::string LogChannel::loggerAndMessage(const Record& record) {
    return record.logger + ": " + record.message;
}

std::string LogChannel::levelLoggerAndMessage(const Record& record) {
    return std::string(levelName(record.level)) + ' ' + record.logger + ": " + record.message;
}

}  // namespace rszorvik::base
