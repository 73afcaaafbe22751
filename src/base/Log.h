#pragma once

#include <exception>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>

namespace rszorvik::base {

// One destination of log lines: the serial library's diagnostics (standard output), the preferences
// store's warnings and the command line's messages (standard error) each have a channel of their own.
// A channel turns each record into one line with its layout and writes it in one piece, flushed, so
// lines from several threads never tear. A program that needs the standard stream for its own data
// points the channel at another stream; tests install a sink to see the records themselves.
class LogChannel {
  public:
    enum class Level { FINE, INFO, WARNING, SEVERE };

    struct Record {
        Level level;
        std::string logger;  // who wrote it
        std::string message;
    };

    using Sink = std::function<void(const Record&)>;
    using Layout = std::function<std::string(const Record&)>;  // the line, without its line feed

    // Records below the threshold are dropped.
    LogChannel(std::ostream& standardStream, Level threshold, Layout layout);
    LogChannel(const LogChannel&) = delete;
    LogChannel& operator=(const LogChannel&) = delete;

    void log(Level level, std::string_view logger, std::string_view message);

    // Each returns the previous setting.
    Level setThreshold(Level level);
    Sink setSink(Sink sink);                        // records go to the sink instead; empty: to the stream
    std::ostream* setStream(std::ostream* stream);  // nullptr: the standard stream

    static const char* levelName(Level level);

    // Layouts in use: the message alone; "logger: message"; "LEVEL logger: message".
    static std::string messageOnly(const Record& record);
    static std::string loggerAndMessage(const Record& record);
    static std::string levelLoggerAndMessage(const Record& record);

  private:
    std::mutex mutex;
    std::ostream& defaultStream;
    std::ostream* redirectedStream = nullptr;
    Level minimumLevel;
    Layout lineLayout;
    Sink recordSink;
};

// A named writer on a channel.
class Logger {
  public:
    using Level = LogChannel::Level;

    Logger(LogChannel& channel, std::string name) : destination(&channel), loggerName(std::move(name)) {}

    const std::string& name() const { return loggerName; }

    void log(Level level, const std::string& message) const { destination->log(level, loggerName, message); }
    // The failure's own message is appended after ": ".
    void log(Level level, const std::string& message, const std::exception& failure) const {
        log(level, message + ": " + failure.what());
    }
    void fine(const std::string& message) const { log(Level::FINE, message); }
    void info(const std::string& message) const { log(Level::INFO, message); }
    void warning(const std::string& message) const { log(Level::WARNING, message); }
    void severe(const std::string& message) const { log(Level::SEVERE, message); }

  private:
    LogChannel* destination;
    std::string loggerName;
};

}  // namespace rszorvik::base
