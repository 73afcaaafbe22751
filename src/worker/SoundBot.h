#pragma once

#include <memory>

#include "config/ConfigHelper.h"
#include "platform/MidiSequencer.h"

namespace rszorvik::worker {

// Confirms each typed value with one short General MIDI percussion stroke. Created per output run for a
// sound other than NONE, closed at stop.
class SoundBot {
  public:
    using Sound = config::ConfigHelper::Sound;

    // Opens the platform's default sequencer. Throws platform::MidiUnavailableError when there is no sound
    // output, std::invalid_argument for Sound::NONE.
    explicit SoundBot(Sound sound);
    SoundBot(Sound sound, std::unique_ptr<platform::MidiSequencer> sequencer);
    ~SoundBot();
    SoundBot(const SoundBot&) = delete;
    SoundBot& operator=(const SoundBot&) = delete;

    // Strikes once, from the beginning even while the last stroke still sounds. Returns at once; does
    // nothing after close().
    void beep();
    void close();

    static constexpr int kChannel = 9;  // General MIDI percussion, channel 10
    static constexpr int kVelocity = 127;
    static constexpr int kResolution = 4;  // ticks per quarter note: one tick is 125 ms at 120 per minute

  private:
    std::unique_ptr<platform::MidiSequencer> sequencer;
    platform::MidiSequence seq{kResolution};
};

}  // namespace rszorvik::worker
