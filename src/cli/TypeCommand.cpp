#include <chrono>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/MessageFormat.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "config/ConfigHelper.h"
#include "worker/Keybot.h"
#include "worker/WeightWorkerView.h"

namespace rszorvik::cli {
namespace {

using namespace rszorvik::config::ConfigHelper;

// What the keyboard output reports (characters the layout's map lacks, keys the display rejects).
class ConsoleView : public worker::WeightWorkerView {
  public:
    void logEvent(const std::string& text) override { std::cout << text << std::endl; }
    void logImportantEvent(const std::string& text) override { std::cerr << text << std::endl; }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine&) override {}
};

// A CLI11 check that accepts the constant names of an enumeration and lists them otherwise.
template <class Enum>
CLI::Validator constantOf(const std::string& what) {
    std::string names;
    for (const auto& constant : Enum::values())
        names += (names.empty() ? "" : ", ") + std::string(constant.name());
    return CLI::Validator(
        [what, names](std::string& text) -> std::string {
            return Enum::valid(text) ? std::string() : text + " is no " + what + " (" + names + ")";
        },
        what);
}

struct TypeOptions {
    std::string keyboard = std::string(KeyboardType::getDefault().name());
    std::string keymap = "ALPHANUMERIC_COMPLETE";
    std::string delay = Delay::getDefault();
    std::string start = "NONE";
    std::string terminator = "NONE";
    int countdown = 3;
    std::vector<std::string> values;
};

void type(const TypeOptions& o) {
    const KeyboardType keyboard = KeyboardType::valueOf(o.keyboard);
    ConsoleView view;
    std::unique_ptr<worker::Keybot> keybot;
    try {
        keybot =
            std::make_unique<worker::Keybot>(std::stoi(o.delay), StartWith::valueOf(o.start).getKeyCode(),
                                             OutputTerminator::valueOf(o.terminator).getKeyCode(), 0, 0,
                                             keyboard, KeyMapType::valueOf(o.keymap), &view);
    } catch (const std::exception& e) {
        // CLI11 ends a RuntimeError quietly, so the reason is printed here.
        std::cerr << cliText("type.no.keyboard.output") << e.what() << std::endl;
        throw CLI::RuntimeError(1);
    }
    std::cout << (o.values.size() == 1
                      ? base::formatMessage(cliText("type.typing.one"), {keyboard.toString()})
                      : base::formatMessage(cliText("type.typing.many"),
                                            {std::to_string(o.values.size()), keyboard.toString()}))
              << std::endl;
    for (int left = o.countdown; left > 0; --left) {
        std::cout << left << "..." << std::endl;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    try {
        for (const std::string& value : o.values) {
            if (!value.empty()) keybot->typeValue(value);
        }
    } catch (const platform::KeyOutputLost& e) {
        std::cerr << cliText("type.no.keyboard.output") << e.what() << std::endl;
        throw CLI::RuntimeError(1);
    }
    std::cout << cliText("type.done") << std::endl;
}

}  // namespace

void addTypeCommand(CLI::App& app, const GlobalOptions& global) {
    (void)global;  // typing takes its settings from the options, not from the settings file
    auto* command = app.add_subcommand(
        "type",
        "Type values into the focused window as the keyboard output would, to check a keyboard setting");
    auto options = std::make_shared<TypeOptions>();
    command->add_option("--keyboard", options->keyboard, "Keyboard type")
        ->check(constantOf<KeyboardType>("keyboard type"))
        ->capture_default_str();
    command->add_option("--keymap", options->keymap, "Key map of the values")
        ->check(constantOf<KeyMapType>("key map type"))
        ->capture_default_str();
    command->add_option("--delay", options->delay, "Pause after every key press and release, 0 to 1000 ms")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return !text.empty() && Delay::valid(text) ? std::string() : "the delay is 0 to 1000 ms";
            },
            "MS"))
        ->capture_default_str();
    command->add_option("--start", options->start, "Key typed before each value")
        ->check(constantOf<StartWith>("start key"))
        ->capture_default_str();
    command->add_option("--terminator", options->terminator, "Key typed after each value")
        ->check(constantOf<OutputTerminator>("terminator"))
        ->capture_default_str();
    command->add_option("--countdown", options->countdown, "Seconds to switch to the target window first")
        ->check(CLI::Range(0, 60))
        ->capture_default_str();
    command->add_option("values", options->values, "Values to type")->required();
    command->callback([options] { type(*options); });
}

}  // namespace rszorvik::cli
