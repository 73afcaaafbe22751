#pragma once

#include <QString>

#include "base/BackgroundTask.h"

namespace rszorvik {

// Opens one address in the user's standard browser on a thread of its own, so the window never waits
// for the browser. When the browser cannot be started, an error dialog says so on the GUI thread.
class LinkRunner : public base::BackgroundTask<void> {
  public:
    static constexpr const char* kFailureTitle = "A problem occured";
    static constexpr const char* kFailureText =
        "Sorry, a problem occurred while trying to open this link in your system's standard browser.";

    LinkRunner(base::Executor& executor, QString uri);

    // Starts a runner for `url` and returns at once. GUI thread.
    static void open(const QString& url);
    // Whether this system has a way to open addresses in a browser at all.
    static bool isBrowsingSupported();

  protected:
    void doInBackground() override;
    void done() override;

  private:
    const QString uri;
};

}  // namespace rszorvik
