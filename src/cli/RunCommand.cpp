// zorvik-cli run: one output run without a window. Reads the port with the worker the preset calls for,
// types each value (or prints it), records each line in the value log when one is set, logs the events
// with their time to standard error and stops on
// SIGINT, SIGTERM or SIGHUP, or by itself when the port fails (the instrument was unplugged).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/Log.h"
#include "base/MessageFormat.h"
#include "base/StopSignals.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/RequestSignal.h"
#include "platform/KeyInjector.h"
#include "serial/Diagnostics.h"
#include "serial/SerialPortLocal.h"
#include "worker/DataLine.h"
#include "worker/OutputRun.h"

namespace rszorvik::cli {
namespace {

// Exit statuses of `run`.
enum Status : int {
    kStopped = 0,     // stopped by SIGINT, SIGTERM or SIGHUP, or a demo's instrument finished (ZORVIK_DEMO=1)
    kRunFailed = 1,   // the settings or the value log could not be opened, or the run ended by itself with
                      // an error
    kUsage = 2,       // a refused --set or --output
    kPortFailed = 3,  // no port, the port could not be opened, a line setting the port refuses, or
                      // --output keys without a usable X display
    // kNoNativeModule (4): the native serial module could not be loaded
};

struct RunOptions {
    std::vector<std::string> sets;
    std::string output = "keys";
    std::string port;
    bool reconnect = false;
    std::string requestEvery;
    std::string valueLog;
};

// The event log on standard error: "HH:MM:SS text", one line per event, from any thread.
class EventLog {
  public:
    void write(const std::string& text) { channel.log(base::LogChannel::Level::INFO, "run", text); }

  private:
    static std::string stamped(const base::LogChannel::Record& record) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char stamp[16];
        std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
        return std::string(stamp) + ' ' + record.message;
    }

    base::LogChannel channel{std::cerr, base::LogChannel::Level::FINE, stamped};
};

// The window's part of a run, without the window: everything goes to the log.
class RunView : public worker::OutputRunView {
  public:
    RunView(EventLog& log, base::EventQueueExecutor& executor) : log(log), executor(executor) {}

    void logEvent(const std::string& text) override { log.write(text); }
    void logImportantEvent(const std::string& text) override { log.write(text); }
    void setConnectedInGUI(bool connected) override {
        // The worker's end has closed the port and what was received is typed: the run is over.
        if (!connected) {
            ended = true;
            executor.quit();
        }
    }
    bool disconnected() const { return ended; }
    void update(const worker::DataLine& line) override { log.write(line.getRawData()); }
    void startProblem(const std::string& key, const std::string& message) override {
        log.write(programText(key) + message);
    }

