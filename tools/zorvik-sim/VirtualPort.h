#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "base/StopSignals.h"

namespace rszorvik::sim {

// The instrument's end of a pseudo-terminal. The slave end, which the reader opens like a serial port,
// is set raw (no echo, no line editing, no CR/LF translation) before the reader comes.
//
// Whether a reader is there is seen on the master: while no process has the slave open, poll() reports
// POLLHUP on the master. So the simulator keeps no slave descriptor of its own while running.
class VirtualPort {
  public:
    VirtualPort();  // throws std::system_error
    ~VirtualPort();
    VirtualPort(const VirtualPort&) = delete;
    VirtualPort& operator=(const VirtualPort&) = delete;

    const std::string& slavePath() const { return slaveDevicePath; }

    // Also takes whatever the reader sent: thrown away, unless requests are awaited (awaitRequest).
    bool readerPresent();
    // Waits until the reader has sent `request` (once more since the last call) and takes it; false when
    // stopped first. While no reader is there it waits for one.
    bool awaitRequest(std::string_view request, const base::StopSignals& stop);
    // False when stopped first.
    bool waitForReader(const base::StopSignals& stop);
    // Writes every byte; false when stopped or the reader went away meanwhile.
    bool write(std::string_view bytes, const base::StopSignals& stop);
    // Waits until the reader has taken every byte written, at most limit, so closing the master does not
    // drop the last line.
    void drain(std::chrono::milliseconds limit, const base::StopSignals& stop);

  private:
    void takeInput();

    int masterFd = -1;
    std::string slaveDevicePath;
    bool keepInput = false;  // requests are awaited: what the reader sends is kept in `input`
    std::string input;
};

}  // namespace rszorvik::sim
