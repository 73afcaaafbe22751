#pragma once

#include <iosfwd>
#include <string>

namespace Zivaraze {

// Low-level diagnostics of the serial library (banner, load results, hints) go to standard output
// unless a program that owns standard output for its own data sends them elsewhere.
void setDiagnosticStream(std::ostream* stream);  // nullptr: standard output
void printDiagnostic(const std::string& text);   // writes text and a line feed, flushed

}  // namespace Zivaraze
