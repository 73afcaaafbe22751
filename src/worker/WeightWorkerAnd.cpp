#include "worker/WeightWorkerAnd.h"

#include <chrono>
#include <thread>

#include "serial/SerialConfig.h"
#include "worker/WeightWorkerView.h"

namespace rszorvik::worker {

namespace {

// Time the scale gets to answer a changed control line.
constexpr auto kLineSettle = std::chrono::milliseconds(50);

}  // namespace

WeightWorkerAnd::WeightWorkerAnd(const config::Config& config, WeightWorkerView& view,
                                 base::Executor& executor)
    : WeightWorker(config, view, executor) {
    undoOpeningOnFailure([this] { testDevice(); });
}

void WeightWorkerAnd::testDevice() {
    if (sp->getHandshake() == Zivaraze::SerialConfig::HS_CTSRTS) return;
    sp->setDTR(true);
    std::this_thread::sleep_for(kLineSettle);
    const bool dataSetReady = sp->sigDSR();
    sp->setRTS(true);
    std::this_thread::sleep_for(kLineSettle);
    const bool clearToSend = sp->sigCTS();
    if (dataSetReady) {
        if (!clearToSend) view.warn(text("and.error.unusual"));
    } else {
        view.warn(text(clearToSend ? "and.error.dataset.not.ready" : "and.error.not.connected"));
    }
}

}  // namespace rszorvik::worker
