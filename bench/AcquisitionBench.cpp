// The acquisition worker on a real pseudo-terminal with the native serial module:
//  - latency from the terminator byte written into the terminal to the value's first key event (an
//    injector that records the time of each press), median and 99th percentile over 10 000 lines;
//  - the sustained line rate, with a check that no line was lost;
//  - the processor time a running worker uses per second while no data arrives;
//  - the first two again through an output run (OutputRun, as zorvik-cli run and the window use it, key
//    delay 0), which brings the values to the keyboard output itself: latency, and the sustained rate
//    with every value typed; each without and with the value log (a file in the temporary folder, every
//    line's record checked at the end).
// Run from the build folder: bench/AcquisitionBench (the native module is taken from bin/).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/InterruptibleThread.h"
#include "base/SystemProperties.h"
#include "config/Config.h"
#include "platform/KeyInjector.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"
#include "support/TempDir.h"
#include "worker/DataLine.h"
#include "worker/Keybot.h"
#include "worker/OutputRun.h"
#include "worker/WeightWorker.h"
#include "worker/WeightWorkerView.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using rszorvik::config::Config;
using rszorvik::worker::DataLine;
using rszorvik::worker::Keybot;
using rszorvik::worker::WeightWorker;

void useNativeModule() {
    static const bool loaded = [] {
        rszorvik::base::SystemProperties::set("ZSP_OSNAME", "Windows");
        rszorvik::base::SystemProperties::set("ZSP_OSARCH", "x86");
        // The port layer looks for the module once, beside the executable; from then on the one loaded
        // here serves.
        if (Zivaraze::SerialPortLocal::isLibraryLoaded()) return true;
        const auto beside = std::filesystem::read_symlink("/proc/self/exe").parent_path();
        for (const auto& dir : {beside, beside.parent_path() / "bin"}) {
            if (Zivaraze::NativeLibrary::loadFile((dir / "libzspWin.so").string()).empty()) return true;
        }
        return false;
    }();
    if (!loaded) throw std::runtime_error("libzspWin.so not found beside the benchmark or in ../bin");
}

// A pseudo-terminal: the worker opens the slave as its serial port, the benchmark writes the master.
class Terminal {
  public:
    Terminal() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slave = ::ptsname(master);
    }
    ~Terminal() { ::close(master); }
    void write(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n < 0) throw std::runtime_error("write to the terminal failed");
            done += static_cast<std::size_t>(n);
        }
    }
    int master;
    std::string slave;
};

// Counts key presses and remembers when the latest one happened.
class TimingInjector : public rszorvik::platform::KeyInjector {
  public:
    void keyPress(int) override {
        std::lock_guard lock(mutex);
        if (presses++ == awaitedPress) firstPressAt = Clock::now();
        changed.notify_all();
    }
    void keyRelease(int) override {}
    void delay(int) override {}
    bool lastKeyWasDead() const override { return false; }

    // Arms the recorder for the press with that index (0-based since construction).
    void expectPress(long index) {
        std::lock_guard lock(mutex);
        awaitedPress = index;
    }
    Clock::time_point awaitPress(long index) {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, 5s, [&] { return presses > index; }))
            throw std::runtime_error("no key press for a line");
        return firstPressAt;
    }

  private:
    std::mutex mutex;
    std::condition_variable changed;
    long presses = 0;
    long awaitedPress = -1;
    Clock::time_point firstPressAt;
};

// The window's part of a run (of a worker, or of an output run): counts the lines shown, in order, and
// the end; a worker's values also go to `keybot` when there is one.
class BenchView : public rszorvik::worker::OutputRunView {
  public:
    void logEvent(const std::string&) override {}
    void logImportantEvent(const std::string& text) override {
        std::lock_guard lock(mutex);
        important.push_back(text);
    }
    void setConnectedInGUI(bool connected) override { this->connected = connected; }
    void update(const DataLine& line) override {
        if (line.getCount() != lines + 1) outOfOrder = true;
        lines = line.getCount();
        if (keybot != nullptr) keybot->add(line.getProcessedData());
    }
    void startProblem(const std::string& key, const std::string& message) override {
        logImportantEvent(key + message);
    }

