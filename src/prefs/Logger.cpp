#include "prefs/Logger.h"

#include <iostream>

namespace rszorvik::prefs {

base::LogChannel& preferencesLog() {
    static base::LogChannel channel(std::cerr, base::LogChannel::Level::WARNING,
                                    base::LogChannel::levelLoggerAndMessage);
    return channel;
}

}  // namespace rszorvik::prefs
