#include "platform/MidiSequencer.h"
#include "platform/MidiSequencerFluidSynth.h"

namespace rszorvik::platform {

// The one place that picks the sequencer backend for this system.
std::unique_ptr<MidiSequencer> openDefaultSequencer(const MidiSequencerOptions& options) {
    return std::make_unique<MidiSequencerFluidSynth>(options);
}

}  // namespace rszorvik::platform
