#pragma once

// Header-only helpers for tests of code that uses the serial library: the platform the library
// believes it runs on, a capture of its diagnostics and the message of the error a call throws. The test
// itself links zorvik_serial.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "base/SystemProperties.h"
#include "serial/Diagnostics.h"
#include "serial/IOError.h"
#include "serial/SerialPortLocal.h"

namespace rszorvik::test {

// Makes the serial library initialise itself for that platform name and architecture, as it does
// at start-up from "ZSP_OSNAME" and "ZSP_OSARCH".
inline void selectSerialPlatform(const std::string& osName, const std::string& osArch) {
    base::SystemProperties::set("ZSP_OSNAME", osName);
    base::SystemProperties::set("ZSP_OSARCH", osArch);
    Zivaraze::SerialPortLocal::reinitialize();
}

// The platform the application sets at start-up.
inline void selectApplicationPlatform() {
    if (base::SystemProperties::get("ZSP_OSNAME") == "Windows" &&
        Zivaraze::SerialPortLocal::getOsName() == "Windows")
        return;
    selectSerialPlatform("Windows", "x86");
}

// Another platform for the life of the object, then the application's again.
class ScopedSerialPlatform {
  public:
    ScopedSerialPlatform(const std::string& osName, const std::string& osArch) {
        selectSerialPlatform(osName, osArch);
    }
    ~ScopedSerialPlatform() { selectSerialPlatform("Windows", "x86"); }
    ScopedSerialPlatform(const ScopedSerialPlatform&) = delete;
    ScopedSerialPlatform& operator=(const ScopedSerialPlatform&) = delete;
};

// Collects what the serial library prints while the object lives.
class CapturedDiagnostics {
  public:
    CapturedDiagnostics() { Zivaraze::setDiagnosticStream(&captured); }
    ~CapturedDiagnostics() { Zivaraze::setDiagnosticStream(nullptr); }
    CapturedDiagnostics(const CapturedDiagnostics&) = delete;
    CapturedDiagnostics& operator=(const CapturedDiagnostics&) = delete;

    std::string text() const { return captured.str(); }

  private:
    std::ostringstream captured;
};

// The message of the IOError the call throws, or "(no error)".
inline std::string ioErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Zivaraze::IOError& e) {
        return e.what();
    }
    return "(no error)";
}

// Reads until count bytes came, with the port's own receive timeout (5 s) doing the waiting.
inline std::string readBytes(Zivaraze::SerialPortLocal& port, std::size_t count) {
    port.setTimeoutRx(5000);
    std::vector<std::uint8_t> buffer(count);
    const int got = port.getData(buffer);
    port.setTimeoutRx(0);
    return std::string(buffer.begin(), buffer.begin() + std::max(got, 0));
}

}  // namespace rszorvik::test
