#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/Utf8.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "config/Config.h"
#include "config/Instrument.h"

namespace rszorvik::cli {
namespace {

using namespace rszorvik::config::ConfigHelper;

std::string terminatorText(int code) {
    const auto item = InputTerminator::itemFromDecimal(code);
    return item ? item->toString() : std::to_string(code);
}

// Width on screen: labels may hold umlauts, so count code points rather than bytes.
std::size_t displayWidth(const std::string& text) {
    return base::utf8::countLeadBytes(text);
}

void printJson() {
    nlohmann::ordered_json presets = nlohmann::ordered_json::array();
    for (Instrument preset : Instrument::values()) {
        const config::Config c = preset.getDefaultConfig();
        presets.push_back({
            {"name", preset.name()},
            {"label", preset.toPlainString()},
            {"type", preset.getInstrumentType().name()},
            {"pattern", preset.getPattern()},
            {"captureGroup", preset.getCaptureGroup()},
            {"bitRate", std::stoi(BitRates::getReadable(c.getBitRate()))},
            {"dataBits", std::stoi(DataBits::getReadable(c.getDataBits()))},
            {"parity", Parity::name(c.getParity())},
            {"stopBits", std::stoi(StopBits::getReadable(c.getStopBits()))},
            {"inputTerminator", c.getInputTerminator()},
            {"handshake", Handshake::name(c.getHandshake())},
            {"request", RequestCommand::toText(preset.getDataCommand())},
        });
    }
    std::cout << jsonText(presets) << '\n';
}

void printTable() {
    std::vector<std::vector<std::string>> rows{{"NAME", "LABEL", "TYPE", "BIT RATE", "DATA BITS", "PARITY",
                                                "STOP BITS", "TERMINATOR", "HANDSHAKE", "REQUEST", "GROUP",
                                                "PATTERN"}};
    for (Instrument preset : Instrument::values()) {
        const config::Config c = preset.getDefaultConfig();
        rows.push_back({std::string(preset.name()), preset.toPlainString(),
                        std::string(preset.getInstrumentType().name()), BitRates::getReadable(c.getBitRate()),
                        DataBits::getReadable(c.getDataBits()), Parity::getReadable(c.getParity()),
                        StopBits::getReadable(c.getStopBits()), terminatorText(c.getInputTerminator()),
                        Handshake::getReadable(c.getHandshake()),
                        RequestCommand::toText(preset.getDataCommand()),
                        std::to_string(preset.getCaptureGroup()), std::string(preset.getPattern())});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], displayWidth(row[i]));
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line.append(widths[i] - displayWidth(row[i]) + 2, ' ');
        }
        std::cout << line << '\n';
    }
}

}  // namespace

void addPresetsCommand(CLI::App& app, const GlobalOptions& global) {
    (void)global;  // the presets do not depend on the settings file
    auto* command = app.add_subcommand("presets",
                                       "List the instrument presets with their expressions and serial "
                                       "defaults");
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "Print one JSON array instead of a table");
    command->callback([json] {
        if (*json) {
            printJson();
        } else {
            printTable();
        }
    });
}

}  // namespace rszorvik::cli
