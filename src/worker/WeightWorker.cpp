#include "worker/WeightWorker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <variant>

#include "base/Interruptible.h"
#include "base/Language.h"
#include "base/MessageCatalog.h"
#include "base/MessageFormat.h"
#include "config/ConfigHelper.h"
#include "serial/IOError.h"
#include "serial/SerialConfig.h"
#include "worker/WeightWorkerAnd.h"
#include "worker/WeightWorkerBarcode.h"
#include "worker/WeightWorkerView.h"

namespace rszorvik::worker {

namespace {

using config::ConfigHelper::BitRates;
using config::ConfigHelper::DataBits;
using config::ConfigHelper::Instrument;
using config::ConfigHelper::InstrumentType;
using config::ConfigHelper::Parity;
using config::ConfigHelper::StopBits;

// The parity as the log names it, in the log's language.
std::string parityText(int parity) {
    const std::string_view name = Parity::name(parity);
    if (name.empty()) return std::to_string(parity);
    return WeightWorker::text("parity.name." + std::string(name));
}

bool portWentAway(const base::ExecutionError& failure) {
    try {
        if (failure.cause()) std::rethrow_exception(failure.cause());
    } catch (const PortLostError&) {
        return true;
    } catch (...) {
    }
    return false;
}

std::string onOff(bool on) {
    return on ? "on" : "off";
}

// Seconds with one decimal, with the decimal mark of the program's language.
std::string secondsText(std::chrono::milliseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(duration.count()) / 1000.0);
    std::string shown = text;
    if (base::processLanguage() == base::Language::German) std::replace(shown.begin(), shown.end(), '.', ',');
    return shown;
}

}  // namespace

std::string WeightWorker::text(std::string_view key) {
    return base::MessageCatalog::get(base::catalogues::kWorker).getString(key);
}

WeightWorker::WeightWorker(const config::Config& settings, WeightWorkerView& workerView,
                           base::Executor& executor)
    : BackgroundTask(executor),
      view(workerView),
      config(config::Config::copyConfig(settings)),
      requestBytes(config.getRequestBytes()),
      requestInterval(requestBytes.empty() ? 0 : config.getRequestIntervalAsInt()),
      generator(std::random_device{}()),
      rawData(settings.getInputTerminator(), kMaxLineBytes) {
    if (config.getPort().empty()) throw std::invalid_argument(text("null.port.error"));

    Zivaraze::SerialPortLocal::addPortName(config.getPort());
    sp = std::make_unique<Zivaraze::SerialPortLocal>(serialConfigFor(config.getPort()));

    view.setConnectedInGUI(true);
    undoOpeningOnFailure([this] { setUpLines(*sp, true); });
}

std::shared_ptr<Zivaraze::SerialConfig> WeightWorker::serialConfigFor(const std::string& portName) const {
    auto serialConfig = std::make_shared<Zivaraze::SerialConfig>(portName);
    serialConfig->setBitRate(config.getBitRate());
    serialConfig->setDataBits(config.getDataBits());
    serialConfig->setParity(config.getParity());
    serialConfig->setStopBits(config.getStopBits());
    serialConfig->setHandshake(config.getHandshake());
    return serialConfig;
}

void WeightWorker::undoOpeningOnFailure(const std::function<void()>& step) {
    // The view shows a connected port: a failure must undo that, not leave the port open.
    try {
        step();
    } catch (...) {
        closePort();
        view.setConnectedInGUI(false);
        throw;
    }
}

WeightWorker::~WeightWorker() = default;

void WeightWorker::setUpLines(Zivaraze::SerialPortLocal& port, bool flush) {
    if (flush) port.rxFlush();
    view.logEvent(base::formatMessage(
        text("port.opened"), {port.getPortName(), BitRates::getReadable(port.getBitRate()),
                              DataBits::getReadable(port.getDataBits()),
                              StopBits::getReadable(port.getStopBits()), parityText(port.getParity())}));
    const bool hardware = port.getHandshake() == Zivaraze::SerialConfig::HS_CTSRTS;
    if (!hardware) port.setRTS(false);
    port.setDTR(true);
    view.logEvent(
        base::formatMessage("RTS: %s, DTR: on. DSR: %s, CTS: %s.",
                            {hardware ? "CTS-RTS" : "off", onOff(port.sigDSR()), onOff(port.sigCTS())}));
}

std::shared_ptr<WeightWorker> WeightWorker::forPreset(const config::Config& config, WeightWorkerView& view,
                                                      base::Executor& executor) {
    const Instrument preset = config.getInstrument().value_or(Instrument::getDefault());
    if (preset.getInstrumentType() == InstrumentType::TEXT)
        return std::make_shared<WeightWorkerBarcode>(config, view, executor);
    if (preset == Instrument::AND || preset == Instrument::AND_EM)
        return std::make_shared<WeightWorkerAnd>(config, view, executor);
    return std::make_shared<WeightWorker>(config, view, executor);
}

