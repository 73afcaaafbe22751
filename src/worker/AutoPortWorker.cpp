#include "worker/AutoPortWorker.h"

#include <memory>
#include <utility>

#include "base/Interruptible.h"
#include "base/MessageCatalog.h"
#include "base/MessageFormat.h"
#include "serial/IOError.h"
#include "serial/SerialConfig.h"
#include "serial/SerialPortLocal.h"
#include "worker/PortPermission.h"

namespace rszorvik::worker {

using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;

AutoPortWorker::AutoPortWorker(base::Executor& executor, AutoPortWorkerView& view,
                               std::vector<std::string> ports, Pause pause)
    : BackgroundTask(executor),
      progressView(view),
      candidatePorts(std::move(ports)),
      pauseBetween(std::move(pause)) {}

std::string AutoPortWorker::text(const char* key) {
    return base::MessageCatalog::get(base::catalogues::kWorker).getString(key);
}

std::vector<AutoPortWorker::PortReport> AutoPortWorker::reports() const {
    std::lock_guard lock(reportsMutex);
    return portReports;
}

void AutoPortWorker::say(std::string message) {
    {
        std::lock_guard lock(reportsMutex);
        if (!portReports.empty()) portReports.back().messages.push_back(message);
    }
    publish(std::move(message));
}

std::optional<std::string> AutoPortWorker::doInBackground() {
    publish(text("auto.port.detection.started"));
    for (const std::string& name : candidatePorts) {
        // Cancelled without interruption: no point in opening the next port.
        if (isCancelled()) break;
        {
            std::lock_guard lock(reportsMutex);
            portReports.push_back({name, std::nullopt, {}});
        }
        say(base::formatMessage(text("testing.port.0"), {name}));
        int currentPortConfidence = 0;
        try {
            SerialPortLocal::addPortName(name);
            SerialConfig config(name);
            config.setBitRate(SerialConfig::BR_9600);
            config.setDataBits(SerialConfig::LN_8BITS);
            config.setParity(SerialConfig::PY_NONE);
            config.setStopBits(SerialConfig::ST_1BITS);
            config.setHandshake(SerialConfig::HS_NONE);
            // Opens the port; whatever ends the probing of it (cancellation too), the destructor closes it.
            auto sp = std::make_unique<SerialPortLocal>(config);
            currentPortConfidence = probe(*sp, name);
            sp->setDTR(false);
            sp->setRTS(false);
            sp->close();
        } catch (const Zivaraze::IOError& e) {
            // This port is not scored; the others may still be fine.
            say(e.what());
            if (dynamic_cast<const Zivaraze::PortPermissionError*>(&e) != nullptr)
                say(permissionAdvice(name));
            continue;
        }
        {
            std::lock_guard lock(reportsMutex);
            portReports.back().confidence = currentPortConfidence;
        }
        // Strict: an earlier port keeps its place on a tie, and 0 never wins.
        if (currentPortConfidence > bestPortConfidence) {
            bestPortName = name;
            bestPortConfidence = currentPortConfidence;
        }
        say(text("confidence") + " " + std::to_string(currentPortConfidence));
    }
    return bestPortName;
}

// 3: DSR and CTS are on whatever the outputs do (a device that asserts both itself); 2: DSR follows DTR and
// CTS follows RTS (a device that answers the handshake lines); 1: some other sign of life; 0: nothing.
// "COM3" gets no 3: on many PCs it is a built-in modem that holds both lines on by itself.
int AutoPortWorker::probe(SerialPortLocal& sp, const std::string& name) {
    const auto wait = [this] {
        if (pauseBetween)
            pauseBetween();
        else
            base::Interruptible::sleepFor(PAUSE);
    };
    sp.setDTR(false);
    sp.setRTS(false);
    wait();
    if (sp.sigDSR()) {
        sp.setDTR(true);
        sp.setRTS(true);
        wait();
        return sp.sigDSR() && sp.sigCTS() && name != "COM3" ? 3 : 1;
    }
    sp.setDTR(true);
    wait();
    if (sp.sigDSR()) {
        sp.setRTS(true);
        wait();
        return sp.sigDSR() && sp.sigCTS() ? 2 : 1;
    }
    sp.setRTS(true);
    wait();
    return sp.sigCTS() ? 1 : 0;
}

void AutoPortWorker::process(const std::vector<std::string>& items) {
    for (const std::string& item : items)
        progressView.update(item, std::nullopt);
}

void AutoPortWorker::done() {
    progressView.setButtonToClose();
    try {
        if (const std::optional<std::string> best = get()) {
            progressView.setPort(*best);
            progressView.update(text("best.port") + " " + *best, AutoPortWorkerView::Style::EMPHASIS);
        } else {
            progressView.update(text("could.not.auto.detect.port"), AutoPortWorkerView::Style::ALERT);
        }
    } catch (const base::CancellationError&) {
        progressView.update(text("stopped"), std::nullopt);
    } catch (const base::InterruptedError&) {
        progressView.update(text("interrupted"), std::nullopt);
    } catch (const base::ExecutionError& e) {
        progressView.update(text("execution.exception") + e.what(), std::nullopt);
    }
}

}  // namespace rszorvik::worker
