#include "util/UpdateWorker.h"

#include <utility>

#include "base/MessageCatalog.h"

namespace rszorvik::util {

UpdateWorker::UpdateWorker(base::Executor& executor, UpdateWorkerView& view, UpdateRequest request,
                           Texts texts)
    : BackgroundTask(executor),
      statusView(view),
      updateRequest(std::move(request)),
      statusTexts(texts ? std::move(texts) : Texts(&catalogueText)) {}

std::string UpdateWorker::catalogueText(std::string_view key) {
    return base::MessageCatalog::get(kCatalogue).getString(key);
}

std::optional<ReadRemoteUpdate> UpdateWorker::doInBackground() {
    publish(text("checking.for.update"));
    try {
        return ReadRemoteUpdate(updateRequest);
    } catch (const UpdateIOError&) {
        publish(text("update.check.failed"));
        return std::nullopt;
    }
}

void UpdateWorker::process(const std::vector<std::string>& items) {
    for (const std::string& item : items)
        statusView.setText(item);
}

void UpdateWorker::done() {
    try {
        const std::optional<ReadRemoteUpdate> update = get();
        if (!update) return;  // the failure text stays
        statusView.setText(text(update->newerVersionAvailable() ? "update.available"
                                                                : "RevareRiDevFrame2.statusJLabel.text"));
    } catch (const base::CancellationError&) {
        // stopped on purpose: the last text stays
    } catch (const base::InterruptedError&) {
    } catch (const base::ExecutionError&) {
        // Any other failure of the check is still a failed check, not "checking" for ever.
        statusView.setText(text("update.check.failed"));
    }
}

}  // namespace rszorvik::util
