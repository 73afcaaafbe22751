#pragma once

#include <string>
#include <vector>

#include "serial/PortDriverInfo.h"

namespace rszorvik::util {

// Port names as the user sees them ("COM3: USB Serial Port - FTDI", "/dev/ttyUSB0: FT232R USB UART - FTDI")
// and back, from a snapshot of the serial library's driver records.
class FriendlyPortUtil {
  public:
    static constexpr const char* FORMATSTR = "%s: %s - %s";

    // Takes a new snapshot; throws Zivaraze::IOError as SerialPortLocal::getDriverInfoList does and
    // then keeps the previous one.
    static void update();
    static bool portInfoListIsPopulated();
    static std::vector<std::string> getFriendlyPortList();  // one per record, in record order
    // The friendly text of the record of exactly that port name; the name itself when there is none.
    static std::string getFriendlyPortName(const std::string& portName);
    // The port name of the record whose friendly text is exactly that; the text itself when none is.
    static std::string getUnfriendlyPortName(const std::string& friendly);
    // FORMATSTR applied to the port name, the description and the manufacturer.
    static std::string friendlyText(const Zivaraze::PortDriverInfo& info);
};

}  // namespace rszorvik::util
