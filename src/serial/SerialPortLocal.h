#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "native/zspWin.h"
#include "serial/DeviceNotificationCallback.h"
#include "serial/ErrorStatusHandler.h"
#include "serial/IOError.h"
#include "serial/PlatformSupport.h"
#include "serial/PortDriverInfo.h"
#include "serial/SerialConfig.h"
#include "serial/SerialPort.h"

namespace Zivaraze {

class FlowControlTask;
class SerialServerTask;

// A serial port over the native serial library. The class-wide part chooses and loads the library
// for the platform (once, on first use), keeps the feature table and the port list. A port object is
// used by one thread at a time; the class-wide functions may be called from any thread.
class SerialPortLocal : public SerialPort, public DeviceNotificationCallback {
  public:
    static constexpr int buildNum = 9233;

    // Not opened; loads the native library if the class could not, and describes the platform's
    // default device.
    SerialPortLocal();
    // Keeps the record (shared with the caller, who sees the port number the library assigns) and
    // opens the port; a failure to open propagates and leaves nothing open.
    explicit SerialPortLocal(std::shared_ptr<SerialConfig> config);
    explicit SerialPortLocal(const SerialConfig& config);
    ~SerialPortLocal() override;  // aborts the flow-control thread and closes, ignoring errors
    SerialPortLocal(const SerialPortLocal&) = delete;
    SerialPortLocal& operator=(const SerialPortLocal&) = delete;

    // Life cycle.
    void open();
    void configure();  // re-applies the current configuration
    void configure(std::shared_ptr<SerialConfig> config) override;
    void close() override;
    void reset();  // close and reopen with the same configuration
    void setConfig(std::shared_ptr<SerialConfig> config) override;
    std::shared_ptr<SerialConfig> getConfig() const override { return config; }
    bool isOpen() const { return portOpen; }
    int getPortNum() const override { return port; }  // the native handle, -1 while closed
    std::string getPortName() const;
    std::string getDevName() const { return getPortName(); }
    std::string getName() const override { return name; }
    void setName(const std::string& text) override { name = text; }
    std::string getName(int portNumber);  // the native name, only on the Mac platforms

    // Shortcuts to the configuration record; they do not reconfigure an open port.
    void setBitRate(int value) { config->setBitRate(value); }
    void setParity(int value) { config->setParity(value); }
    void setDataBits(int value) { config->setDataBits(value); }
    void setStopBits(int value) { config->setStopBits(value); }
    void setHandshake(int value) { config->setHandshake(value); }
    void setPortName(const std::string& portName);
    int getBitRate() const { return config->getBitRate(); }
    int getParity() const { return config->getParity(); }
    int getDataBits() const { return config->getDataBits(); }
    int getStopBits() const { return config->getStopBits(); }
    int getHandshake() const { return config->getHandshake(); }

    // Byte input and output.
    int getByte() override;
    int getData(std::span<std::uint8_t> buffer) override;
    // Reads at most min(count, buffer.size() - offset) bytes into the buffer from offset on. A read stops
    // after a byte that came with a parity or framing error, so sigParityErr and sigFrameErr tell about the
    // last byte read.
    int getData(std::span<std::uint8_t> buffer, int offset, int count) override;
    void putByte(std::uint8_t value) override;
    void putData(std::span<const std::uint8_t> data) override;
    void putData(std::span<const std::uint8_t> data, int count);
    void putData(std::span<const std::uint8_t> data, int offset, int count) override;
    void putString(const std::string& text) override;
    void rxFlush() override;
    void txFlush() override;
    void txDrain() override;
    int rxReadyCount() override;
    int txBufCount() override;
    bool rxOverflow() override;