std::int32_t WeightWorker::doInBackground() {
    return readLoop(WorkerStage::Kind::NUMBER, text("parity.error"), text("framing.error"));
}

// What the reading loops share while one runs.
struct WeightWorker::Reading {
    WorkerStage stage;
    const std::string& parityText;
    const std::string& framingText;
    bool lastLine = false;  // a line ending now is the last one read so far
};

std::int32_t WeightWorker::readLoop(WorkerStage::Kind kind, const std::string& parityText,
                                    const std::string& framingText) {
    // An expression that does not compile (or an operand that is no number) ends the run here.
    Reading reading{WorkerStage(config, kind), parityText, framingText};
    // Read while the adapter is there: once it is gone, so is what the system knows about it.
    if (config.getReconnect()) usbIdentity = devices.identify(config.getPort());
    nextTimedRequest = pauseClock->now() + requestInterval;
    for (;;) {
        try {
            reading.lastLine = false;
            {
                std::lock_guard lock(portMutex);
                waiting = sp->canWait();
            }
            portReading = true;
            if (waiting) {
                waitOnPort(reading);
            } else {
                pollPort(reading);
            }
            return reading.stage.getCount();
        } catch (const PortLostError& lost) {
            portReading = false;
            if (!config.getReconnect()) throw;
            if (!awaitInstrument(lost.what())) return reading.stage.getCount();
        }
    }
}

bool WeightWorker::take(Reading& reading, std::uint8_t c, bool checkErrors) {
    bool flagged = false;
    if (checkErrors && sp->sigParityErr()) {
        flagged = true;
        view.logImportantEvent(reading.parityText);
    }
    if (checkErrors && sp->sigFrameErr()) {
        flagged = true;
        view.logImportantEvent(reading.framingText);
    }
    const bool wasDropping = rawData.isDropping();
    auto line = rawData.add(c, flagged);
    if (!line) {
        // Said when the drop starts, so that a device that never sends its terminator is not silent, and
        // again with the total once the line has ended.
        if (!wasDropping && rawData.isDropping())
            view.logImportantEvent(
                base::formatMessage(text("line.too.long"), {std::to_string(kMaxLineBytes)}) + " " +
                DataLine::transformControlChars(DataLine::textFromBytes(rawData.dropped().start)));
        else if (wasDropping && !rawData.isDropping())
            reportDropped();
        return true;
    }
    // The line has left the buffer whether or not it can be processed, so a failed line never stays in
    // front of the next one.
    auto outcome = reading.stage.process(
        std::move(*line),
        std::chrono::time_point_cast<DataLine::Instant::duration>(std::chrono::system_clock::now()));
    if (auto* published = std::get_if<DataLine>(&outcome)) {
        view.received(*published, reading.lastLine);
        publish(std::move(*published));
    } else {
        view.logImportantEvent(std::get<LineFailure>(outcome).message);
    }
    // A stream without gaps must not keep a stopped worker reading.
    return !isCancelled();
}

void WeightWorker::reportDropped() {
    view.logImportantEvent(
        base::formatMessage(text("line.dropped"), {std::to_string(rawData.dropped().count)}));
}

void WeightWorker::reportLost() {
    throw PortLostError(base::formatMessage(text("port.lost"), {sp->getPortName()}));
}

WeightWorker::RequestOutcome WeightWorker::requestReading() {
    if (requestBytes.empty()) return RequestOutcome::NoCommand;
    if (!portReading || isDone()) return RequestOutcome::NotReading;
    ++requestsAsked;
    std::lock_guard lock(portMutex);
    if (waiting && sp && sp->isOpen()) {
        try {
            sp->wakeWaiting();
        } catch (const Zivaraze::IOError&) {
            // The device has gone; the loop finds that out by itself.
        }
    }
    return RequestOutcome::Queued;
}

std::chrono::milliseconds WeightWorker::untilTimedRequest() const {
    if (requestInterval.count() == 0) return std::chrono::milliseconds::max();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextTimedRequest - pauseClock->now());
    return std::max(left, std::chrono::milliseconds(0));
}

