#include "worker/OutputRun.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "base/MessageCatalog.h"
#include "base/MessageFormat.h"
#include "platform/CapsLock.h"
#include "serial/IOError.h"
#include "worker/Ignorer.h"
#include "worker/Keybot.h"
#include "worker/PortPermission.h"
#include "worker/SoundBot.h"
#include "worker/WeightWorker.h"

namespace rszorvik::worker {

namespace {

std::string programText(std::string_view key) {
    return base::MessageCatalog::get(base::catalogues::kProgram).getString(key);
}

}  // namespace

// What the worker sees of the run: its lines go through the run, its reports straight to the front end.
class OutputRun::WorkerView final : public WeightWorkerView {
  public:
    explicit WorkerView(OutputRun& run) : run(run) {}

    void logEvent(const std::string& text) override { run.view.logEvent(text); }
    void logImportantEvent(const std::string& text) override { run.view.logImportantEvent(text); }
    void setConnectedInGUI(bool connected) override {
        if (connected) {
            run.view.setConnectedInGUI(true);
        } else {
            run.workerEnded();
        }
    }
    void received(DataLine& line, bool last) override {
        HandOver handOver = run.handOverValue(line, last);
        std::lock_guard lock(run.handedMutex);
        const std::size_t limit = run.options.maxLinesWaitingToShow;
        if (limit > 0 && run.handed.size() >= limit) {
            handOver.shown = false;
            // Only what the output needs goes on to the executor: the text of a long line would wait there.
            line = DataLine(std::string(), line.getProcessedData(), line.getCount(), line.getInstant(),
                            line.isError());
        }
        run.handed.push_back(handOver);
    }
    void update(const DataLine& line) override {
        std::optional<HandOver> handOver;
        {
            std::lock_guard lock(run.handedMutex);
            if (!run.handed.empty()) {
                handOver = run.handed.front();
                run.handed.pop_front();
            }
        }
        // Every line of the worker passed received() first; one that did not takes the whole way here.
        if (handOver) {
            run.show(line, *handOver);
        } else {
            run.update(line);
        }
    }
    void warn(const std::string& text) override { run.view.warn(text); }
    bool portEnded(const std::string& port) override { return run.portEnded(port); }
    void waitingForInstrument(bool waiting, const std::string& port) override {
        run.view.waitingForInstrument(waiting, port);
    }

