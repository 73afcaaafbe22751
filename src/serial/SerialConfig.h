#pragma once

#include <array>
#include <string>
#include <string_view>

namespace Zivaraze {

class SerialPortLocal;
class SerialServerTask;

// The settings of one serial port: which port, its line settings as numeric codes and the driver
// buffer sizes. Every validating setter throws std::invalid_argument with a fixed message and leaves
// the record unchanged when the value is out of range.
class SerialConfig {
  public:
    static constexpr int HS_NONE = 0;
    static constexpr int HS_XONXOFF = 1;
    static constexpr int HS_CTSRTS = 2;
    static constexpr int HS_CTSDTR = 2;
    static constexpr int HS_DSRDTR = 3;
    static constexpr int HS_HARD_IN = 0x10;
    static constexpr int HS_HARD_OUT = 0x20;
    static constexpr int HS_SOFT_IN = 0x40;
    static constexpr int HS_SOFT_OUT = 0x80;
    static constexpr int HS_SPLIT_MASK = 0xF0;

    static constexpr int PY_NONE = 0;
    static constexpr int PY_ODD = 1;
    static constexpr int PY_EVEN = 2;
    static constexpr int PY_MARK = 3;
    static constexpr int PY_SPACE = 4;

    static constexpr int LN_5BITS = 0;
    static constexpr int LN_6BITS = 1;
    static constexpr int LN_7BITS = 2;
    static constexpr int LN_8BITS = 3;

    static constexpr int ST_1BITS = 0;
    static constexpr int ST_2BITS = 1;

    static constexpr int BR_110 = 0;
    static constexpr int BR_150 = 1;
    static constexpr int BR_300 = 2;
    static constexpr int BR_600 = 3;
    static constexpr int BR_1200 = 4;
    static constexpr int BR_2400 = 5;
    static constexpr int BR_4800 = 6;
    static constexpr int BR_9600 = 7;
    static constexpr int BR_19200 = 8;
    static constexpr int BR_38400 = 9;
    static constexpr int BR_57600 = 10;
    static constexpr int BR_115200 = 11;
    static constexpr int BR_230400 = 12;
    static constexpr int BR_460800 = 13;
    static constexpr int BR_921600 = 14;

    static constexpr int PWR_STANDBY = 0;
    static constexpr int PWR_ACTIVE = 1;

    static constexpr std::array<int, 15> bitRateNumbers = {
        110, 150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    static constexpr std::array<std::string_view, 4> handshakeNames = {"NONE", "XON-XOFF", "CTS-RTS",
                                                                       "DSR-DTR"};
    static constexpr std::array<std::string_view, 5> parityNames = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};

    SerialConfig();  // "COM1"
    explicit SerialConfig(int port);
    SerialConfig(int port, int txLen, int rxLen);
    explicit SerialConfig(const std::string& name);  // what the application uses
    explicit SerialConfig(const char* name) : SerialConfig(std::string(name)) {}

    int getPort() const { return port; }
    const std::string& getPortNameString() const { return sPortName; }
    const std::string& getPortName() const { return portName; }  // bytes as the native library reads them
    const std::string& getBaseName() const { return baseName; }
    int getTxLen() const { return txLen; }
    int getRxLen() const { return rxLen; }
    int getBitRate() const { return bitRate; }  // an index 0-14 or, above 30, a literal rate
    int getParity() const { return parity; }
    int getDataBits() const { return dataBits; }
    int getStopBits() const { return stopBits; }
    int getHandshake() const { return handshake; }
    bool getHardFlow() const { return hardFlow; }
    bool getDisableActiveLink() const { return disableActiveLink; }
    const std::string& getOsName() const { return osName; }

    void setHardFlow(bool value) { hardFlow = value; }
    void setDisableActiveLink(bool value) { disableActiveLink = value; }
    void setBaseName(const std::string& name) { baseName = name; }
    void setPortName(const std::string& name);

    void setBitRate(int value);
    void setParity(int value);
    void setDataBits(int value);
    void setStopBits(int value);
    void setHandshake(int value);
    void setPortNum(int value);
    void setRxLen(int value);
    void setTxLen(int value);

    // The index of a rate in bitRateNumbers, or -1.
    static int getBitRateIndex(int rate);
    // The record's own literal rate when it holds one; otherwise bitRateNumbers[index]. An index
    // outside the table throws std::invalid_argument.
    int getBitRateNumber(int index) const;
    bool validBitRateIndex() const { return bitRate >= 0 && bitRate <= 14; }

    SerialConfig copy() const { return *this; }
    // For example "9600 / NONE / 8 / 1 / NONE".
    std::string getSettingsString() const;

  private:
    friend class SerialPortLocal;  // writes the port number the native library assigns
    friend class SerialServerTask;

    int port = 0;
    std::string sPortName;
    std::string portName = std::string(1, '\0');
    std::string baseName = "/dev/ttyS";
    int txLen = 4096;
    int rxLen = 4096;
    int bitRate = BR_9600;
    int parity = PY_NONE;
    int dataBits = LN_8BITS;
    int stopBits = ST_1BITS;
    int handshake = HS_NONE;
    bool hardFlow = true;
    std::string osName;
    bool disableActiveLink = false;
};

}  // namespace Zivaraze
