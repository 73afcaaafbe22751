#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/MessageFormat.h"
#include "base/StopSignals.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "serial/Diagnostics.h"
#include "serial/SerialPortLocal.h"
#include "worker/AutoPortWorker.h"

namespace rszorvik::cli {
namespace {

using Json = nlohmann::ordered_json;
using worker::AutoPortWorker;
using worker::AutoPortWorkerView;

struct DetectOptions {
    bool json = false;
    std::vector<std::string> ports;  // empty: the ports the serial library lists
};

// Stands in for the dialog: prints the messages as they come (unless the output is JSON) and keeps the end.
class ConsoleView : public AutoPortWorkerView {
  public:
    explicit ConsoleView(bool quiet) : quiet(quiet) {}

    void setButtonToCancel() override {}
    void setButtonToClose() override { closed = true; }
    void setPort(const std::string& name) override { selected = name; }
    void update(const std::string& text, std::optional<Style>) override {
        if (!quiet) std::cout << text << std::endl;
        // done() changes the button first and then reports how detection ended
        if (closed) {
            finalText = text;
            ended = true;
        }
    }

    std::optional<std::string> selected;
    std::string finalText;
    bool ended = false;

  private:
    bool quiet;
    bool closed = false;
};

std::string outcomeOf(const AutoPortWorker& task, const ConsoleView& view) {
    if (view.selected) return "found";
    if (task.isCancelled()) return "stopped";
    if (view.finalText == AutoPortWorker::text("could.not.auto.detect.port")) return "none";
    return "failed";
}

void printSummary(const std::vector<AutoPortWorker::PortReport>& reports, const ConsoleView& view) {
    std::size_t width = 4;
    for (const auto& r : reports)
        width = std::max(width, r.port.size());
    std::cout << '\n' << "PORT" << std::string(width - 4 + 2, ' ') << "SCORE\n";
    for (const auto& r : reports)
        std::cout << r.port << std::string(width - r.port.size() + 2, ' ')
                  << (r.confidence ? std::to_string(*r.confidence) : "-") << '\n';
    std::cout << "best: " << view.selected.value_or("none") << '\n';
}

void printJson(const std::vector<AutoPortWorker::PortReport>& reports, const ConsoleView& view,
               const std::string& outcome) {
    Json ports = Json::array();
    for (const auto& r : reports) {
        Json port;
        port["port"] = r.port;
        port["score"] = r.confidence ? Json(*r.confidence) : Json(nullptr);
        port["messages"] = r.messages;
        ports.push_back(port);
    }
    Json result;
    result["ports"] = ports;
    result["best"] = view.selected ? Json(*view.selected) : Json(nullptr);
    result["outcome"] = outcome;
    result["message"] = view.finalText;
    std::cout << jsonText(result) << '\n';
}

void detect(const DetectOptions& options) {
    // Standard output belongs to the results.
    Zivaraze::setDiagnosticStream(&std::cerr);
    // Before the serial library starts threads of its own. A stop cancels detection with interruption,
    // which also ends a pause in the middle of a port.
    base::EventQueueExecutor executor;
    std::shared_ptr<AutoPortWorker> task;
    base::StopSignals stop([&] {
        executor.post([&] {
            if (task) task->cancel(true);
        });
    });
    requireNativeSerialModule("detect");

    std::vector<std::string> ports = options.ports;
    if (ports.empty()) {
        try {
            ports = Zivaraze::SerialPortLocal::getPortList();
        } catch (const std::exception& e) {
            fail("detect", cliText("cannot.list.ports") + e.what(), 2);
        }
    }

    ConsoleView view(options.json);
    task = std::make_shared<AutoPortWorker>(executor, view, ports);
    task->execute();
    while (!view.ended)
        executor.runUntil([&] { return view.ended; }, std::chrono::hours(1));

    const auto reports = task->reports();
    const std::string outcome = outcomeOf(*task, view);
    if (options.json)
        printJson(reports, view, outcome);
    else
        printSummary(reports, view);
    if (outcome == "failed") throw CLI::RuntimeError(2);
    if (outcome != "found") throw CLI::RuntimeError(1);
}

}  // namespace

void addDetectCommand(CLI::App& app, const GlobalOptions& global) {
    (void)global;  // detection neither reads nor changes the settings
    auto options = std::make_shared<DetectOptions>();
    auto* command = app.add_subcommand(
        "detect",
        "Find the serial port an instrument is attached to by its modem lines (DSR, CTS) and score every "
        "port from 0 to 3");
    command->add_flag("--json", options->json, "One JSON object with every port's score and messages");
    command->add_option("ports", options->ports, "Ports to probe instead of those the serial library lists");
    command->footer(
        "Exit status: 0 a port was found, 1 no port scored above 0 (or SIGINT, SIGTERM or SIGHUP stopped "
        "detection), 2 detection failed, 4 the native serial module is missing.");
    command->callback([options] { detect(*options); });
}

}  // namespace rszorvik::cli
