// zorvik-cli run: one output run without a window. Reads the port with the worker the preset calls for,
// types each value (or prints it), logs the events with their time to standard error and stops on
// SIGINT, SIGTERM or SIGHUP, or by itself when the port fails (the instrument was unplugged).
#include <chrono>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/InterruptibleThread.h"
#include "base/Log.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/StopSignals.h"
#include "platform/CapsLock.h"
#include "serial/Diagnostics.h"
#include "serial/IOError.h"
#include "serial/SerialPortLocal.h"
#include "worker/DataLine.h"
#include "worker/Ignorer.h"
#include "worker/Keybot.h"
#include "worker/SoundBot.h"
#include "worker/WeightWorker.h"
#include "worker/WeightWorkerView.h"

namespace rszorvik::cli {
namespace {

// Exit statuses of `run`.
enum Status : int {
    kStopped = 0,     // stopped by SIGINT, SIGTERM or SIGHUP
    kRunFailed = 1,   // the settings could not be opened, or the run ended by itself with an error
    kUsage = 2,       // a refused --set or --output
    kPortFailed = 3,  // no port, the port could not be opened, or a line setting the port refuses
    // kNoNativeModule (4): the native serial module could not be loaded
};

struct RunOptions {
    std::vector<std::string> sets;
    std::string output = "keys";
    std::string port;
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

// What the window does for a run, without the window: the output stage of every line and the log.
class RunView : public worker::WeightWorkerView {
  public:
    RunView(EventLog& log, base::EventQueueExecutor& executor, bool toStdout)
        : log(log), executor(executor), toStdout(toStdout) {}

    void logEvent(const std::string& text) override { log.write(text); }
    void logImportantEvent(const std::string& text) override { log.write(text); }
    void setConnectedInGUI(bool connected) override {
        // The worker's end has closed the port: the run is over.
        if (!connected) executor.quit();
    }
    void update(const worker::DataLine& received) override {
        worker::DataLine line = received.copy();
        if (ignorer) ignorer->process(line);
        if (soundBot && line.hasValue()) soundBot->beep();
        log.write(line.getRawData());
        if (!line.hasValue()) return;
        if (toStdout) {
            std::cout << line.getProcessedData() << '\n' << std::flush;
        } else if (keyBot) {
            keyBot->add(line.getProcessedData());
        }
    }

    std::unique_ptr<worker::Keybot> keyBot;
    std::unique_ptr<worker::SoundBot> soundBot;
    std::unique_ptr<worker::Ignorer> ignorer;

