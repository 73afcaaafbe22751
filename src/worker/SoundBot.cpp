#include "worker/SoundBot.h"

#include <stdexcept>

namespace rszorvik::worker {
namespace {

int percussionKey(SoundBot::Sound sound) {
    if (sound == SoundBot::Sound::NONE) throw std::invalid_argument("No sound output for the sound NONE");
    return sound.getPercussionNumber();
}

}  // namespace

SoundBot::SoundBot(Sound sound) : SoundBot(sound, nullptr) {}

SoundBot::SoundBot(Sound sound, std::unique_ptr<platform::MidiSequencer> injected) {
    const auto key = static_cast<std::uint8_t>(percussionKey(sound));
    sequencer = injected ? std::move(injected) : platform::openDefaultSequencer();
    auto& track = seq.createTrack();
    track.add({{0x90 | kChannel, key, kVelocity}, 0});
    track.add({{0x80 | kChannel, key, kVelocity}, 1});
    sequencer->setSequence(seq);
}

SoundBot::~SoundBot() {
    close();
}

void SoundBot::beep() {
    if (!sequencer->isOpen()) return;
    sequencer->setTickPosition(0);
    sequencer->start();
}

void SoundBot::close() {
    sequencer->close();
}

}  // namespace rszorvik::worker