void WeightWorker::sendRequests() {
    int due = requestsAsked.exchange(0);
    if (requestInterval.count() > 0) {
        const auto now = pauseClock->now();
        if (now >= nextTimedRequest) {
            ++due;
            // A thread held up for longer than an interval sends one request, not a burst of them, and
            // starts the beat anew.
            nextTimedRequest += requestInterval;
            if (nextTimedRequest <= now) nextTimedRequest = now + requestInterval;
        }
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(requestBytes.data()),
                                              requestBytes.size());
    for (; due > 0; --due) {
        try {
            sp->putData(bytes);
            requestFailing = false;
        } catch (const Zivaraze::IOError& e) {
            if (!portAlive()) reportLost();
            if (!requestFailing)
                view.logImportantEvent(base::formatMessage(text("request.failed"), {e.what()}));
            requestFailing = true;
            return;
        }
    }
}

bool WeightWorker::awaitInstrument(const std::string& lostMessage) {
    view.logImportantEvent(text("execution.exception") + lostMessage);
    // Whatever the instrument sends after its return starts a line of its own.
    if (rawData.hasUnsent())
        view.logImportantEvent(text("unsent.data") + " " +
                               DataLine::transformControlChars(rawData.unsentText()));
    if (rawData.isDropping()) reportDropped();
    rawData.clear();
    requestsAsked = 0;
    closePort();
    const auto lostAt = pauseClock->now();
    const std::unique_ptr<platform::DeviceWatch> watch =
        devices.watch(config.getPort(), usbIdentity.has_value());
    {
        std::lock_guard lock(portMutex);
        waiting = false;
        deviceWatch = watch.get();
    }
    struct Forget {
        WeightWorker& worker;
        ~Forget() {
            std::lock_guard lock(worker.portMutex);
            worker.deviceWatch = nullptr;
        }
    } forget{*this};

    if (usbIdentity) {
        const std::string adapter =
            base::formatMessage(text(usbIdentity->serial.empty() ? "usb.adapter.at" : "usb.adapter.serial"),
                                {usbIdentity->vendorId, usbIdentity->productId,
                                 usbIdentity->serial.empty() ? usbIdentity->location : usbIdentity->serial});
        view.logImportantEvent(
            base::formatMessage(text("reconnect.waiting.usb"), {config.getPort(), adapter}));
    } else {
        view.logImportantEvent(base::formatMessage(text("reconnect.waiting"), {config.getPort()}));
    }
    if (!watch->notifies())
        view.logEvent(base::formatMessage(
            text("reconnect.slow.check"),
            {std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kSlowDeviceCheck).count())}));
    view.waitingForInstrument(true, config.getPort());

    std::string lastRefusal;
    for (;;) {
        if (isCancelled()) return false;
        if (auto port = reopen(lastRefusal)) {
            {
                std::lock_guard lock(portMutex);
                sp = std::move(port);
            }
            const auto gap =
                std::chrono::duration_cast<std::chrono::milliseconds>(pauseClock->now() - lostAt);
            view.logImportantEvent(
                base::formatMessage(text("reconnect.back"), {sp->getPortName(), secondsText(gap)}));
            view.waitingForInstrument(false, sp->getPortName());
            nextTimedRequest = pauseClock->now() + requestInterval;
            return true;
        }
        watch->wait(watch->notifies() ? std::chrono::milliseconds(-1) : kSlowDeviceCheck);
    }
}

std::unique_ptr<Zivaraze::SerialPortLocal> WeightWorker::reopen(std::string& lastRefusal) {
    std::string path = config.getPort();
    if (usbIdentity) {
        // The configured path may now belong to another adapter; the identity says which one is ours.
        const auto here = devices.identify(path);
        if (!here || !here->matches(*usbIdentity)) {
            const std::vector<std::string> found = devices.find(*usbIdentity);
            if (found.empty()) return nullptr;
            path = found.front();
        }
    }
    std::unique_ptr<Zivaraze::SerialPortLocal> port;
    try {
        Zivaraze::SerialPortLocal::addPortName(path);
        port = std::make_unique<Zivaraze::SerialPortLocal>(serialConfigFor(path));
        setUpLines(*port, false);
        return port;
    } catch (const std::exception& e) {
        if (port) {
            try {
                port->close();
            } catch (const std::exception&) {
                // Gone again; the handle is released either way.
            }
        }
        // A port that is not there yet is what the wait is for; one that is there but refuses is said.
        std::error_code error;
        if (!std::filesystem::exists(path, error) || e.what() == lastRefusal) return nullptr;
        lastRefusal = e.what();
        view.logImportantEvent(base::formatMessage(text("reconnect.refused"), {path, e.what()}));
        return nullptr;
    }
}

