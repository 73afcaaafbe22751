#include "platform/MidiSequencerFluidSynth.h"

#include <stdexcept>

namespace rszorvik::platform {

MidiSequencerFluidSynth::MidiSequencerFluidSynth(const MidiSequencerOptions& options)
    : engine(std::make_unique<FluidSynthEngine>(resolveSoundFont(options.soundFont), 44100.0)) {
    engine->openAudio(resolveAudioDriver(options.audioDriver), options.audioFile);
    thread = std::jthread([this](std::stop_token stop) { playback(stop); });
}

MidiSequencerFluidSynth::~MidiSequencerFluidSynth() {
    close();
}

void MidiSequencerFluidSynth::setSequence(const MidiSequence& sequence) {
    std::lock_guard lock(mutex);
    requireOpen();
    send(timeline.stop(now()));
    timeline.setSequence(sequence);
    changed = true;
    wake.notify_all();
}

void MidiSequencerFluidSynth::setTickPosition(long tick) {
    std::lock_guard lock(mutex);
    requireOpen();
    send(timeline.setTickPosition(tick, now()));
    changed = true;
    wake.notify_all();
}

void MidiSequencerFluidSynth::start() {
    std::lock_guard lock(mutex);
    requireOpen();
    const Micros at = now();
    timeline.start(at);
    // The first messages go out from here so a stroke does not wait for the playback thread to wake.
    send(timeline.takeDue(at));
    changed = true;
    wake.notify_all();
}

bool MidiSequencerFluidSynth::isRunning() const {
    std::lock_guard lock(mutex);
    return timeline.running();
}

bool MidiSequencerFluidSynth::isOpen() const {
    std::lock_guard lock(mutex);
    return engine != nullptr;
}

void MidiSequencerFluidSynth::close() {
    if (thread.joinable()) {
        thread.request_stop();
        thread.join();
    }
    std::lock_guard lock(mutex);
    if (!engine) return;
    timeline.stop(now());
    engine->silence();
    engine.reset();
}

MidiSequencerFluidSynth::Micros MidiSequencerFluidSynth::now() const {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - epoch);
}

void MidiSequencerFluidSynth::requireOpen() const {
    if (!engine) throw std::logic_error("MIDI sequencer is closed");
}

void MidiSequencerFluidSynth::send(const std::vector<MidiMessage>& messages) {
    for (const auto& message : messages)
        engine->send(message);
}

void MidiSequencerFluidSynth::playback(std::stop_token stop) {
    std::unique_lock lock(mutex);
    while (!stop.stop_requested()) {
        send(timeline.takeDue(now()));
        changed = false;
        const auto woken = [this] { return changed; };
        if (const auto next = timeline.nextDue())
            wake.wait_until(lock, stop, epoch + *next, woken);
        else
            wake.wait(lock, stop, woken);
    }
}

}  // namespace rszorvik::platform
