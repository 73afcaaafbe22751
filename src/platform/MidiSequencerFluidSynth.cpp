#include "platform/MidiSequencerFluidSynth.h"

#include <stdexcept>

namespace rszorvik::platform {

MidiSequencerFluidSynth::MidiSequencerFluidSynth(const MidiSequencerOptions& options)
    : engine_(std::make_unique<FluidSynthEngine>(resolveSoundFont(options.soundFont), 44100.0)) {
    engine_->openAudio(resolveAudioDriver(options.audioDriver), options.audioFile);
    thread_ = std::jthread([this](std::stop_token stop) { playback(stop); });
}

MidiSequencerFluidSynth::~MidiSequencerFluidSynth() {
    close();
}

void MidiSequencerFluidSynth::setSequence(const MidiSequence& sequence) {
    std::lock_guard lock(mutex_);
    requireOpen();
    send(timeline_.stop(now()));
    timeline_.setSequence(sequence);
    changed_ = true;
    wake_.notify_all();
}

void MidiSequencerFluidSynth::setTickPosition(long tick) {
    std::lock_guard lock(mutex_);
    requireOpen();
    send(timeline_.setTickPosition(tick, now()));
    changed_ = true;
    wake_.notify_all();
}

void MidiSequencerFluidSynth::start() {
    std::lock_guard lock(mutex_);
    requireOpen();
    const Micros at = now();
    timeline_.start(at);
    // The first messages go out from here so a stroke does not wait for the playback thread to wake.
    send(timeline_.takeDue(at));
    changed_ = true;
    wake_.notify_all();
}

bool MidiSequencerFluidSynth::isRunning() const {
    std::lock_guard lock(mutex_);
    return timeline_.running();
}

bool MidiSequencerFluidSynth::isOpen() const {
    std::lock_guard lock(mutex_);
    return engine_ != nullptr;
}

void MidiSequencerFluidSynth::close() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    std::lock_guard lock(mutex_);
    if (!engine_) return;
    timeline_.stop(now());
    engine_->silence();
    engine_.reset();
}

MidiSequencerFluidSynth::Micros MidiSequencerFluidSynth::now() const {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - epoch_);
}

void MidiSequencerFluidSynth::requireOpen() const {
    if (!engine_) throw std::logic_error("MIDI sequencer is closed");
}

void MidiSequencerFluidSynth::send(const std::vector<MidiMessage>& messages) {
    for (const auto& message : messages)
        engine_->send(message);
}

void MidiSequencerFluidSynth::playback(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        send(timeline_.takeDue(now()));
        changed_ = false;
        const auto woken = [this] { return changed_; };
        if (const auto next = timeline_.nextDue())
            wake_.wait_until(lock, stop, epoch_ + *next, woken);
        else
            wake_.wait(lock, stop, woken);
    }
}

}  // namespace rszorvik::platform
