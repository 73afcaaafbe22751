#include "platform/MidiSequencer.h"

#include <cstdlib>

namespace rszorvik::platform {

MidiSequence::MidiSequence(int resolution) : resolution(resolution) {
    if (resolution <= 0) throw std::invalid_argument("MIDI resolution must be positive");
}

MidiTrack& MidiSequence::createTrack() {
    return tracks.emplace_back();
}

std::string resolveSoundFont(const std::string& requested) {
    if (!requested.empty()) return requested;
    if (const char* fromEnvironment = std::getenv("ZORVIK_SOUNDFONT"); fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    return kDefaultSoundFont;
}

std::string resolveAudioDriver(const std::string& requested) {
    if (!requested.empty()) return requested;
    if (const char* fromEnvironment = std::getenv("ZORVIK_AUDIO_DRIVER"); fromEnvironment)
        return fromEnvironment;
    return {};
}

}  // namespace rszorvik::platform
