#include "worker/WeightWorker.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <variant>

#include "base/Interruptible.h"
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

}  // namespace

std::string WeightWorker::text(std::string_view key) {
    return base::MessageCatalog::get(base::catalogues::kWorker).getString(key);
}

WeightWorker::WeightWorker(const config::Config& settings, WeightWorkerView& workerView,
                           base::Executor& executor)
    : BackgroundTask(executor),
      view(workerView),
      config(config::Config::copyConfig(settings)),
      generator(std::random_device{}()),
      rawData(settings.getInputTerminator(), kMaxLineBytes) {
    if (config.getPort().empty()) throw std::invalid_argument(text("null.port.error"));

    Zivaraze::SerialPortLocal::addPortName(config.getPort());
    auto serialConfig = std::make_shared<Zivaraze::SerialConfig>(config.getPort());
    serialConfig->setBitRate(config.getBitRate());
    serialConfig->setDataBits(config.getDataBits());
    serialConfig->setParity(config.getParity());
    serialConfig->setStopBits(config.getStopBits());
    serialConfig->setHandshake(config.getHandshake());
    sp = std::make_unique<Zivaraze::SerialPortLocal>(serialConfig);

    view.setConnectedInGUI(true);
    undoOpeningOnFailure([this] { setUpLines(); });
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

void WeightWorker::setUpLines() {
    sp->rxFlush();
    view.logEvent(base::formatMessage(
        text("port.opened"),
        {sp->getPortName(), BitRates::getReadable(sp->getBitRate()), DataBits::getReadable(sp->getDataBits()),
         StopBits::getReadable(sp->getStopBits()), parityText(sp->getParity())}));
    const bool hardware = sp->getHandshake() == Zivaraze::SerialConfig::HS_CTSRTS;
    if (!hardware) sp->setRTS(false);
    sp->setDTR(true);
    view.logEvent(
        base::formatMessage("RTS: %s, DTR: on. DSR: %s, CTS: %s.",
                            {hardware ? "CTS-RTS" : "off", onOff(sp->sigDSR()), onOff(sp->sigCTS())}));
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
    if (sp->canWait()) {
        {
            std::lock_guard lock(portMutex);
            waiting = true;
        }
        waitOnPort(reading);
    } else {
        pollPort(reading);
    }
    return reading.stage.getCount();
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
            int events = 0;
            try {
                events = sp->waitForEvent(static_cast<int>(waitCheckInterval.count()));
            } catch (const Zivaraze::IOError&) {
                if (portAlive()) throw;
                reportLost();
            }
            if ((events & Zivaraze::SerialPortLocal::WAIT_HANGUP) != 0) {
                // Read what the device left before it went. A port that still answers only hiccupped; a
                // short pause keeps a hang-up it goes on reporting from spinning the loop.
                lost = !portAlive();
                if (!lost) pauseClock->sleepFor(std::chrono::milliseconds(4));
            } else if (events == 0 && canCheck) {
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
