#include "platform/MidiSequencerRendering.h"

#include <stdexcept>

namespace rszorvik::platform {

MidiSequencerRendering::MidiSequencerRendering(const std::string& soundFont, int sampleRate)
    : sampleRate_(sampleRate),
      engine_(std::make_unique<FluidSynthEngine>(resolveSoundFont(soundFont), sampleRate)) {}

MidiSequencerRendering::~MidiSequencerRendering() {
    close();
}

void MidiSequencerRendering::setSequence(const MidiSequence& sequence) {
    requireOpen();
    send(timeline_.stop(now_));
    timeline_.setSequence(sequence);
}

void MidiSequencerRendering::setTickPosition(long tick) {
    requireOpen();
    send(timeline_.setTickPosition(tick, now_));
}

void MidiSequencerRendering::start() {
    requireOpen();
    timeline_.start(now_);
    send(timeline_.takeDue(now_));
}

void MidiSequencerRendering::close() {
    if (!engine_) return;
    timeline_.stop(now_);
    engine_->silence();
    engine_.reset();
}

void MidiSequencerRendering::advance(Micros duration) {
    requireOpen();
    const Micros target = now_ + duration;
    for (auto next = timeline_.nextDue(); next && *next <= target; next = timeline_.nextDue()) {
        renderUntil(*next);
        now_ = *next;
        send(timeline_.takeDue(now_));
    }
    renderUntil(target);
    now_ = target;
}

void MidiSequencerRendering::requireOpen() const {
    if (!engine_) throw std::logic_error("MIDI sequencer is closed");
}

void MidiSequencerRendering::send(const std::vector<MidiMessage>& messages) {
    for (const auto& message : messages) {
        engine_->send(message);
        sent_.push_back({now_, message});
    }
}

void MidiSequencerRendering::renderUntil(Micros time) {
    const auto targetFrame = static_cast<std::size_t>(time.count() * sampleRate_ / 1000000);
    if (targetFrame <= left_.size()) return;
    const std::size_t from = left_.size();
    const auto frames = static_cast<int>(targetFrame - from);
    left_.resize(targetFrame);
    right_.resize(targetFrame);
    engine_->render(left_.data() + from, right_.data() + from, frames);
}

}  // namespace rszorvik::platform
