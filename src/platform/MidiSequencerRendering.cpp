#include "platform/MidiSequencerRendering.h"

#include <stdexcept>

namespace rszorvik::platform {

MidiSequencerRendering::MidiSequencerRendering(const std::string& soundFont, int sampleRate)
    : samplesPerSecond(sampleRate),
      engine(std::make_unique<FluidSynthEngine>(resolveSoundFont(soundFont), sampleRate)) {}

MidiSequencerRendering::~MidiSequencerRendering() {
    close();
}

void MidiSequencerRendering::setSequence(const MidiSequence& sequence) {
    requireOpen();
    send(timeline.stop(currentTime));
    timeline.setSequence(sequence);
}

void MidiSequencerRendering::setTickPosition(long tick) {
    requireOpen();
    send(timeline.setTickPosition(tick, currentTime));
}

void MidiSequencerRendering::start() {
    requireOpen();
    timeline.start(currentTime);
    send(timeline.takeDue(currentTime));
}

void MidiSequencerRendering::close() {
    if (!engine) return;
    timeline.stop(currentTime);
    engine->silence();
    engine.reset();
}

void MidiSequencerRendering::advance(Micros duration) {
    requireOpen();
    const Micros target = currentTime + duration;
    for (auto next = timeline.nextDue(); next && *next <= target; next = timeline.nextDue()) {
        renderUntil(*next);
        currentTime = *next;
        send(timeline.takeDue(currentTime));
    }
    renderUntil(target);
    currentTime = target;
}

void MidiSequencerRendering::requireOpen() const {
    if (!engine) throw std::logic_error("MIDI sequencer is closed");
}

void MidiSequencerRendering::send(const std::vector<MidiMessage>& messages) {
    for (const auto& message : messages) {
        engine->send(message);
        sentMessages.push_back({currentTime, message});
    }
}

void MidiSequencerRendering::renderUntil(Micros time) {
    const auto targetFrame = static_cast<std::size_t>(time.count() * samplesPerSecond / 1000000);
    if (targetFrame <= leftSamples.size()) return;
    const std::size_t from = leftSamples.size();
    const auto frames = static_cast<int>(targetFrame - from);
    leftSamples.resize(targetFrame);
    rightSamples.resize(targetFrame);
    engine->render(leftSamples.data() + from, rightSamples.data() + from, frames);
}

}  // namespace rszorvik::platform
