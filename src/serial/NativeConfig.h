#pragma once

#include <cstdint>
#include <string>

#include "native/zspWin.h"
#include "serial/SerialConfig.h"

namespace Zivaraze {

// The record as the native library reads it; the texts live as long as this object.
class NativeConfig {
  public:
    NativeConfig(const SerialConfig& cfg, int portNumber)
        : portNameText(cfg.getPortName()), baseNameText(cfg.getBaseName()) {
        c.port = portNumber;
        c.portName = portNameText.data();
        c.portNameLength = static_cast<std::int32_t>(portNameText.size());
        c.baseName = baseNameText.data();
        c.baseNameLength = static_cast<std::int32_t>(baseNameText.size());
        c.txLen = cfg.getTxLen();
        c.rxLen = cfg.getRxLen();
        c.bitRate = cfg.getBitRate();
        c.parity = cfg.getParity();
        c.dataBits = cfg.getDataBits();
        c.stopBits = cfg.getStopBits();
        c.handshake = cfg.getHandshake();
        c.hardFlow = cfg.getHardFlow() ? 1 : 0;
        c.disableActiveLink = cfg.getDisableActiveLink() ? 1 : 0;
    }
    NativeConfig(const NativeConfig&) = delete;
    NativeConfig& operator=(const NativeConfig&) = delete;

    ZspConfig c{};

  private:
    std::string portNameText;
    std::string baseNameText;
};

}  // namespace Zivaraze
