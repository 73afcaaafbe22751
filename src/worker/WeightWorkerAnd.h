#pragma once

#include "worker/WeightWorker.h"

namespace rszorvik::worker {

// The worker of the A&D scales: before reading starts it checks the scale's handshake lines (DTR on: the
// scale answers DSR; RTS on: CTS) and warns when they do not answer as a connected scale does. Reading
// starts whatever the test found; RTS stays on.
class WeightWorkerAnd : public WeightWorker {
  public:
    WeightWorkerAnd(const config::Config& config, WeightWorkerView& view, base::Executor& executor);

    // Skipped when the port uses hardware handshake, which drives RTS itself.
    void testDevice();
};

}  // namespace rszorvik::worker
