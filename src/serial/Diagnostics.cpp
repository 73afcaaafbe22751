#include "serial/Diagnostics.h"

#include <iostream>

#include "base/Log.h"

namespace Zivaraze {
namespace {

rszorvik::base::LogChannel& diagnostics() {
    using rszorvik::base::LogChannel;
    static LogChannel channel(std::cout, LogChannel::Level::FINE, LogChannel::messageOnly);
    return channel;
}

}  // namespace

void setDiagnosticStream(std::ostream* stream) {
    diagnostics().setStream(stream);
}

void printDiagnostic(const std::string& text) {
    diagnostics().log(rszorvik::base::LogChannel::Level::INFO, "Zivaraze", text);
}

}  // namespace Zivaraze
