#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/FluidSynthEngine.h"
#include "platform/MidiSequencer.h"
#include "platform/MidiSequencerTimeline.h"

namespace rszorvik::platform {

// The FluidSynth synthesizer rendering into memory on a clock the caller drives: nothing plays until
// advance() renders the next stretch of time, with every message sent at its own sample.
class MidiSequencerRendering : public MidiSequencer {
  public:
    using Micros = std::chrono::microseconds;

    struct SentMessage {
        Micros time;
        MidiMessage message;
    };

    explicit MidiSequencerRendering(const std::string& soundFont = {}, int sampleRate = 44100);
    ~MidiSequencerRendering() override;

    void setSequence(const MidiSequence& sequence) override;
    void setTickPosition(long tick) override;
    void start() override;
    bool isRunning() const override { return timeline.running(); }
    void close() override;
    bool isOpen() const override { return engine != nullptr; }

    void advance(Micros duration);  // throws std::logic_error once closed
    Micros now() const { return currentTime; }
    int sampleRate() const { return samplesPerSecond; }
    // One sample per rendered frame and channel, from the construction on.
    const std::vector<float>& left() const { return leftSamples; }
    const std::vector<float>& right() const { return rightSamples; }
    const std::vector<SentMessage>& sent() const { return sentMessages; }

  private:
    void requireOpen() const;
    void send(const std::vector<MidiMessage>& messages);
    void renderUntil(Micros time);

    int samplesPerSecond;
    std::unique_ptr<FluidSynthEngine> engine;
    MidiSequencerTimeline timeline;
    Micros currentTime{0};
    std::vector<float> leftSamples;
    std::vector<float> rightSamples;
    std::vector<SentMessage> sentMessages;
};

}  // namespace rszorvik::platform
