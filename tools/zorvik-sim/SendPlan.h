#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "InstrumentFormat.h"
#include "ValueSource.h"

namespace rszorvik::sim {

// The simulator's command-line values.
struct Options {
    std::string format = "generic";
    std::vector<std::string> values;
    std::string from, to, step = "1";
    bool random = false;
    std::optional<std::uint32_t> seed;
    std::string unit = "g";
    int intervalMs = 1000;
    std::optional<long> count;
    std::optional<std::string> terminator;
    int repeat = 1;
    int garbageEvery = 0;
    bool noTerminatorLast = false;
    int pauseMidLineMs = 0;
    std::string link;
    bool noWait = false;
    int settleMs = 100;
    int lingerMs = 2000;
    bool quiet = false;
    std::string onRequest;  // answer only when this arrives (escapes as in --terminator); empty: send freely
    long unplugAfter = 0;   // close the terminal after this many value lines and open a new one; 0: never
    int unplugMs = 3000;    // how long the terminal stays closed
};

// What the options ask to send, checked before anyone connects.
struct SendPlan {
    Format format;
    std::string terminator;
    ValueSource source;
    long count;           // values to send; 0 until stopped
    std::string request;  // the bytes each value waits for; empty: none
};

// Throws std::invalid_argument naming what is wrong: an unknown format or terminator, a value that is no
// decimal or does not fit the format, a range without both ends or with too many steps, a request that
// stands for no bytes.
SendPlan planFrom(const Options& options);

}  // namespace rszorvik::sim
