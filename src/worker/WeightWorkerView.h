#pragma once

#include <string>

namespace rszorvik::worker {

class DataLine;

// How an acquisition worker and the keyboard output report to the main window. The two log methods may
// be called from any thread.
class WeightWorkerView {
  public:
    virtual ~WeightWorkerView() = default;

    virtual void logEvent(const std::string& text) = 0;           // an ordinary message for the event log
    virtual void logImportantEvent(const std::string& text) = 0;  // a message the user must notice
    virtual void setConnectedInGUI(bool connected) = 0;           // GUI thread only
    virtual void update(const DataLine& line) = 0;                // one received line; GUI thread only
    // The same line earlier, on the reading thread, just before it is sent on to update(): for output
    // that must not wait for the GUI thread. It may delete the line's value (the duplicate filter);
    // update() then gets the line as it was left here. last: no further line has been read yet, so
    // whatever is done here delays no other line.
    virtual void received(DataLine& line, bool last) {
        (void)line;
        (void)last;
    }
    // The port's device went away (an adapter was unplugged, or the other side of a pseudo-terminal
    // closed it). True when the view takes that as the planned end of the input and has said so; false
    // (the default) has the worker report the lost connection as the error it is. GUI thread only.
    virtual bool portEnded(const std::string& port) {
        (void)port;
        return false;
    }
    // A warning the user has to acknowledge before acquisition starts (the window shows a modal box
    // titled "warning"); GUI thread only. Without a box it is an important event.
    virtual void warn(const std::string& text) { logImportantEvent(text); }
    // The port went away and the run waits for the instrument to come back on it (true), or the instrument
    // is back and reading goes on (false). The log has said so already; this is for a status display. Any
    // thread.
    virtual void waitingForInstrument(bool waiting, const std::string& port) {
        (void)waiting;
        (void)port;
    }
};

}  // namespace rszorvik::worker
