#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/FluidSynthEngine.h"
#include "platform/MidiSequencer.h"
#include "platform/MidiSequencerTimeline.h"

namespace rszorvik::platform {

// Plays through FluidSynth to the sound card; a playback thread of its own sends each message on time.
class MidiSequencerFluidSynth : public MidiSequencer {
  public:
    // Throws MidiUnavailableError when the sound font or the audio output cannot be opened.
    explicit MidiSequencerFluidSynth(const MidiSequencerOptions& options);
    ~MidiSequencerFluidSynth() override;

    void setSequence(const MidiSequence& sequence) override;
    void setTickPosition(long tick) override;
    void start() override;
    bool isRunning() const override;
    void close() override;
    bool isOpen() const override;

  private:
    using Micros = MidiSequencerTimeline::Micros;

    Micros now() const;
    void requireOpen() const;
    void send(const std::vector<MidiMessage>& messages);
    void playback(std::stop_token stop);

    const std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
    std::unique_ptr<FluidSynthEngine> engine;
    mutable std::mutex mutex;
    std::condition_variable_any wake;
    bool changed = false;
    MidiSequencerTimeline timeline;
    std::jthread thread;
};

}  // namespace rszorvik::platform
