#pragma once

#include "platform/MidiSequencer.h"
#include "platform/MidiSequencerDevice.h"

namespace rszorvik::platform {

// Plays through FluidSynth to the sound card, sequenced as on every other MIDI output.
class MidiSequencerFluidSynth : public MidiSequencerDevice {
  public:
    // Throws MidiUnavailableError when the sound font or the audio output cannot be opened.
    explicit MidiSequencerFluidSynth(const MidiSequencerOptions& options);
};

}  // namespace rszorvik::platform