// For a library that cannot wait on the port: byte by byte, with a short pause whenever nothing waits.
void WeightWorker::pollPort(Reading& reading) {
    std::uniform_int_distribution<int> idlePause(0, 4);
    // Where the platform cannot tell, a lost device stays unnoticed as before.
    const bool canCheck = sp->isSupported("rxReadyCount");
    auto lastCheck = pauseClock->now();
    bool lost = false;
    try {
        while (!isCancelled()) {
            for (int c = sp->getByte(); c != -1; c = sp->getByte())
                if (!take(reading, static_cast<std::uint8_t>(c), true)) return;
            if (lost) reportLost();
            sendRequests();
            if (canCheck) {
                const auto now = pauseClock->now();
                if (now - lastCheck >= kHealthCheckInterval) {
                    lastCheck = now;
                    // Bytes the port took in just before its device went are read before the run ends.
                    lost = !portAlive();
                    if (lost) continue;
                }
            }
            pauseClock->sleepFor(std::chrono::milliseconds(idlePause(generator)));
        }
    } catch (const base::InterruptedError&) {
        // Cancelled with interruption while pausing.
    }
}

// Reads what waits in blocks and sleeps in the port's wait, which a stop (cancelRequested) ends at once.
void WeightWorker::waitOnPort(Reading& reading) {
    std::vector<std::uint8_t> block(kReadBlock);
    const bool canCheck = sp->isSupported("rxReadyCount");
    bool lost = false;
    try {
        while (!isCancelled()) {
            int got = 0;
            try {
                got = sp->getData(block);
            } catch (const Zivaraze::IOError&) {
                // The device failed; every byte it delivered before has been read.
                reportLost();
            }
            if (got > 0) {
                const auto end = block.begin() + got;
                const auto lastEnd = std::find(std::make_reverse_iterator(end), block.rend(),
                                               static_cast<std::uint8_t>(rawData.getTerminator()));
                const int lastLine = static_cast<int>(block.rend() - lastEnd) - 1;  // -1: none
                // A block ends at a byte with an error, so the port's error signals belong to its last byte.
                for (int i = 0; i < got; ++i) {
                    reading.lastLine = i == lastLine;
                    if (!take(reading, block[static_cast<std::size_t>(i)], i == got - 1)) return;
                }
                continue;
            }
            if (lost) reportLost();
            sendRequests();
            // The device check comes after a quiet interval; a timed request may end the wait earlier.
            const auto timeout = std::min(waitCheckInterval, untilTimedRequest());
            const auto checkAt = pauseClock->now() + waitCheckInterval;
            int events = 0;
            try {
                events = sp->waitForEvent(static_cast<int>(timeout.count()));
            } catch (const Zivaraze::IOError&) {
                if (portAlive()) throw;
                reportLost();
            }
            if ((events & Zivaraze::SerialPortLocal::WAIT_HANGUP) != 0) {
                // Read what the device left before it went. A port that still answers only hiccupped; a
                // short pause keeps a hang-up it goes on reporting from spinning the loop.
                lost = !portAlive();
                if (!lost) pauseClock->sleepFor(std::chrono::milliseconds(4));
            } else if (events == 0 && canCheck && pauseClock->now() >= checkAt) {
                lost = !portAlive();
            }
        }
    } catch (const base::InterruptedError&) {
        // Cancelled with interruption while pausing.
    }
}

bool WeightWorker::portAlive() {
    // Asking how many bytes wait consumes none; it fails once the device has gone.
    try {
        return sp->rxReadyCount() >= 0;
    } catch (const Zivaraze::IOError&) {
        return false;
    }
}

void WeightWorker::process(const std::vector<DataLine>& lines) {
    for (const DataLine& line : lines)
        view.update(line);
}

void WeightWorker::done() {
    try {
        get();
    } catch (const base::CancellationError&) {
        view.logEvent(text("stopped"));
    } catch (const base::ExecutionError& e) {
        if (!(portWentAway(e) && view.portEnded(sp->getPortName())))
            view.logImportantEvent(text("execution.exception") + e.what());
    } catch (const base::InterruptedError&) {
        view.logEvent(text("interrupted"));
    }
    if (rawData.hasUnsent())
        view.logImportantEvent(text("unsent.data") + " " +
                               DataLine::transformControlChars(rawData.unsentText()));
    if (rawData.isDropping()) reportDropped();
    closePort();
    view.setConnectedInGUI(false);
}

void WeightWorker::cancelRequested() {
    std::lock_guard lock(portMutex);
    if (deviceWatch) deviceWatch->wake();
    if (!waiting || !sp || !sp->isOpen()) return;
    try {
        sp->wakeWaiting();
    } catch (const Zivaraze::IOError&) {
        // The device has gone; the loop finds that out by itself.
    }
}

void WeightWorker::closePort() noexcept {
    std::lock_guard lock(portMutex);
    try {
        if (sp) sp->close();
    } catch (const std::exception&) {
        // Closing a port whose device is gone fails; the handle is released either way.
    }
}

}  // namespace rszorvik::worker
