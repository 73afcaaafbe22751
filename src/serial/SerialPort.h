#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "serial/SerialConfig.h"

namespace Zivaraze {

// The port operations callers program against. Failures throw IOError with a fixed English message.
class SerialPort {
  public:
    static constexpr int RXREADYCOUNT = 1;

    virtual ~SerialPort() = default;

    virtual void close() = 0;
    virtual void configure(std::shared_ptr<SerialConfig> config) = 0;
    virtual int getByte() = 0;  // 0-255, or -1 when nothing is waiting
    virtual std::shared_ptr<SerialConfig> getConfig() const = 0;
    virtual int getData(std::span<std::uint8_t> buffer) = 0;
    virtual int getData(std::span<std::uint8_t> buffer, int offset, int count) = 0;
    virtual int getLibVer() = 0;
    virtual std::string getName() const = 0;
    virtual int getPortNum() const = 0;
    virtual int getTimeoutRx() = 0;
    virtual int getTimeoutTx() = 0;
    virtual bool isSupported(const std::string& feature) const = 0;
    virtual void putByte(std::uint8_t value) = 0;
    virtual void putData(std::span<const std::uint8_t> data) = 0;
    virtual void putData(std::span<const std::uint8_t> data, int offset, int count) = 0;
    virtual void putString(const std::string& text) = 0;
    virtual void rxFlush() = 0;
    virtual bool rxOverflow() = 0;
    virtual int rxReadyCount() = 0;
    virtual void sendBreak(int duration) = 0;
    virtual void setConfig(std::shared_ptr<SerialConfig> config) = 0;
    virtual void setDTR(bool on) = 0;
    virtual void setName(const std::string& name) = 0;
    virtual void setRTS(bool on) = 0;
    virtual void setTimeoutRx(int milliseconds) = 0;
    virtual void setTimeoutTx(int milliseconds) = 0;
    virtual bool sigBreak() = 0;
    virtual bool sigCD() = 0;
    virtual bool sigCTS() = 0;
    virtual bool sigDSR() = 0;
    virtual bool sigFrameErr() = 0;
    virtual bool sigOverrun() = 0;
    virtual bool sigParityErr() = 0;
    virtual bool sigRing() = 0;
    virtual int txBufCount() = 0;
    virtual void txDrain() = 0;
    virtual void txFlush() = 0;
};

}  // namespace Zivaraze
