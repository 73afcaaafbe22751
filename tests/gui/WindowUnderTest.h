#pragma once

#include <QCoreApplication>
#include <string>
#include <utility>
#include <vector>

#include "app/RevareRiDevFrame2.h"
#include "support/RecordingDialogs.h"

namespace rszorvik::test {

// The main window over a settings record, with its controls found by their names.
struct WindowUnderTest {
    explicit WindowUnderTest(config::Config& config,
                             std::vector<std::string> ports = {"/dev/ttyS0", "/dev/ttyUSB0"})
        : app(guiApplication()), frame(config, std::move(ports)) {}
    template <class W = QWidget>
    W* find(const char* name) const {
        return frame.findChild<W*>(QString::fromLatin1(name));
    }
    // Runs what the window posted to itself.
    void settle() const {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    QApplication& app;
    RevareRiDevFrame2 frame;
};

}  // namespace rszorvik::test
