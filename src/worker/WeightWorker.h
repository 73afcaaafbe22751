#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/BackgroundTask.h"
#include "base/Clock.h"
#include "config/Config.h"
#include "serial/SerialPortLocal.h"
#include "worker/DataLine.h"
#include "worker/LineAssembler.h"
#include "worker/WorkerStage.h"

namespace rszorvik::worker {

class WeightWorkerView;

// Owns the serial port while acquisition runs: opens and configures it at construction, reads it byte by
// byte on a thread of its own, cuts the bytes into lines at the input terminator, runs the worker stage on
// each line and hands the lines to the view on the executor's thread. The end handler reports how the run
// ended and any bytes that never formed a line, closes the port and tells the view it is disconnected.
// Create it with std::make_shared (or forPreset), start it with execute(), stop it with cancel(true).
class WeightWorker : public base::BackgroundTask<std::int32_t, DataLine> {
  public:
    // A line that has not met its terminator after this many bytes is discarded and reported, so that a
    // device sending without terminators cannot make the buffer grow without bound.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    // How long the input may stay quiet before the worker asks the port whether its device is still
    // there: a quiet port and an unplugged adapter both just answer "no byte".
    static constexpr std::chrono::milliseconds kHealthCheckInterval{300};

    // Opens the port of config (Zivaraze::IOError when it cannot be opened or configured, std::invalid_
    // argument with the text of "null.port.error" when no port is set, or for line settings the library
    // refuses), switches the view to connected, flushes the input, sets RTS and DTR and logs the port's
    // settings and modem lines. The view and the executor must outlive the worker's run.
    WeightWorker(const config::Config& config, WeightWorkerView& view, base::Executor& executor);
    ~WeightWorker() override;

    // The worker the preset calls for: the text worker for TEXT presets, the A&D worker (whose
    // construction tests the handshake lines) for the two A&D presets, the number worker otherwise.
    static std::shared_ptr<WeightWorker> forPreset(const config::Config& config, WeightWorkerView& view,
                                                   base::Executor& executor);

    // The catalogue text of a worker message key.
    static std::string text(std::string_view key);

    Zivaraze::SerialPortLocal& port() { return *sp; }
    // The clock of the device check and of the pauses while the input is quiet (the steady clock unless
    // set); set it before execute().
    void useClock(std::shared_ptr<base::Clock> clock) { this->clock = std::move(clock); }

  protected:
    std::int32_t doInBackground() override;
    void process(const std::vector<DataLine>& lines) override;
    void done() override;

    // The reading loop shared by the number and the text worker; returns the number of lines read.
    std::int32_t readLoop(WorkerStage::Kind kind, const std::string& parityText,
                          const std::string& framingText);

    // Closes the port; a port whose device is gone still releases its handle.
    void closePort() noexcept;
    // Runs a step of the construction after the port was opened; when it fails, the port is closed and
    // the view switched back to disconnected before the failure goes on.
    void undoOpeningOnFailure(const std::function<void()>& step);

    WeightWorkerView& view;
    config::Config config;
    std::unique_ptr<Zivaraze::SerialPortLocal> sp;

  private:
    void setUpLines();
    // False when the port reports that its device failed or went away.
    bool portAlive();

    std::shared_ptr<base::Clock> clock = base::Clock::steady();
    std::minstd_rand generator;
    LineAssembler rawData;  // touched by the reading thread only, read by done() after it ended
};

}  // namespace rszorvik::worker