  private:
    OutputRun& run;
};

OutputRun::OutputRun(const config::Config& settings, OutputRunView& frontEnd, base::Executor& runExecutor,
                     Options runOptions)
    : config(config::Config::copyConfig(settings)),
      view(frontEnd),
      executor(runExecutor),
      options(std::move(runOptions)),
      workerView(std::make_unique<WorkerView>(*this)) {}

OutputRun::OutputRun(const config::Config& settings, OutputRunView& frontEnd, base::Executor& runExecutor)
    : OutputRun(settings, frontEnd, runExecutor, Options{}) {}

OutputRun::~OutputRun() {
    hotKey.reset();
    if (worker) worker->cancel(true);
    keybotThread.interrupt();
    if (finisher.joinable()) finisher.join();
    if (keybotThread.joinable()) keybotThread.join();
    if (soundBot) soundBot->close();
    // Values left in the queue are named here rather than typed by some later run.
    if (keyBot) endTyping();
    closeValueLog();
}

bool OutputRun::start() {
    using Instrument = config::ConfigHelper::Instrument;
    const Instrument preset = config.getInstrument().value_or(Instrument::getDefault());
    // Before anything is read: a run whose records cannot be kept does not start.
    if (!config.getValueLog().empty()) {
        try {
            openValueLog();
        } catch (const ValueLogError& e) {
            failedStartKey = "error.opening.value.log";
            view.startProblem(failedStartKey, e.what());
            return false;
        }
    }
    if (options.typeKeys) {
        try {
            keyBot = std::make_unique<Keybot>(
                config.getDelayAsInt(), config.getStartWith().getKeyCode(),
                config.getOutputTerminator().getKeyCode(), config.getOutputTerminator2().getKeyCode(),
                config.getEveryXValuesAsInt(), config.getKeyboardType(), preset.getKeyMapType(), &view,
                options.injector ? options.injector() : nullptr);
            keyBot->setOverrideCapsLock(config.getOverrideCapsLock());
            if (valueLog) {
                foreignValues = Keybot::queue().unfinished();
                keyBot->onValueDone([this](bool typed, const std::string& note) { typedDone(typed, note); });
            }
        } catch (const std::exception& e) {
            view.startProblem("error.initializing.keyboard.output", e.what());
        }
        try {
            // Kept either way: what the operator types by hand still comes out in capitals.
            if (options.capsLockOn ? options.capsLockOn() : platform::CapsLock::isOn())
                view.startProblem(
                    config.getOverrideCapsLock() ? "caps.lock.on.letters.kept" : "please.turn.off.caps.lock",
                    "");
        } catch (const std::exception&) {
            // The lock state is only worth a warning; not knowing it changes nothing.
        }
    }
    if (config.getSound() != config::ConfigHelper::Sound::NONE) {
        try {
            soundBot = options.sound ? options.sound(config.getSound())
                                     : std::make_unique<SoundBot>(config.getSound());
        } catch (const std::exception& e) {
            view.startProblem("error.while.initializing.sound.output", e.what());
        }
    }
    if (config.ignoreDuplicates)
        ignorer =
            std::make_unique<Ignorer>(config, [this](const std::string& message) { view.logEvent(message); });

    const auto abandon = [this](const std::string& key, const std::string& message) {
        keyBot.reset();
        if (soundBot) soundBot->close();
        soundBot.reset();
        ignorer.reset();
        valueLog.reset();
        failedStartKey = key;
        view.startProblem(key, message);
        return false;
    };
    try {
        worker = WeightWorker::forPreset(config, *workerView, executor);
    } catch (const Zivaraze::PortPermissionError& e) {
        return abandon("error.opening.port",
                       std::string(e.what()) + "\n" + permissionAdvice(config.getPort()));
    } catch (const Zivaraze::IOError& e) {
        return abandon("error.opening.port", e.what());
    } catch (const std::invalid_argument& e) {
        return abandon("invalid.setting", e.what());
    } catch (const std::exception& e) {
        // Whatever else the port refused at opening.
        return abandon("error.opening.port", e.what());
    }

    view.logEvent(programText("RevareRiDevFrame2.deviceLabel.text") + " " + preset.toPlainString());
    if (!config.getCustomRegEx().empty()) view.logEvent("Custom regEx: " + config.getCustomRegEx());
    if (valueLog)
        view.logEvent(base::formatMessage(WeightWorker::text("value.log.started"), {valueLog->pathText()}));
    if (keyBot) {
        keyBot->onOutputLost([this, token = std::weak_ptr<int>(alive)](const std::string&) {
            executor.post([this, token] {
                if (token.lock()) outputLost();
            });
        });
        keyBot->onCaughtUp([this, token = std::weak_ptr<int>(alive)] {
            executor.post([this, token] {
                if (!token.lock() || !behind || Keybot::queue().unfinished() != 0) return;
                behind = false;
                view.logImportantEvent(WeightWorker::text("typing.caught.up"));
            });
        });
        keybotThread.start([bot = keyBot.get()] { bot->run(); });
        view.logEvent(programText("keyboard.output.started.type") + " " + config.getKeyboardType().label());
    }
    // Settings that leave the math step without effect are kept as they are, but said once.
    if (const auto why = config.mathInactiveReason(); !why.empty()) view.logImportantEvent(why);
    startRequests();
    worker->execute();
    return true;
}

void OutputRun::startRequests() {
    const std::string& command = worker->requestCommand();
    const int interval = config.getRequestIntervalAsInt();
    const std::string keyText = config.getRequestHotKey();
    if (command.empty()) {
        // A timer or hot key without a command to send would do nothing without a word.
        if (interval > 0 || !keyText.empty()) view.logImportantEvent(WeightWorker::text("request.none"));
        return;
    }
    const std::string shown = config::ConfigHelper::RequestCommand::toText(command);
    if (interval > 0)
        view.logEvent(
            base::formatMessage(WeightWorker::text("request.timer"), {std::to_string(interval), shown}));
    const auto key = base::HotKey::tryParse(keyText);
    if (!key) return;
    const std::string keyName = key->toString();
    const auto onPress = [this, token = std::weak_ptr<int>(alive)] {
        executor.post([this, token] {
            if (token.lock()) request();
        });
    };
    try {
        hotKey =
            options.hotKey ? options.hotKey(*key, onPress) : platform::GlobalHotKey::create(*key, onPress);
    } catch (const platform::HotKeyUnavailable& e) {
        using Reason = platform::HotKeyUnavailable::Reason;
        switch (e.reason) {
            case Reason::Taken:
                view.logImportantEvent(base::formatMessage(WeightWorker::text("hotkey.taken"), {keyName}));
                break;
            case Reason::NoSuchKey:
                view.logImportantEvent(
                    base::formatMessage(WeightWorker::text("hotkey.no.such.key"), {keyName}));
                break;
            case Reason::Unsupported:
                view.logImportantEvent(
                    base::formatMessage(WeightWorker::text("hotkey.unsupported"), {keyName}));
                break;
            case Reason::NoDesktop:
                view.logImportantEvent(
                    base::formatMessage(WeightWorker::text("hotkey.no.desktop"), {keyName, e.what()}));
                break;
        }
        return;
    }
    view.logEvent(base::formatMessage(WeightWorker::text("request.hotkey"), {keyName, shown}));
    if (hotKey->reach() == platform::GlobalHotKey::Reach::X11WindowsOnly)
        view.logImportantEvent(base::formatMessage(WeightWorker::text("hotkey.x11.only"), {keyName}));
}

bool OutputRun::request() {
    if (!worker) return false;
    switch (worker->requestReading()) {
        case WeightWorker::RequestOutcome::Queued:
            view.logEvent(base::formatMessage(
                WeightWorker::text("request.sent"),
                {config::ConfigHelper::RequestCommand::toText(worker->requestCommand())}));
            return true;
        case WeightWorker::RequestOutcome::NoCommand:
            view.logImportantEvent(WeightWorker::text("request.none"));
            return false;
        case WeightWorker::RequestOutcome::NotReading:
            view.logImportantEvent(WeightWorker::text("request.not.reading"));
            return false;
    }
    return false;
}

void OutputRun::update(const DataLine& received) {
    DataLine line = received.copy();
    const HandOver handOver = handOverValue(line, false);
    show(line, handOver);
}

OutputRun::HandOver OutputRun::handOverValue(DataLine& line, bool last) {
    // The value as it came, before the duplicate filter may delete it.
    std::string value = valueLog ? line.getProcessedData() : std::string();
    if (ignorer) ignorer->process(line);
    HandOver result;
    result.passed = handOver && line.hasValue();
    // Recorded before the keyboard gets the value, which it may type on this thread at once.
    if (valueLog) {
        const bool duplicate = !value.empty() && !line.hasValue();
        logLine(line, std::move(value), duplicate);
    }
    // The keyboard gets the value before the line is shown, so showing it never delays the typing. When
    // the keyboard thread is idle and no line waits, typing here spares waking it; only it types while
    // lines come faster, so that the reading never waits for the keys.
    if (result.passed && options.typeKeys && keyBot) {
        if (last && keyBot->typeIfIdle(line.getProcessedData())) {
            result.waiting = 1;
        } else {
            keyBot->add(line.getProcessedData());
            result.waiting = Keybot::queue().unfinished();
        }
    }
    return result;
}

void OutputRun::show(const DataLine& line, HandOver handed) {
    // A stop since the hand-over: the value is neither sounded nor given to the sink any more.
    const bool passed = handed.passed && handOver;
    if (passed && soundBot) soundBot->beep();
    if (handed.shown) {
        reportUnshown();
        view.update(line);
    } else {
        ++unshown;
    }
    if (passed && options.typeKeys && keyBot) checkBacklog(line.getProcessedData().size(), handed.waiting);
    if (!handed.passed || options.typeKeys) return;
    bool printed = false;
    if (passed && !outputLostFlag && options.sink) {
        printed = options.sink(line.getProcessedData());
        if (!printed) outputLost();
    }
    if (!valueLog) return;
    std::lock_guard lock(recordsMutex);
    for (PendingRecord& pending : records) {
        if (!pending.sink || pending.done) continue;
        pending.done = true;
        pending.record.outcome = printed ? ValueOutcome::PRINTED : ValueOutcome::NOT_TYPED;
        if (!printed)
            pending.record.reason =
                WeightWorker::text(passed ? "value.log.output.lost" : "value.log.stopped");
        break;
    }
    writeDoneRecords();
}

void OutputRun::stop() {
    hotKey.reset();
    stopRequested = true;
    handOver = false;
    stopReading();
    keybotThread.interrupt();
    if (soundBot) soundBot->close();
}

void OutputRun::stopReading() {
    if (worker) worker->cancel(true);
}

bool OutputRun::demoRequested() {
    const char* value = std::getenv("ZORVIK_DEMO");
    return value != nullptr && std::string_view(value) == "1";
}

bool OutputRun::portEnded(const std::string& port) {
    if (!options.demo) return false;
    demoOver = true;
    view.logEvent(base::formatMessage(WeightWorker::text("demo.ended"), {port}));
    return true;
}

void OutputRun::reportUnshown() {
    if (unshown == 0) return;
    view.logImportantEvent(
        base::formatMessage(WeightWorker::text("lines.not.shown"), {std::to_string(unshown)}));
    unshown = 0;
}

void OutputRun::workerEnded() {
    hotKey.reset();
    reportUnshown();
    const bool toType = !stopRequested && keyBot && keybotThread.joinable() && !keyBot->hasEnded() &&
                        Keybot::queue().unfinished() > 0;
    if (!toType || finisher.joinable()) {
        view.setConnectedInGUI(false);
        return;
    }
    finisher = std::thread([this, token = std::weak_ptr<int>(alive)] {
        // Ends when everything is typed, or when the keyboard output was stopped or lost.
        keyBot->awaitIdle(std::chrono::steady_clock::time_point::max());
        executor.post([this, token] {
            if (token.lock()) view.setConnectedInGUI(false);
        });
    });
}

void OutputRun::checkBacklog(std::size_t valueBytes, std::size_t waiting) {
    // Every key is pressed and released with the delay; a start key and a terminator come with each value.
    const auto perValue = std::chrono::milliseconds(2 * std::max(config.getDelayAsInt(), 0)) *
                          static_cast<long long>(valueBytes + 2);
    const auto typingTime = perValue * static_cast<long long>(waiting);
    if (!behind && (waiting >= options.behindValues || (waiting > 1 && typingTime >= options.behindTime))) {
        behind = true;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(typingTime).count();
        view.logImportantEvent(base::formatMessage(WeightWorker::text("typing.behind"),
                                                   {std::to_string(waiting), std::to_string(seconds)}));
    }
    if (!queueFull && waiting >= options.maxWaiting) {
        queueFull = true;
        view.logImportantEvent(
            base::formatMessage(WeightWorker::text("typing.queue.full"), {std::to_string(waiting)}));
        outputLost();
    }
}

void OutputRun::outputLost() {
    outputLostFlag = true;
    stopReading();
}

bool OutputRun::awaitTyped(std::chrono::steady_clock::time_point deadline) {
    if (!keyBot || !keybotThread.joinable()) return true;
    return keyBot->awaitIdle(deadline);
}

bool OutputRun::typing() const {
    return keyBot && keybotThread.joinable() && !keyBot->hasEnded();
}

void OutputRun::interruptTyping() {
    keybotThread.interrupt();
}

std::vector<std::string> OutputRun::endTyping() {
    if (!keyBot) return {};
    keybotThread.interrupt();
    if (keybotThread.joinable()) keybotThread.join();
    std::vector<std::string> left = Keybot::queue().drain();
    if (valueLog) {
        std::string lost;
        {
            std::lock_guard lock(recordsMutex);
            lost = keyboardLost;
        }
        finishRecords(lost.empty()
                          ? WeightWorker::text("value.log.stopped")
                          : base::formatMessage(WeightWorker::text("value.log.keyboard.lost"), {lost}));
    }
    if (!left.empty()) view.logImportantEvent(notTypedText(left));
    return left;
}

std::vector<std::string> OutputRun::endNow(std::chrono::milliseconds patience) {
    stop();
    if (worker) worker->awaitEnd(patience);
    return endTyping();
}

std::string OutputRun::notTypedText(const std::vector<std::string>& values) {
    std::string shown;
    for (const std::string& value : values)
        shown += (shown.empty() ? "\"" : ", \"") + DataLine::transformControlChars(value) + "\"";
    return WeightWorker::text("values.not.typed") + " " + shown;
}

void OutputRun::openValueLog() {
    const std::string& setting = config.getValueLog();
    const std::filesystem::path file(std::u8string(setting.begin(), setting.end()));
    ValueLog::Events events;
    const std::weak_ptr<int> token = alive;
    events.failed = [this, token, shown = setting](const std::string& reason) {
        executor.post([this, token, shown, reason] {
            if (!token.lock()) return;
            valueLogFailing = true;
            view.logImportantEvent(
                base::formatMessage(WeightWorker::text("value.log.failed"), {shown, reason}));
            view.setNotice(base::formatMessage(WeightWorker::text("value.log.failed.status"), {reason}));
        });
    };
    events.resumed = [this, token, shown = setting] {
        executor.post([this, token, shown] {
            if (!token.lock() || !valueLogFailing) return;
            valueLogFailing = false;
            view.logImportantEvent(base::formatMessage(WeightWorker::text("value.log.resumed"), {shown}));
            view.setNotice({});
        });
    };
    valueLog = std::make_unique<ValueLog>(file, std::move(events), options.valueLogFile);
}

void OutputRun::logLine(const DataLine& line, std::string value, bool duplicate) {
    using config::ConfigHelper::Instrument;
    PendingRecord pending;
    ValueRecord& record = pending.record;
    record.received = line.getInstant();
    record.utcOffset = std::chrono::floor<std::chrono::seconds>(line.getDateTime().time_since_epoch() -
                                                                line.getInstant().time_since_epoch());
    record.port = config.getPort();
    record.instrument = config.getInstrument().value_or(Instrument::getDefault()).toPlainString();
    record.raw = line.getRawData();
    record.value = std::move(value);
    pending.done = true;
    if (duplicate) {
        record.outcome = ValueOutcome::DUPLICATE;
    } else if (record.value.empty()) {
        record.reason = WeightWorker::text("value.log.no.value");
    } else if (!handOver) {
        record.reason = WeightWorker::text("value.log.stopped");
    } else if (!options.typeKeys) {
        pending.done = false;
        pending.sink = true;
    } else if (keyBot) {
        pending.done = false;
        pending.keys = true;
    } else {
        record.reason = WeightWorker::text("value.log.no.keyboard");
    }
    std::lock_guard lock(recordsMutex);
    records.push_back(std::move(pending));
    writeDoneRecords();
}

void OutputRun::typedDone(bool typed, const std::string& note) {
    std::lock_guard lock(recordsMutex);
    if (foreignValues > 0) {
        --foreignValues;
        return;
    }
    if (!typed) keyboardLost = note;
    for (PendingRecord& pending : records) {
        if (!pending.keys || pending.done) continue;
        pending.done = true;
        pending.record.outcome = typed ? ValueOutcome::TYPED : ValueOutcome::NOT_TYPED;
        pending.record.reason =
            typed ? note : base::formatMessage(WeightWorker::text("value.log.keyboard.lost"), {note});
        break;
    }
    writeDoneRecords();
}

void OutputRun::finishRecords(const std::string& reason) {
    std::lock_guard lock(recordsMutex);
    for (PendingRecord& pending : records) {
        if (pending.done) continue;
        pending.done = true;
        pending.record.outcome = ValueOutcome::NOT_TYPED;
        pending.record.reason = reason;
    }
    writeDoneRecords();
}

void OutputRun::writeDoneRecords() {
    while (!records.empty() && records.front().done) {
        valueLog->add(std::move(records.front().record));
        records.pop_front();
    }
}

void OutputRun::closeValueLog() {
    if (!valueLog) return;
    finishRecords(WeightWorker::text("value.log.stopped"));
    const std::size_t unwritten = valueLog->close();
    const std::string shown = valueLog->pathText();
    // The writer's own reports of the end would come after the run.
    if (unwritten > 0) {
        view.logImportantEvent(base::formatMessage(WeightWorker::text("value.log.unwritten"),
                                                   {std::to_string(unwritten), shown}));
    } else if (valueLogFailing) {
        view.logImportantEvent(base::formatMessage(WeightWorker::text("value.log.resumed"), {shown}));
        view.setNotice({});
    }
    valueLogFailing = false;
    valueLog.reset();
}

}  // namespace rszorvik::worker
