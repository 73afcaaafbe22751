#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/MidiSequencer.h"
#include "platform/MidiSequencerTimeline.h"

namespace rszorvik::platform {

// A MIDI output that takes channel messages packed as on Windows: status in the low byte, then the two data
// bytes.
class MidiShortMessageDevice {
  public:
    virtual ~MidiShortMessageDevice() = default;
    virtual void send(std::uint32_t message) = 0;
    // Silences every channel; called once, before the device is closed.
    virtual void reset() = 0;
};

// Plays a sequence to such a device (FluidSynth, or the system's synthesizer on Windows); a playback thread
// of its own sends each message on time.
class MidiSequencerDevice : public MidiSequencer {
  public:
    explicit MidiSequencerDevice(std::unique_ptr<MidiShortMessageDevice> device);
    ~MidiSequencerDevice() override;

    static std::uint32_t pack(const MidiMessage& message);

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
    std::unique_ptr<MidiShortMessageDevice> device;
    mutable std::mutex mutex;
    std::condition_variable_any wake;
    bool changed = false;
    MidiSequencerTimeline timeline;
    std::jthread thread;
};

}  // namespace rszorvik::platform
