#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Executor.h"
#include "base/HotKey.h"
#include "base/InterruptibleThread.h"
#include "config/Config.h"
#include "platform/GlobalHotKey.h"
#include "platform/KeyInjector.h"
#include "worker/DataLine.h"
#include "worker/ValueLog.h"
#include "worker/WeightWorkerView.h"

namespace rszorvik::worker {

class Ignorer;
class Keybot;
class SoundBot;
class WeightWorker;

// The front end of an output run: the window, or zorvik-cli run. Besides the worker's reports it shows
// each line and the problems of the start.
class OutputRunView : public WeightWorkerView {
  public:
    // update(line) gets every line after the duplicate filter and the sound, once its value has gone to
    // the keyboard: show it (the event log, the line counter). Executor's thread.

    // A problem of the start, by its key in the program's catalogue, with the failure's message (empty
    // for "please.turn.off.caps.lock"). The window shows the key's text followed by the message as a
    // dialog: "error.initializing.keyboard.output" and "error.opening.port" titled "error",
    // "please.turn.off.caps.lock" as a warning, "error.while.initializing.sound.output" and
    // "invalid.setting" as plain messages. OutputRun::start tells which ones end the start. Executor's
    // thread.
    virtual void startProblem(const std::string& key, const std::string& message) = 0;

    // A lasting note for the status line beside what it shows (the value log cannot be written); the empty
    // text takes it away. The event log gets the full report separately. Executor's thread. Without a
    // status line: nothing.
    virtual void setNotice(const std::string& text) { static_cast<void>(text); }
};

// One output run, shared by every front end: the keyboard output on its own thread, the sound, the
// duplicate filter and the acquisition worker the preset calls for, started and stopped together.
//
// The window uses it like this (all on the GUI thread, with a Qt executor posting to it):
//   start:  run = std::make_unique<OutputRun>(config, *this, executor); run->start();
//           (false: nothing runs, the view was told why; drop the run)
//   lines:  the worker's lines reach the view's update() through the run; nothing to forward.
//   stop:   run->stop(); the worker's end handler then closes the port and calls
//           setConnectedInGUI(false), after which the run may be dropped (in a task posted from there:
//           the call comes from inside the end handler).
//   The worker also ends by itself (port lost, keyboard output lost): the same setConnectedInGUI(false),
//   which the run holds back until the keyboard output has typed what was received (a stop() meanwhile
//   ends that at once), so that the last value keeps its pauses.
// zorvik-cli adds the wait for the typing (awaitTyped) and the report of what was left (endTyping).
class OutputRun {
  public:
    struct Options {
        // false: no keyboard output (and no Caps Lock check); every value goes to `sink` instead.
        bool typeKeys = true;
        // Takes each value when typeKeys is false, on the executor's thread. Returning false means the
        // values cannot go anywhere any more (the reader of standard output left): the run then stops.
        std::function<bool(const std::string& value)> sink;
        // Seams; unset, the platform's injector, Caps Lock state and sound output are used.
        std::function<std::unique_ptr<platform::KeyInjector>()> injector;
        std::function<bool()> capsLockOn;
        std::function<std::unique_ptr<SoundBot>(config::ConfigHelper::Sound)> sound;
        std::function<std::unique_ptr<platform::GlobalHotKey>(const base::HotKey&,
                                                              std::function<void()> onPress)>
            hotKey;
        // Opens the value log's file; unset, the real file.
        ValueLog::Opener valueLogFile;
        // The keyboard output is behind (said once, and again once it has caught up) when this many values
        // wait, or when more than one waits and typing them would take this long with the key delay.
        std::size_t behindValues = 300;
        std::chrono::milliseconds behindTime = std::chrono::seconds(5);
        // At this many waiting values the run stops reading the port, says so, types what it received and
        // ends as failed. Reading on would let the queue grow without limit; pausing the reading would
        // only move the loss into the driver, whose buffer overflows without a word.
        std::size_t maxWaiting = 3000;
        // The port is the virtual instrument of a demo: its closing after the last value is the demo's
        // planned end, logged as such and not as a lost connection (demoEnded()).
        bool demo = false;
        // A line of the worker is shown (the view's update) unless this many lines wait to be shown
        // already: then its value goes on as usual, but the line itself is dropped on the reading thread,
        // and a count of the lines left out comes before the next one shown. An instrument that floods
        // the front end cannot fill the memory with lines nobody can read any more. 0: every line is
        // shown (zorvik-cli prints each).
        std::size_t maxLinesWaitingToShow = 0;
    };

