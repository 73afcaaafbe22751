#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/BackgroundTask.h"
#include "util/ReadRemoteUpdate.h"
#include "util/UpdateWorkerView.h"

namespace rszorvik::util {

// Runs one update check in the background and shows its course in the view: "checking", then the
// "update available" text, the window's normal status text, or the "check failed" text. Runs once.
class UpdateWorker : public base::BackgroundTask<std::optional<ReadRemoteUpdate>, std::string> {
  public:
    static constexpr const char* kCatalogue = "rszorvik.zorvik";
    // The status texts by catalogue key; the window may pass its own language's look-up.
    using Texts = std::function<std::string(std::string_view key)>;

    // The view must outlive the task's done(). Without texts, the catalogue's are used.
    UpdateWorker(base::Executor& executor, UpdateWorkerView& view, UpdateRequest request, Texts texts = {});

    static std::string catalogueText(std::string_view key);

  protected:
    std::optional<ReadRemoteUpdate> doInBackground() override;
    void process(const std::vector<std::string>& items) override;
    void done() override;

  private:
    std::string text(std::string_view key) const { return statusTexts(key); }

    UpdateWorkerView& statusView;
    const UpdateRequest updateRequest;
    const Texts statusTexts;
};

}  // namespace rszorvik::util
