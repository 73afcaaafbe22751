#include "serial/Diagnostics.h"

#include <iostream>
#include <mutex>

namespace Zivaraze {
namespace {

std::mutex& diagnosticMutex() {
    static std::mutex mutex;
    return mutex;
}

std::ostream*& diagnosticStream() {
    static std::ostream* stream = nullptr;
    return stream;
}

}  // namespace

void setDiagnosticStream(std::ostream* stream) {
    std::lock_guard lock(diagnosticMutex());
    diagnosticStream() = stream;
}

void printDiagnostic(const std::string& text) {
    std::lock_guard lock(diagnosticMutex());
    std::ostream& out = diagnosticStream() != nullptr ? *diagnosticStream() : std::cout;
    out << text << '\n';
    out.flush();
}

}  // namespace Zivaraze