    // Whether the environment asks for a demo (ZORVIK_DEMO=1, set by the scripts that run zorvik on
    // zorvik-sim).
    static bool demoRequested();

    // The view and the executor must outlive the run. The settings are copied.
    OutputRun(const config::Config& config, OutputRunView& view, base::Executor& executor, Options options);
    OutputRun(const config::Config& config, OutputRunView& view, base::Executor& executor);
    // Waits for the keyboard thread. Drop a started run only after its worker's end handler has called
    // setConnectedInGUI(false): until then the worker reports to the run.
    ~OutputRun();
    OutputRun(const OutputRun&) = delete;
    OutputRun& operator=(const OutputRun&) = delete;

    // On the executor's thread: the value log when one is set ("error.opening.value.log": nothing
    // runs), keyboard output ("error.initializing.keyboard.output": the start goes on without it), the
    // Caps Lock warning ("please.turn.off.caps.lock", or "caps.lock.on.letters.kept" when the output
    // overrides Caps Lock), the sound ("error.while.initializing.sound.output": goes on silently), the
    // duplicate filter, the worker (which opens the port), the keyboard thread, the log lines of the
    // start, and the worker started in the background. False when the value log or the worker could not
    // be created ("error.opening.port", "invalid.setting"): then nothing runs.
    bool start();
    // The key of the problem that ended the start; empty after a start that went through.
    const std::string& startFailure() const { return failedStartKey; }

    // One received line, on the executor's thread: the duplicate filter, the value to the keyboard
    // output, the sound when the line has a value, the view's update(), then the backlog check or the
    // value to the sink. The worker's lines take the same steps, but the filter and the keyboard's
    // hand-over already on its reading thread, so that a value never waits for the executor's thread.
    void update(const DataLine& line);

    // Stops as the window's stop button does: cancels the worker (its end handler closes the port and
    // calls setConnectedInGUI(false) on the executor), interrupts the keyboard output, which ends the
    // value it is typing without pauses, and closes the sound. The values not typed yet are left for
    // endTyping. Executor's thread.
    void stop();
    // Ends the reading only; the keyboard output goes on typing what it has. Executor's thread.
    void stopReading();

    // Asks the instrument for a reading now (the window's button, the hot key, a signal to zorvik-cli): the
    // worker sends the request command, and the answer comes as any line does. Logged either way: false
    // when there is no command or the port is not being read. Executor's thread.
    bool request();

    // Waits until the keyboard output has typed every value it received (true), or until the deadline,
    // or until it can type no more (false). Blocks: not from a task of the executor. Interruptible. True
    // at once without keyboard output.
    bool awaitTyped(std::chrono::steady_clock::time_point deadline);
    // Whether the keyboard output still types (or waits for values); false without one. Any thread.
    bool typing() const;
    // Lets the keyboard output finish the value it is typing without pauses and end. Any thread.
    void interruptTyping();
    // Ends the keyboard output (as interruptTyping) and waits for it, then takes the values it did not
    // type out of the queue, reports them to the view as not typed and returns them. Blocks: not from a
    // task of the executor. The run's end does it too: no value is carried into another run.
    std::vector<std::string> endTyping();
    // For a front end that ends at once (its display went away): stops, waits up to `patience` for the
    // reading thread to leave the port, then ends the typing as endTyping does and answers the values
    // not typed. The worker's end handler may never run after this; end the process rather than go on.
    // Executor's thread.
    std::vector<std::string> endNow(std::chrono::milliseconds patience);

    // "Received values that were not typed:" with the values, each quoted and made printable.
    static std::string notTypedText(const std::vector<std::string>& values);

