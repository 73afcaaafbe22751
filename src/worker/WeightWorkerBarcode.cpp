#include "worker/WeightWorkerBarcode.h"

namespace rszorvik::worker {

std::int32_t WeightWorkerBarcode::doInBackground() {
    return readLoop(WorkerStage::Kind::TEXT, "Parity Error", "Framing Error");
}

}  // namespace rszorvik::worker