    // Waiting for input instead of polling for it, where the native library can.
    enum WaitEvent {
        WAIT_INPUT = ZSP_WAIT_INPUT,
        WAIT_HANGUP = ZSP_WAIT_HANGUP,
        WAIT_WOKEN = ZSP_WAIT_WOKEN
    };
    // Blocks until bytes wait, the device hangs up, wakeWaiting() is called or timeoutMs pass (negative: no
    // limit); answers the WaitEvent bits of what happened, 0 after the timeout. IOError when the wait fails
    // or the library cannot wait (canWait()).
    int waitForEvent(int timeoutMs);
    bool canWait();
    // Ends the current or the next waitForEvent. The one call that another thread may make while the port
    // is in use, but not while the port is being closed.
    void wakeWaiting();

    // Activity since the flags were last cleared.
    bool sendSinceTxBufEmpty() const { return wrSinceTxBufEmpty; }
    void clearSendSinceTxBufEmpty() { wrSinceTxBufEmpty = false; }
    bool readSinceRxBufCheck() const { return rdSinceRxBufCheck; }
    void clearReadSinceRxBufCheck() { rdSinceRxBufCheck = false; }

    // Modem lines and line status.
    void setDTR(bool on) override;
    void setRTS(bool on) override;
    void sendBreak(int duration) override;
    bool sigCTS() override;
    bool sigDSR() override;
    bool sigCD() override;
    bool sigRing() override;
    bool sigBreak() override;
    bool sigFrameErr() override;
    bool sigOverrun() override;
    bool sigParityErr() override;

    // Timeouts in milliseconds, kept by the native library.
    void setTimeoutRx(int milliseconds) override;
    void setTimeoutTx(int milliseconds) override;
    int getTimeoutRx() override;
    int getTimeoutTx() override;

    bool isSupported(const std::string& feature) const override;
    int getLibVer() override;
    void resetPortDriver(int portNumber);
    void setErrorStatusHandler(ErrorStatusHandler* handler) { esh = handler; }

    // Device arrival and removal, class-wide.
    static void registerDeviceNotification(std::shared_ptr<DeviceNotificationCallback> callback);
    static void unregisterDeviceNotification();
    void deviceNotification() override;

    // Class-wide facilities.
    static int getBuildNum() { return buildNum; }
    static int getMaxBitRate();
    static bool isLibraryLoaded();
    static int getInstanceLock();
    static int setInstanceLock(int value);
    static int getPowerMode(int portNumber);
    static void setPowerMode(int portNumber, int mode);
    static int getResumeState(int portNumber);
    static int getStatusAPM();
    static int getPortListMode();
    static void setPortListMode(int mode);

    // The platform the class settled on, and its name and architecture.
    static PlatformSupport getPlatformSupport();
    static std::string getOsName();
    static std::string getOsArch();
    // Runs the class initialisation again from the current process properties (platform name,
    // architecture): banner, feature table, library choice and loading.
    static void reinitialize();

    // Port list. The runtime setting "SERIAL_PORT_LIST", or the native discovery, or the names
    // added so far; on the Windows platforms COM ports come first, by number.
    static std::vector<std::string> getPortList();
    static void addPortName(const std::string& portName);  // unless present, ignoring case
    static void addPortInfo(const std::string& portName, const std::string& manufacture,
                            const std::string& description);
    static void clearPortListInfo();
    // Throws IOError "Not supported on this platform" or "Must call SerialPortLocal.getPortList method
    // first".
    static std::vector<PortDriverInfo> getDriverInfoList();
    // The Windows ordering step on its own: COM ports by number first, then the other names.
    static std::vector<std::string> orderWindowsPorts(const std::vector<std::string>& names);

  private:
    void initPort(std::shared_ptr<SerialConfig> cfg);
    void openNative(const char* failurePrefix);
    void srvTaskCheck();
    void stopFlowControl();
    void setTransmitTimeoutForRate();

    ErrorStatusHandler* esh = nullptr;
    int port = -1;
    std::string name = "Serial Port";
    std::shared_ptr<SerialConfig> config;
    std::unique_ptr<FlowControlTask> flowControl;
    std::unique_ptr<SerialServerTask> ssTask;
    bool portOpen = false;
    bool wrSinceTxBufEmpty = false;
    bool rdSinceRxBufCheck = false;
};

}  // namespace Zivaraze