    // Whether the run stopped because values could not be put out (the display or the sink was lost, or
    // the keyboard output fell options.maxWaiting values behind).
    bool outputFailed() const { return outputLostFlag; }
    // Whether the run ended because the demo's virtual instrument closed its port. Executor's thread.
    bool demoEnded() const { return demoOver; }

  private:
    class WorkerView;

    // What happened to a line's value before it is shown.
    struct HandOver {
        bool passed = false;      // not a duplicate, and the run was not stopped
        std::size_t waiting = 0;  // values the keyboard output had to type, this one included
        bool shown = true;        // false: too many lines waited to be shown (maxLinesWaitingToShow)
    };
    // The duplicate filter and the hand-over to the keyboard output, which may type the value at once on
    // the calling thread when nothing else waits (last: no other line waits behind it). Any one thread
    // at a time.
    HandOver handOverValue(DataLine& line, bool last);
    // The rest of update(): sound, display, then the backlog check or the sink. Executor's thread.
    void show(const DataLine& line, HandOver handed);

    void outputLost();
    // After a value went to the keyboard: the warning when it falls behind, the end when the bound is hit.
    // waiting: the values queued when it was handed over.
    void checkBacklog(std::size_t valueBytes, std::size_t waiting);
    // The worker's end handler is through: disconnected now, or once the typing is done.
    void workerEnded();
    // The value log's part. A record waits in `records` until its outcome is known and those of the
    // lines before it are written, so the file keeps the order in which the lines came.
    struct PendingRecord {
        ValueRecord record;
        bool done = false;
        bool keys = false;  // the keyboard output tells its outcome
        bool sink = false;  // show() tells it
    };
    void openValueLog();
    void logLine(const DataLine& line, std::string value, bool duplicate);
    // The next record waiting for the keyboard gets its outcome.
    void typedDone(bool typed, const std::string& note);
    // Every record still waiting gets this outcome (the run ends).
    void finishRecords(const std::string& reason);
    void writeDoneRecords();  // with recordsMutex held
    void closeValueLog();
    // The worker's port went away: the demo's end when this is a demo (said in the log), else false.
    bool portEnded(const std::string& port);
    // Logs how many lines were left out since the last one shown, if any.
    void reportUnshown();
    // The log lines about the request command, its timer and hot key; takes the hot key.
    void startRequests();

    config::Config config;
    OutputRunView& view;
    base::Executor& executor;
    Options options;
    std::unique_ptr<WorkerView> workerView;
    std::unique_ptr<Keybot> keyBot;
    std::unique_ptr<SoundBot> soundBot;
    std::unique_ptr<Ignorer> ignorer;
    std::shared_ptr<WeightWorker> worker;
    std::unique_ptr<platform::GlobalHotKey> hotKey;  // while the worker reads
    base::InterruptibleThread keybotThread;
    std::thread finisher;  // holds back the disconnection until the typing is done
    std::shared_ptr<int> alive = std::make_shared<int>(0);  // tasks posted by the keyboard thread check it
    std::atomic<bool> handOver{true};                       // false after stop()
    // The worker's lines handed over on its reading thread and not yet shown, oldest first.
    std::mutex handedMutex;
    std::deque<HandOver> handed;
    bool stopRequested = false;
    bool behind = false;  // the falling-behind warning was given and the queue has not emptied since
    bool queueFull = false;
    bool demoOver = false;
    std::size_t unshown = 0;  // lines left out since the last one shown; executor's thread
    std::atomic<bool> outputLostFlag{false};
    std::string failedStartKey;

    std::unique_ptr<ValueLog> valueLog;
    std::mutex recordsMutex;
    std::deque<PendingRecord> records;  // guarded by recordsMutex
    std::size_t foreignValues = 0;      // queued by an earlier run, typed first; guarded by recordsMutex
    std::string keyboardLost;           // why the keyboard output ended; guarded by recordsMutex
    bool valueLogFailing = false;       // the failure was shown and not yet the recovery; executor's thread
};

}  // namespace rszorvik::worker