  private:
    EventLog& log;
    base::EventQueueExecutor& executor;
    bool toStdout;
};

int run(const GlobalOptions& global, const RunOptions& options) {
    if (options.output != "keys" && options.output != "stdout")
        fail("run", "--output is keys or stdout, not \"" + options.output + "\"", kUsage);
    const bool toStdout = options.output == "stdout";
    // Checked before anything is opened.
    config::Config scratch;
    applySets(scratch, options.sets, "run");

    // Standard output carries the values with --output stdout; the serial library's notes go to the log.
    Zivaraze::setDiagnosticStream(&std::cerr);

    // The signal mask has to be in place before the serial library, the keyboard output or the sound
    // start threads of their own.
    base::EventQueueExecutor executor;
    EventLog log;
    RunView view(log, executor, toStdout);
    std::shared_ptr<worker::WeightWorker> weightWorker;
    base::InterruptibleThread keybotThread;
    StopSignals signals([&] {
        executor.post([&] {
            // Stop as the window does: the worker's end closes the port and ends the loop.
            if (weightWorker) weightWorker->cancel(true);
            keybotThread.interrupt();
            if (view.soundBot) view.soundBot->close();
            if (!weightWorker) executor.quit();
        });
    });

    requireNativeSerialModule("run");

    prefs::StoredSettings stored;
    try {
        stored = openStoredSettings(global, {});
    } catch (const std::exception& e) {
        fail("run", std::string("cannot open the settings: ") + e.what(), kRunFailed);
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

    const auto preset = config.getInstrument().value_or(config::Config::Instrument::getDefault());
    if (!toStdout) {
        try {
            view.keyBot = std::make_unique<worker::Keybot>(
                config.getDelayAsInt(), config.getStartWith().getKeyCode(),
                config.getOutputTerminator().getKeyCode(), config.getOutputTerminator2().getKeyCode(),
                config.getEveryXValuesAsInt(), config.getKeyboardType(), preset.getKeyMapType(), &view);
        } catch (const std::exception& e) {
            log.write(programText("error.initializing.keyboard.output") + e.what());
        }
        try {
            if (platform::CapsLock::isOn()) log.write(programText("please.turn.off.caps.lock"));
        } catch (const std::exception&) {
            // The lock state is only worth a warning; not knowing it changes nothing.
        }
    }
    if (config.getSound() != config::Config::Sound::NONE) {
        try {
            view.soundBot = std::make_unique<worker::SoundBot>(config.getSound());
        } catch (const std::exception& e) {
            log.write(programText("error.while.initializing.sound.output") + e.what());
        }
    }
    if (config.ignoreDuplicates)
        view.ignorer = std::make_unique<worker::Ignorer>(
            config, [&log](const std::string& message) { log.write(message); });

    try {
        weightWorker = worker::WeightWorker::forPreset(config, view, executor);
    } catch (const Zivaraze::IOError& e) {
        log.write(programText("error.opening.port") + e.what());
        throw CLI::RuntimeError(kPortFailed);
    } catch (const std::invalid_argument& e) {
        log.write(programText("invalid.setting") + e.what());
        throw CLI::RuntimeError(kPortFailed);
    }

    log.write(programText("RevareRiDevFrame2.deviceLabel.text") + " " + preset.toPlainString());
    if (!config.getCustomRegEx().empty()) log.write("Custom regEx: " + config.getCustomRegEx());
    if (view.keyBot) {
        keybotThread.start([bot = view.keyBot.get()] { bot->run(); });
        log.write(programText("keyboard.output.started.type") + " " + config.getKeyboardType().label());
    }
    weightWorker->execute();

    executor.run();
    // A run that ended by itself (the instrument went away) still types what it received; a stop
    // signal meanwhile cuts that short.
    if (!signals.requested() && keybotThread.joinable()) {
        while (worker::Keybot::queue().size() > 0 && signals.pause(std::chrono::milliseconds(10))) {
        }
    }
    keybotThread.interrupt();
    if (keybotThread.joinable()) keybotThread.join();
    if (view.soundBot) view.soundBot->close();
    return signals.requested() ? kStopped : kRunFailed;
}

}  // namespace

void addRunCommand(CLI::App& app, const GlobalOptions& global) {
    auto* command = app.add_subcommand(
        "run",
        "Start output as the window's start button does: read the port with the preset's worker and type "
        "each value into the focused application (or print it), logging events to standard error, until "
        "SIGINT, SIGTERM or SIGHUP, or until the port is lost (instrument unplugged or port closed). "
        "Exit status: 0 stopped by a signal, 1 settings unreadable or the run failed (port lost included), "
        "2 refused option, 3 no port or the port cannot be opened, 4 native serial module missing.");
    auto options = std::make_shared<RunOptions>();
    command
        ->add_option("--set", options->sets,
                     "KEY=VALUE applied over the stored settings for this run only (as for `settings`). "
                     "Repeatable")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false);
    command
        ->add_option("--output", options->output,
                     "keys: type the values (default); stdout: print one per line")
        ->type_name("keys|stdout");
    command->add_option("port", options->port, "Serial port to use instead of the stored one");
    command->callback([&global, options] {
        const int status = run(global, *options);
        if (status != 0) throw CLI::RuntimeError(status);
    });
}

}  // namespace rszorvik::cli
