// Systems without a synthesizer backend: sound output reports once that it cannot start, and a run goes
// on without sound.
#include "platform/MidiSequencer.h"

namespace rszorvik::platform {

std::unique_ptr<MidiSequencer> openDefaultSequencer(const MidiSequencerOptions&) {
    throw MidiUnavailableError("No MIDI synthesizer on this platform");
}

}  // namespace rszorvik::platform
