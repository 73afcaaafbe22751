#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/BackgroundTask.h"
#include "base/Clock.h"
#include "config/Config.h"
#include "platform/DeviceWatch.h"
#include "serial/SerialPortLocal.h"
#include "worker/DataLine.h"
#include "worker/LineAssembler.h"
#include "worker/WorkerStage.h"

namespace rszorvik::worker {

class WeightWorkerView;

// The port's device went away while it was read; the message names the port.
class PortLostError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Owns the serial port while acquisition runs: opens and configures it at construction, reads it on a thread
// of its own (waiting on the port where the native library can, polling it otherwise), cuts the bytes into
// lines at the input terminator, runs the worker stage on each line and hands the lines to the view: first
// on the reading thread (received), then on the executor's thread (update). The end handler reports how
// the run ended and any bytes that never formed a line, closes the port and tells the view it is
// disconnected.
// With the reconnect setting, a port that goes away does not end the run: the reading thread waits for the
// instrument (by its path, and a USB adapter also by its identity) and reopens it with the same settings.
// The reading thread also sends the request command: when asked (requestReading) and on the timer of the
// request interval.
// Create it with std::make_shared (or forPreset), start it with execute(), stop it with cancel(true).
class WeightWorker : public base::BackgroundTask<std::int32_t, DataLine> {
  public:
    // A line that has not met its terminator after this many bytes is dropped up to its terminator and
    // reported, so that a device sending without terminators cannot make the buffer grow without bound.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    // How long the input may stay quiet before the worker asks the port whether its device is still
    // there: a quiet port and an unplugged adapter both just answer "no byte". A port that reports a
    // hang-up is checked at once; this is for devices that never do.
    static constexpr std::chrono::milliseconds kHealthCheckInterval{300};
    // The most bytes one read takes from the port.
    static constexpr std::size_t kReadBlock = 4096;
    // How often the wait for an unplugged instrument looks for it where the platform cannot announce its
    // return (with announcements it does not look on its own at all).
    static constexpr std::chrono::milliseconds kSlowDeviceCheck{2000};

    // What becomes of a request for a reading.
    enum class RequestOutcome {
        Queued,      // the reading thread sends the command at its next turn
        NoCommand,   // neither the settings nor the preset name a request command
        NotReading,  // the port is gone (waiting for the instrument) or the run has ended
    };

    // Where the wait for an unplugged instrument learns about devices; the platform's unless set before
    // execute().
    struct DeviceAccess {
        std::function<std::unique_ptr<platform::DeviceWatch>(const std::string& port, bool anyDevice)> watch =
            [](const std::string& port, bool anyDevice) {
                return platform::DeviceWatch::create(port, anyDevice);
            };
        std::function<std::optional<platform::UsbIdentity>(const std::string& port)> identify =
            [](const std::string& port) { return platform::DeviceWatch::usbIdentityOf(port); };
        std::function<std::vector<std::string>(const platform::UsbIdentity&)> find =
            [](const platform::UsbIdentity& identity) { return platform::DeviceWatch::portsOf(identity); };
    };

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
    // The clock of the device check and of the pauses while the input of a port that cannot be waited on
    // is quiet (the steady clock unless set); set it before execute().
    void useClock(std::shared_ptr<base::Clock> clock) { pauseClock = std::move(clock); }
    // How long a port that can be waited on may stay quiet before its device is checked; set it before
    // execute().
    void useHealthCheckInterval(std::chrono::milliseconds interval) { waitCheckInterval = interval; }
    void useDeviceAccess(DeviceAccess access) { devices = std::move(access); }

    // Asks the instrument for a reading: the reading thread sends the request command at its next turn.
    // Any thread.
    RequestOutcome requestReading();
    // The bytes a request sends; empty when there is no command.
    const std::string& requestCommand() const { return requestBytes; }

  protected:
    std::int32_t doInBackground() override;
    void process(const std::vector<DataLine>& lines) override;
    void done() override;
    void cancelRequested() override;

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
    struct Reading;
    // Both loops end by returning (cancelled) or by throwing (the device went away).
    void pollPort(Reading& reading);
    void waitOnPort(Reading& reading);
    // Takes one byte into the line; checkErrors: ask the port whether the byte came with an error. False
    // when the worker was cancelled after the line the byte ended.
    bool take(Reading& reading, std::uint8_t c, bool checkErrors);
    [[noreturn]] void reportLost();
    // Logs how many bytes of an overlong line were dropped.
    void reportDropped();
    // flush: discard what waits in the input (at the start; after a reconnection it is the instrument's).
    void setUpLines(Zivaraze::SerialPortLocal& port, bool flush);
    std::shared_ptr<Zivaraze::SerialConfig> serialConfigFor(const std::string& portName) const;
    // The port was lost and the settings ask to wait: closes it and waits until the instrument is back
    // (true, the port open again) or the worker is cancelled (false).
    bool awaitInstrument(const std::string& lostMessage);
    // The port opened again with the same settings, or null (not back yet, or not usable yet: said once per
    // reason).
    std::unique_ptr<Zivaraze::SerialPortLocal> reopen(std::string& lastRefusal);
    // Sends the requests asked for and the one the timer has due. A port whose device is gone is reported
    // as lost.
    void sendRequests();
    // How long the reading thread may wait before the timer has a request due; max() without a timer.
    std::chrono::milliseconds untilTimedRequest() const;
    // False when the port reports that its device failed or went away.
    bool portAlive();

    std::shared_ptr<base::Clock> pauseClock = base::Clock::steady();
    std::chrono::milliseconds waitCheckInterval = kHealthCheckInterval;
    DeviceAccess devices;
    std::optional<platform::UsbIdentity> usbIdentity;  // of the port at the start, for the reconnection
    const std::string requestBytes;
    const std::chrono::milliseconds requestInterval;  // 0: no timer
    std::atomic<int> requestsAsked{0};
    // The port is open (not waiting for the instrument): requests are taken.
    std::atomic<bool> portReading{true};
    base::Clock::TimePoint nextTimedRequest{};
    bool requestFailing = false;  // the last request could not be sent (said once until one goes out)
    std::minstd_rand generator;
    LineAssembler rawData;  // touched by the reading thread only, read by done() after it ended
    // Guards waking the port against closing it; waiting: the reading loop waits on the port;
    // deviceWatch: the wait for an unplugged instrument, for a stop to end it.
    std::mutex portMutex;
    bool waiting = false;
    platform::DeviceWatch* deviceWatch = nullptr;
};

}  // namespace rszorvik::worker
