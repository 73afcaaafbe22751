#pragma once

#include "worker/WeightWorker.h"

namespace rszorvik::worker {

// The worker of the text presets: the value is capture group 1 as extracted, without whitespace removal
// or number formatting.
class WeightWorkerBarcode : public WeightWorker {
  public:
    using WeightWorker::WeightWorker;

  protected:
    std::int32_t doInBackground() override;
};

}  // namespace rszorvik::worker