    Keybot* keybot = nullptr;
    std::atomic<int> lines{0};
    std::atomic<bool> connected{false};
    std::atomic<bool> outOfOrder{false};
    std::mutex mutex;
    std::vector<std::string> important;
};

// A worker reading the terminal with the executor running on a thread of its own.
class Run {
  public:
    explicit Run(BenchView& view) : view(view) {
        useNativeModule();
        config = Config(
            rszorvik::config::ConfigHelper::Instrument(Config::Instrument::GENERIC).getDefaultConfig());
        config.setPort(terminal.slave);
        worker = WeightWorker::forPreset(config, view, executor);
        worker->execute();
        loop = std::thread([this] { executor.run(); });
    }
    ~Run() {
        worker->cancel(true);
        while (view.connected)
            std::this_thread::sleep_for(1ms);
        executor.quit();
        loop.join();
    }

    Terminal terminal;
    BenchView& view;
    Config config;
    rszorvik::base::EventQueueExecutor executor;
    std::shared_ptr<WeightWorker> worker;
    std::thread loop;
};

// Writes lineCount five-digit values into the terminal, each terminator on its own, and counts the time
// from the terminator to the value's first key press.
void measureTerminatorToFirstKey(benchmark::State& state, const Terminal& terminal, TimingInjector& injector,
                                 int lineCount) {
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(lineCount));
    long presses = 0;
    for (int i = 0; i < lineCount; ++i) {
        // Five digits: five presses per value.
        terminal.write(std::to_string(10000 + i % 90000));
        std::this_thread::sleep_for(200us);  // the digits are read before the terminator is sent
        injector.expectPress(presses);
        const auto written = Clock::now();
        terminal.write("\r");
        const auto pressed = injector.awaitPress(presses);
        presses += 5;
        injector.awaitPress(presses - 1);
        micros.push_back(std::chrono::duration<double, std::micro>(pressed - written).count());
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    state.counters["max_us"] = micros.back();
}

void BM_TerminatorToFirstKey(benchmark::State& state) {
    for (auto _ : state) {
        auto recorder = std::make_unique<TimingInjector>();
        TimingInjector* injector = recorder.get();
        Keybot keybot(0, 0, 0, 0, 0, Keybot::KeyboardType::QUERTY, Keybot::KeyMapType::NUMERIC, nullptr,
                      std::move(recorder));
        rszorvik::base::InterruptibleThread typing([&] { keybot.run(); });
        BenchView view;
        view.keybot = &keybot;
        Run run(view);
        measureTerminatorToFirstKey(state, run.terminal, *injector, static_cast<int>(state.range(0)));
        typing.interrupt();
    }
}
BENCHMARK(BM_TerminatorToFirstKey)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SustainedLineRate(benchmark::State& state) {
    const int lineCount = static_cast<int>(state.range(0));
    std::string block;
    for (int i = 0; i < lineCount; ++i)
        block += std::to_string(100 + i % 900) + ".25\r";
    for (auto _ : state) {
        BenchView view;
        Run run(view);
        const auto start = Clock::now();
        std::thread writer([&] { run.terminal.write(block); });
        while (view.lines < lineCount && Clock::now() - start < 120s)
            std::this_thread::sleep_for(100us);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        writer.join();
        std::lock_guard lock(view.mutex);
        if (view.lines != lineCount || view.outOfOrder || !view.important.empty()) {
            state.SkipWithError("lines were lost or failed");
            break;
        }
        state.SetIterationTime(seconds);
        state.counters["lines_per_s"] = lineCount / seconds;
        state.counters["bytes_per_s"] = static_cast<double>(block.size()) / seconds;
    }
}
BENCHMARK(BM_SustainedLineRate)->Arg(100000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// An output run typing into `injector` (owned by the run), with the executor on a thread of its own; with
// `valueLog`, recording every line in a file of its own.
class OutputRunOnTerminal {
  public:
    OutputRunOnTerminal(BenchView& view, std::unique_ptr<TimingInjector> injector, bool valueLog)
        : view(view) {
        useNativeModule();
        Keybot::queue().clear();
        config = Config(
            rszorvik::config::ConfigHelper::Instrument(Config::Instrument::GENERIC).getDefaultConfig());
        config.setPort(terminal.slave);
        config.setDelay("0");
        config.setOutputTerminator(Config::OutputTerminator::NONE);
        if (valueLog) config.setValueLog((logDir.path() / "values.csv").string());
        rszorvik::worker::OutputRun::Options options;
        options.capsLockOn = [] { return false; };
        // The rate is measured, not the backlog's warnings and bound.
        options.behindValues = options.maxWaiting = 10'000'000;
        options.behindTime = std::chrono::hours(1);
        auto shared = std::make_shared<std::unique_ptr<TimingInjector>>(std::move(injector));
        options.injector = [shared] { return std::move(*shared); };
        run = std::make_unique<rszorvik::worker::OutputRun>(config, view, executor, options);
        if (!run->start()) throw std::runtime_error("the output run did not start");
        loop = std::thread([this] { executor.run(); });
    }
    ~OutputRunOnTerminal() { end(); }
    // Stops the run and waits until its value log, if any, is closed.
    void end() {
        if (!run) return;
        executor.post([this] { run->stop(); });
        while (view.connected)
            std::this_thread::sleep_for(1ms);
        executor.quit();
        loop.join();
        run.reset();
        Keybot::queue().clear();
    }
    // Records in the value log after the header, once the run has ended.
    long loggedRecords() const {
        const std::string text = rszorvik::test::readFile(logDir.path() / "values.csv");
        long count = 0;
        for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2)
            ++count;
        return count - 1;
    }

    rszorvik::test::TempDir logDir{"zorvik-bench"};
    Terminal terminal;
    BenchView& view;
    Config config;
    rszorvik::base::EventQueueExecutor executor;
    std::unique_ptr<rszorvik::worker::OutputRun> run;
    std::thread loop;
};

