#include "serial/SerialConfig.h"

#include <algorithm>
#include <initializer_list>
#include <stdexcept>

#include "serial/PlatformSupport.h"

namespace Zivaraze {
namespace {

// The hosts whose drivers offer DTR/DSR handshaking.
bool offersDsrDtr(const std::string& osName) {
    static constexpr std::string_view kNames[] = {"Windows 95",           "Windows NT",
                                                  "Windows CE",           "Windows 98",
                                                  "Windows Me",           "Windows XP",
                                                  "Windows 2000",         "Windows 2003",
                                                  "Windows Server 2008",  "Windows Server 2008 R2",
                                                  "Windows Vista",        "Windows 7",
                                                  "Windows NT (unknown)", "OS/2"};
    return std::find(std::begin(kNames), std::end(kNames), osName) != std::end(kNames);
}

}  // namespace

SerialConfig::SerialConfig() : sPortName("COM1"), portName("COM1"), osName(hostOsName()) {}

SerialConfig::SerialConfig(int portNumber) : port(portNumber), osName(hostOsName()) {}

SerialConfig::SerialConfig(int portNumber, int transmitLength, int receiveLength)
    : port(portNumber), txLen(transmitLength), rxLen(receiveLength), osName(hostOsName()) {}

SerialConfig::SerialConfig(const std::string& name)
    : sPortName(name), portName(name), baseName(std::string(1, '\0')), osName(hostOsName()) {}

void SerialConfig::setPortName(const std::string& name) {
    sPortName = name;
    portName = name;
}

void SerialConfig::setBitRate(int value) {
    if (value < 0 || value > 921600) throw std::invalid_argument("Invalid Serial Port Bit Rate");
    bitRate = value;
}

void SerialConfig::setParity(int value) {
    if (value < PY_NONE || value > PY_SPACE) throw std::invalid_argument("Invalid Serial Port Parity");
    parity = value;
}

void SerialConfig::setDataBits(int value) {
    if (value < LN_5BITS || value > LN_8BITS) throw std::invalid_argument("Invalid Serial Port Data Bits");
    dataBits = value;
}

void SerialConfig::setStopBits(int value) {
    if (value < ST_1BITS || value > ST_2BITS) throw std::invalid_argument("Invalid Serial Port Stop Bits");
    stopBits = value;
}

void SerialConfig::setHandshake(int value) {
    if (value == HS_DSRDTR) {
        if (!offersDsrDtr(osName))
            throw std::invalid_argument("DSRDTR handshaking not available on this platform");
    } else if (!((value >= HS_NONE && value <= HS_CTSRTS) ||
                 (value >= HS_HARD_IN && value <= HS_SPLIT_MASK))) {
        throw std::invalid_argument("Invalid Serial Port Handshake");
    }
    handshake = value;
}

void SerialConfig::setPortNum(int value) {
    if (value < 0 && osName != "EPOC")
        throw std::invalid_argument("Invalid Port Number: " + std::to_string(value));
    port = value;
}

void SerialConfig::setRxLen(int value) {
    if (value > 8192 && osName == "EPOC") throw std::invalid_argument("Limited to 8192 on EPOC");
    rxLen = value;
}

void SerialConfig::setTxLen(int value) {
    if (value > 8192 && osName == "EPOC") throw std::invalid_argument("Limited to 8192 on EPOC");
    txLen = value;
}

int SerialConfig::getBitRateIndex(int rate) {
    for (std::size_t i = 0; i < bitRateNumbers.size(); ++i)
        if (bitRateNumbers[i] == rate) return static_cast<int>(i);
    return -1;
}

int SerialConfig::getBitRateNumber(int index) const {
    if (bitRate > 30) return bitRate;
    if (index < 0 || index >= static_cast<int>(bitRateNumbers.size()))
        throw std::invalid_argument("Invalid Serial Port Bit Rate");
    return bitRateNumbers[static_cast<std::size_t>(index)];
}

std::string SerialConfig::getSettingsString() const {
    std::string text = std::to_string(getBitRateNumber(bitRate));
    text += " / ";
    text += parity >= 0 && parity < static_cast<int>(parityNames.size())
                ? parityNames[static_cast<std::size_t>(parity)]
                : std::string_view("?");
    text += " / ";
    text += static_cast<char>('5' + dataBits);
    text += " / ";
    text += static_cast<char>('1' + stopBits);
    text += " / ";
    if (handshake & HS_SPLIT_MASK) {
        if (handshake & HS_HARD_IN) text += " HI";
        if (handshake & HS_HARD_OUT) text += " HO";
        if (handshake & HS_SOFT_IN) text += " SI";
        if (handshake & HS_SOFT_OUT) text += " SO";
    } else if (handshake == HS_CTSRTS && osName == "Mac OS") {
        text += "CTS-DTR";
    } else if (handshake >= 0 && handshake < static_cast<int>(handshakeNames.size())) {
        text += handshakeNames[static_cast<std::size_t>(handshake)];
    }
    return text;
}

}  // namespace Zivaraze
