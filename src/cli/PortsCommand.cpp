#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "serial/Diagnostics.h"
#include "serial/SerialPortLocal.h"
#include "util/FriendlyPortUtil.h"

namespace rszorvik::cli {
namespace {

using Json = nlohmann::ordered_json;
using Zivaraze::PortDriverInfo;
using Zivaraze::SerialPortLocal;

struct Port {
    std::string name;
    std::string friendly;
    std::optional<PortDriverInfo> record;
};

// The ports in the order the window's port chooser shows them, each with its driver record if any.
std::vector<Port> listPorts() {
    std::vector<std::string> names;
    try {
        SerialPortLocal::clearPortListInfo();
        names = SerialPortLocal::getPortList();
    } catch (const std::exception& e) {
        fail("ports", std::string("cannot list the serial ports: ") + e.what(), 2);
    }
    std::vector<PortDriverInfo> records;
    if (!names.empty()) {
        try {
            util::FriendlyPortUtil::update();
            records = SerialPortLocal::getDriverInfoList();
        } catch (const Zivaraze::IOError&) {
            // no driver records on this platform: plain names only
        }
    }
    std::vector<Port> ports;
    for (const auto& name : names) {
        if (name.empty()) {
            report("ports", "the port list holds an entry without a name");
            continue;
        }
        Port port{name, util::FriendlyPortUtil::getFriendlyPortName(name), std::nullopt};
        for (const auto& record : records)
            if (record.getPortName() == name) port.record = record;
        ports.push_back(std::move(port));
    }
    return ports;
}

void printJson(const std::vector<Port>& ports) {
    Json list = Json::array();
    for (const auto& port : ports) {
        list.push_back({
            {"port", port.name},
            {"friendly", port.friendly},
            {"description", port.record ? Json(port.record->getDriverDesc()) : Json(nullptr)},
            {"manufacturer", port.record ? Json(port.record->getDriverMfgr()) : Json(nullptr)},
        });
    }
    std::cout << jsonText(list) << '\n';
}

void ports(bool json) {
    Zivaraze::setDiagnosticStream(&std::cerr);  // standard output belongs to the list
    requireNativeSerialModule("ports");
    const auto found = listPorts();
    if (json) {
        printJson(found);
    } else {
        for (const auto& port : found)
            std::cout << visibleText(port.friendly) << '\n';
    }
    if (found.empty()) fail("ports", "no serial port found", 1);
}

}  // namespace

void addPortsCommand(CLI::App& app, const GlobalOptions& global) {
    (void)global;  // listing ports neither reads nor changes the settings
    auto json = std::make_shared<bool>(false);
    auto* command = app.add_subcommand(
        "ports",
        "List the serial ports, one per line as the port chooser shows them (\"/dev/ttyUSB0: FT232R USB "
        "UART - FTDI\"), or the plain name where no driver record exists");
    command->add_flag(
        "--json", *json,
        "Print one JSON array of {port, friendly, description, manufacturer} (the last two null "
        "without a driver record)");
    command->footer(
        "The runtime setting SERIAL_PORT_LIST (names separated by ';' or ':') replaces discovery.\n"
        "Exit status: 0 ports listed, 1 no serial port found, 2 listing failed, 4 the native serial module "
        "is missing.");
    command->callback([json] { ports(*json); });
}

}  // namespace rszorvik::cli
