// zorvik-sim: a virtual serial instrument on a pseudo-terminal, for demos and tests.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "InstrumentFormat.h"
#include "SendPlan.h"
#include "ValueSource.h"
#include "VirtualPort.h"
#include "base/Log.h"
#include "base/StopSignals.h"
#include "base/SystemProperties.h"

namespace fs = std::filesystem;
using namespace rszorvik::sim;
using rszorvik::base::StopSignals;
using std::chrono::milliseconds;

namespace {

using rszorvik::base::LogChannel;

// What the simulator reports goes to standard error as "zorvik-sim: text".
LogChannel& simLog() {
    static LogChannel channel(std::cerr, LogChannel::Level::FINE, LogChannel::loggerAndMessage);
    return channel;
}

void report(const std::string& text) {
    simLog().log(LogChannel::Level::INFO, "zorvik-sim", text);
}

std::string escaped(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

// The symlink to the slave, removed at exit if it still points there. An existing path is never
// replaced: it may be another program's link.
class Link {
  public:
    Link(std::string path, const std::string& target) : linkPath(std::move(path)), linkTarget(target) {
        if (linkPath.empty()) return;
        std::error_code error;
        if (fs::symlink_status(linkPath, error).type() != fs::file_type::not_found) {
            const std::string existing = linkPath;
            linkPath.clear();  // not ours: the destructor leaves it alone
            throw std::invalid_argument("--link: " + existing + " already exists; give a path that does not");
        }
        fs::create_symlink(linkTarget, linkPath);
    }
    ~Link() {
        if (linkPath.empty()) return;
        std::error_code error;
        if (fs::is_symlink(linkPath, error) && fs::read_symlink(linkPath, error) == linkTarget)
            fs::remove(linkPath, error);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

  private:
    std::string linkPath;
    fs::path linkTarget;
};

int run(const Options& options) {
    SendPlan plan = planFrom(options);
    const FormatInfo& info = formatInfo(plan.format);
    const std::string& terminator = plan.terminator;
    ValueSource& source = plan.source;
    const long count = plan.count;
    const auto log = [&](const std::string& text) {
        if (!options.quiet) report(text);
    };

    StopSignals stop;
    // A reader that goes away must not kill us while we write.
    rszorvik::base::ignoreBrokenPipes();
    auto port = std::make_unique<VirtualPort>();
    auto link = std::make_unique<Link>(options.link, port->slavePath());
    std::cout << port->slavePath() << std::endl;
    log("format " + std::string(info.name) + " (preset " + std::string(info.preset) + "), terminator \"" +
        escaped(terminator) + "\"" +
        (count > 0 ? ", " + std::to_string(count) + " values" : ", until stopped") +
        (plan.request.empty() ? "" : ", each when \"" + escaped(plan.request) + "\" arrives"));

    const auto awaitReader = [&] {
        if (options.noWait || port->readerPresent()) return true;
        log("waiting for a reader on " + port->slavePath());
        if (!port->waitForReader(stop)) return false;
        log("reader connected");
        return stop.pause(milliseconds(options.settleMs));
    };
    const auto send = [&](const std::string& line) {
        if (!awaitReader()) return false;
        const std::size_t split = options.pauseMidLineMs > 0 ? line.size() / 2 : line.size();
        if (!port->write(std::string_view(line).substr(0, split), stop)) return false;
        if (split < line.size()) {
            if (!stop.pause(milliseconds(options.pauseMidLineMs))) return false;
            if (!port->write(std::string_view(line).substr(split), stop)) return false;
        }
        log("sent \"" + escaped(line) + "\"");
        return true;
    };
    // As an unplugged adapter: the terminal and its link go (the reader sees the hang-up), and after the
    // pause a new terminal comes up under the same link, whose path is printed like the first one.
    const auto unplug = [&] {
        port->drain(milliseconds(options.lingerMs), stop);
        const std::string old = port->slavePath();
        link.reset();
        port.reset();
        log("unplugged " + old + " for " + std::to_string(options.unplugMs) + " ms");
        if (!stop.pause(milliseconds(options.unplugMs))) return false;
        port = std::make_unique<VirtualPort>();
        link = std::make_unique<Link>(options.link, port->slavePath());
        std::cout << port->slavePath() << std::endl;
        log("plugged in again as " + port->slavePath());
        return true;
    };

    bool stopped = false;
    long valueLines = 0;
    long requests = 0;
    for (long i = 0; !stopped && (count == 0 || i < count); ++i) {
        if (!plan.request.empty()) {
            stopped = !port->awaitRequest(plan.request, stop);
            if (stopped) break;
            log("request " + std::to_string(++requests) + " received");
        }
        const std::string body = formatValue(plan.format, source.next(), options.unit);
        for (int r = 0; !stopped && r < options.repeat; ++r) {
            const bool last = count > 0 && i == count - 1 && r == options.repeat - 1;
            stopped = !send(body + (last && options.noTerminatorLast ? "" : terminator));
            ++valueLines;
            if (!stopped && !last && options.garbageEvery > 0 && valueLines % options.garbageEvery == 0)
                stopped = !send(garbageLine() + terminator);
            if (!stopped && !last && options.unplugAfter > 0 && valueLines == options.unplugAfter)
                stopped = !unplug();
            else if (!stopped && !last && plan.request.empty())
                stopped = !stop.pause(milliseconds(options.intervalMs));
        }
    }
    if (!stopped) port->drain(milliseconds(options.lingerMs), stop);
    if (!stopped) {
        log("done");
    } else if (stop.requested()) {
        log("stopped by a signal");
    } else if (options.noWait && !port->readerPresent()) {
        // Not a normal end: said even when quiet.
        report("stopped: no reader has the terminal open and its buffer is full");
        return 1;
    } else {
        log("stopped: the reader closed the terminal");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{
        "A virtual serial instrument: sends readings in an instrument's line format on a pseudo-terminal.\n"
        "The first line of standard output is the terminal to open. Sending starts once a reader has\n"
        "opened it (unless --no-wait) and pauses while no reader has it open."};
    std::string formatHelp = "Line format:";
    for (const auto& info : formats())
        formatHelp += "\n  " + std::string(info.name) + ": \"" + escaped(std::string(info.example)) +
                      escaped(std::string(info.terminator)) + "\" (preset " + std::string(info.preset) + ")";
    app.add_option("-f,--format", options.format, formatHelp)->capture_default_str();
    app.add_option("--values", options.values, "Values to send in turn, e.g. 12.34,5,-0.5")->delimiter(',');
    app.add_option("--from", options.from, "First value of a range or random walk");
    app.add_option("--to", options.to, "Last value of a range, other bound of a random walk");
    app.add_option("--step", options.step, "Step of the range or walk")->capture_default_str();
    app.add_flag("--random", options.random, "Random walk between --from and --to instead of a ramp");
    app.add_option("--seed", options.seed, "Seed of the random walk");
    app.add_option("--unit", options.unit, "Unit after the value")->capture_default_str();
    app.add_option("-i,--interval-ms", options.intervalMs, "Pause between lines")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("-n,--count", options.count,
                   "Values to send, 0 = until stopped (default: the given values or range once, "
                   "a random walk until stopped)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--terminator", options.terminator,
                   "Line end instead of the format's own: cr, lf, crlf, none or text with \\r \\n \\t \\xHH");
    app.add_option("--repeat", options.repeat, "Send each value this many times")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--garbage-every", options.garbageEvery, "Send a garbage line after every N lines")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--no-terminator-last", options.noTerminatorLast, "Leave the last line without terminator");
    app.add_option("--pause-mid-line", options.pauseMidLineMs,
                   "Pause this many ms in the middle of each line")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--link", options.link, "Also make this symbolic link to the terminal (removed at exit)");
    app.add_flag("--no-wait", options.noWait, "Send at once, whether or not a reader has the terminal open");
    app.add_option("--settle-ms", options.settleMs, "Pause after a reader opened the terminal")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--linger", options.lingerMs,
                   "At the end, wait at most this many ms for the reader to take the last bytes")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--on-request", options.onRequest,
                   "Answer only when asked: send each value when this text arrives from the reader "
                   "(escapes as in --terminator, e.g. 'SI\\r\\n'); --interval-ms is then left out");
    app.add_option("--unplug-after", options.unplugAfter,
                   "After this many lines close the terminal as an unplugged adapter does, and after "
                   "--unplug-ms open a new one under the same --link (its path is printed too)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--unplug-ms", options.unplugMs, "How long the terminal stays unplugged")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_flag("-q,--quiet", options.quiet, "Do not log sent lines to standard error");
    app.set_version_flag("--version", "zorvik-sim " + rszorvik::base::SystemProperties::programVersion(),
                         "Print the version and exit");
    CLI11_PARSE(app, argc, argv);

    try {
        return run(options);
    } catch (const std::invalid_argument& error) {
        report(error.what());
        return 2;
    } catch (const std::exception& error) {
        report(error.what());
        return 1;
    }
}