  private:
    EventLog& log;
    base::EventQueueExecutor& executor;
    bool ended = false;  // executor's thread only
};

// How long the values received before a stop signal may take to be typed; a second signal ends it at once.
constexpr auto kTypingAfterStop = std::chrono::seconds(10);

int run(const GlobalOptions& global, const RunOptions& requested) {
    if (requested.output != "keys" && requested.output != "stdout")
        fail("run", base::formatMessage(cliText("run.output.choice"), {requested.output}), kUsage);
    const bool toStdout = requested.output == "stdout";
    // The options of their own are settings for this run, checked and refused as --set would.
    RunOptions options = requested;
    if (options.reconnect) options.sets.push_back("reconnect=true");
    if (!options.requestEvery.empty()) options.sets.push_back("requestInterval=" + options.requestEvery);
    if (!options.valueLog.empty()) {
        // The setting holds an absolute path; here a name is taken from the current folder as usual.
        const std::u8string file = std::filesystem::absolute(options.valueLog).lexically_normal().u8string();
        options.sets.push_back("valueLog=" + std::string(file.begin(), file.end()));
    }
    // Checked before anything is opened.
    config::Config scratch;
    applySets(scratch, options.sets, "run");

    // Standard output carries the values with --output stdout; the serial library's notes go to the log.
    Zivaraze::setDiagnosticStream(&std::cerr);
    // A reader of standard output that goes away ends the run through its end handler, not by a signal.
    base::ignoreBrokenPipes();

    // The signal mask has to be in place before the serial library, the keyboard output or the sound
    // start threads of their own.
    base::EventQueueExecutor executor;
    EventLog log;
    RunView view(log, executor);
    std::unique_ptr<worker::OutputRun> outputRun;
    std::mutex outputRunMutex;               // the signal watcher reaches the run from its own thread
    std::atomic<std::int64_t> firstStop{0};  // steady-clock nanoseconds of the first stop signal
    // SIGUSR1 asks for a reading, from a script. Blocked first, so that the stop signals' thread has it
    // blocked too.
    RequestSignal requests([&] {
        executor.post([&] {
            if (outputRun) outputRun->request();
        });
    });
    base::StopSignals signals([&](int count) {
        if (count == 1) {
            firstStop = std::chrono::steady_clock::now().time_since_epoch().count();
            // The reading stops; what was received is still typed.
            executor.post([&] {
                if (outputRun) {
                    outputRun->stopReading();
                } else {
                    executor.quit();
                }
            });
        } else {
            std::lock_guard lock(outputRunMutex);
            if (outputRun) outputRun->interruptTyping();
        }
    });

    requireNativeSerialModule("run");

    // Without a display every value would be read and thrown away: refuse before the port is opened. The
    // injector opened here is the one the run types with.
    std::shared_ptr<std::unique_ptr<platform::KeyInjector>> injector;
    if (!toStdout) {
        try {
            injector =
                std::make_shared<std::unique_ptr<platform::KeyInjector>>(platform::KeyInjector::create());
        } catch (const std::exception& e) {
            fail("run", base::formatMessage(cliText("run.no.display"), {e.what()}), kPortFailed);
        }
    }

    prefs::StoredSettings stored;
    try {
        stored = openStoredSettings(global, {});
    } catch (const std::exception& e) {
        fail("run", cliText("run.cannot.open.settings") + e.what(), kRunFailed);
    }
    config::Config& config = stored.config;
    // The stored port is kept even when discovery does not list it (a pseudo-terminal, an adapter that
    // is plugged in later); without one the first port found is used, as the window preselects it.
    std::string port = stored.node->get(std::string(config::Config::Key::port), "");
    if (port.empty()) {
        const auto found = Zivaraze::SerialPortLocal::getPortList();
        if (!found.empty()) port = found.front();
    }
    config.setPort(port);
    applySets(config, options.sets, "run");
    if (!options.port.empty()) config.setPort(options.port);

    worker::OutputRun::Options runOptions;
    runOptions.typeKeys = !toStdout;
    runOptions.demo = worker::OutputRun::demoRequested();
    if (injector) runOptions.injector = [injector] { return std::move(*injector); };
    runOptions.sink = [&log](const std::string& value) {
        std::cout << value << '\n' << std::flush;
        if (std::cout) return true;
        log.write(cliText("run.output.closed"));
        return false;
    };
    {
        std::lock_guard lock(outputRunMutex);
        outputRun = std::make_unique<worker::OutputRun>(config, view, executor, std::move(runOptions));
    }
    if (!outputRun->start())
        throw CLI::RuntimeError(outputRun->startFailure() == "error.opening.value.log" ? kRunFailed
                                                                                       : kPortFailed);
    // The run ends with the worker's end handler; after a stop signal or a lost port it first types what
    // it had received, with its pauses, but within kTypingAfterStop of a stop signal.
    // The loop sleeps until a task comes (the signal watcher posts one), so an idle run does not wake.
    using Clock = std::chrono::steady_clock;
    while (!view.disconnected()) {
        const std::int64_t stopAt = firstStop;
        if (stopAt == 0) {
            executor.runUntil([&] { return view.disconnected() || firstStop != 0; }, std::chrono::hours(1));
            continue;
        }
        const auto deadline = Clock::time_point(Clock::duration(stopAt)) + kTypingAfterStop;
        const auto now = Clock::now();
        if (now >= deadline) {
            outputRun->interruptTyping();
            executor.runFor(std::chrono::milliseconds(100));
        } else {
            executor.runUntil([&] { return view.disconnected(); },
                              std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        }
    }
    outputRun->endTyping();
    const bool failed = outputRun->outputFailed();
    const bool demoEnded = outputRun->demoEnded();
    {
        std::lock_guard lock(outputRunMutex);
        outputRun.reset();
    }
    return (signals.requested() || demoEnded) && !failed ? kStopped : kRunFailed;
}

}  // namespace

void addRunCommand(CLI::App& app, const GlobalOptions& global) {
    auto* command = app.add_subcommand(
        "run",
        "Start output as the window's start button does: read the port with the preset's worker and type "
        "each value into the focused application (or print it), logging events to standard error, until "
        "SIGINT, SIGTERM or SIGHUP, or until the port is lost (instrument unplugged or port closed). "
        "Exit status: 0 stopped by a signal (or the end of a demo with ZORVIK_DEMO=1), 1 settings "
        "unreadable, value log cannot be opened or the run failed (port lost included, unless --reconnect), "
        "2 refused option, 3 no port, the port cannot be opened or no X display for --output keys, 4 native "
        "serial module missing.");
    auto options = std::make_shared<RunOptions>();
    addSetOption(*command, options->sets, "over the stored settings, for this run only");
    command
        ->add_option("--output", options->output,
                     "keys: type the values (default); stdout: print one per line")
        ->type_name("keys|stdout");
    command->add_flag(
        "--reconnect", options->reconnect,
        "When the port goes away, wait for the instrument (by its path, a USB adapter also by "
        "its identity) and go on once it is back; as --set reconnect=true. Ctrl+C ends the wait");
    command
        ->add_option("--request-every", options->requestEvery,
                     "Ask the instrument for a reading every MS milliseconds (50-86400000, 0 off) with the "
                     "request command; as --set requestInterval=MS. SIGUSR1 asks once (kill -USR1 PID)")
        ->type_name("MS");
    command
        ->add_option("--value-log", options->valueLog,
                     "Append one record per received line to this CSV file (time, port, instrument, raw "
                     "line, value, outcome, reason), created with a header line when missing; for this run "
                     "only, as --set valueLog=FILE")
        ->type_name("FILE");
    command->add_option("port", options->port, "Serial port to use instead of the stored one");
    command->callback([&global, options] {
        const int status = run(global, *options);
        if (status != 0) throw CLI::RuntimeError(status);
    });
}

}  // namespace rszorvik::cli
