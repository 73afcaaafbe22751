#pragma once

#include <memory>
#include <string>
#include <thread>

namespace Zivaraze {

class SerialPortLocal;

// Runs the native port server of the one legacy host that serves ports from a thread of their own.
// The server reports the port number once the port is ready; a failure leaves -1 and a message.
class SerialServerTask {
  public:
    explicit SerialServerTask(const SerialPortLocal& sp);
    ~SerialServerTask();
    SerialServerTask(const SerialServerTask&) = delete;
    SerialServerTask& operator=(const SerialServerTask&) = delete;

    void start();
    void run();

    bool hasEnded() const;
    int getPortNum() const;               // 0 until the server reports, -1 after a failure
    std::string getErrorMessage() const;  // eMsg

  private:
    struct State;
    std::shared_ptr<State> sharedState;  // shared with the thread, which may outlive this object
    std::thread thread;
};

}  // namespace Zivaraze
