#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/MidiSequencer.h"

namespace rszorvik::platform {

// The timing every sequencer backend shares: which message is due when, on a clock the backend supplies.
// Not thread safe; a backend guards it with its own lock.
class MidiSequencerTimeline {
  public:
    using Micros = std::chrono::microseconds;

    // 120 quarter notes per minute, the MIDI default when a sequence sets no tempo.
    static constexpr long kMicrosPerQuarter = 500000;

    void setSequence(const MidiSequence& sequence);
    // Returns the note-offs for the notes still sounding when the position moves during playback.
    std::vector<MidiMessage> setTickPosition(long tick, Micros now);
    void start(Micros now);
    // Stops and returns the note-offs for the notes still sounding.
    std::vector<MidiMessage> stop(Micros now);

    bool running() const { return playing; }
    long tickPosition(Micros now) const;
    Micros tickToMicros(long tick) const;
    // When the next message falls due, while playing.
    std::optional<Micros> nextDue() const;
    // The messages due at or before now, in order. Playback stops after the last event of the sequence.
    std::vector<MidiMessage> takeDue(Micros now);

  private:
    std::vector<MidiMessage> releaseSounding();
    void seek(long tick);

    std::vector<MidiEvent> events;  // all tracks merged, ordered by tick
    int resolution = 1;
    long position = 0;  // tick position while stopped
    bool playing = false;
    Micros origin{0};  // clock time of tick 0 while playing
    std::size_t nextEvent = 0;
    std::set<std::pair<int, int>> sounding;  // (channel, key)
};

}  // namespace rszorvik::platform