void BM_OutputRunTerminatorToFirstKey(benchmark::State& state) {
    for (auto _ : state) {
        auto recorder = std::make_unique<TimingInjector>();
        TimingInjector* injector = recorder.get();
        BenchView view;
        OutputRunOnTerminal run(view, std::move(recorder), state.range(1) != 0);
        measureTerminatorToFirstKey(state, run.terminal, *injector, static_cast<int>(state.range(0)));
    }
}
BENCHMARK(BM_OutputRunTerminatorToFirstKey)
    ->ArgNames({"lines", "valueLog"})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_OutputRunSustainedLineRate(benchmark::State& state) {
    const int lineCount = static_cast<int>(state.range(0));
    std::string block;
    for (int i = 0; i < lineCount; ++i)
        block += std::to_string(100 + i % 900) + ".25\r";
    constexpr long kPressesPerValue = 6;
    for (auto _ : state) {
        auto recorder = std::make_unique<TimingInjector>();
        TimingInjector* injector = recorder.get();
        BenchView view;
        const bool valueLog = state.range(1) != 0;
        OutputRunOnTerminal run(view, std::move(recorder), valueLog);
        const auto start = Clock::now();
        std::thread writer([&] { run.terminal.write(block); });
        bool typed = true;
        try {
            injector->awaitPress(kPressesPerValue * lineCount - 1);
        } catch (const std::runtime_error&) {
            typed = false;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        writer.join();
        while (view.lines < lineCount && Clock::now() - start < 120s)
            std::this_thread::sleep_for(100us);
        run.end();
        std::lock_guard lock(view.mutex);
        if (!typed || view.lines != lineCount || view.outOfOrder || !view.important.empty()) {
            state.SkipWithError("values were lost or failed");
            break;
        }
        if (valueLog && run.loggedRecords() != lineCount) {
            state.SkipWithError("the value log lacks records");
            break;
        }
        state.SetIterationTime(seconds);
        state.counters["lines_per_s"] = lineCount / seconds;
    }
}
BENCHMARK(BM_OutputRunSustainedLineRate)
    ->ArgNames({"lines", "valueLog"})
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

double processorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_IdleProcessorTime(benchmark::State& state) {
    for (auto _ : state) {
        BenchView view;
        Run run(view);
        std::this_thread::sleep_for(200ms);  // past the start
        const double cpuBefore = processorSeconds();
        const auto before = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
        const double wall = std::chrono::duration<double>(Clock::now() - before).count();
        state.counters["cpu_ms_per_s"] = (processorSeconds() - cpuBefore) * 1000.0 / wall;
    }
}
BENCHMARK(BM_IdleProcessorTime)->Arg(5)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
