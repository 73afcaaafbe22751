#include "platform/MidiSequencerFluidSynth.h"

#include <memory>

#include "platform/FluidSynthEngine.h"

namespace rszorvik::platform {

namespace {

// FluidSynth as a device of packed channel messages.
class FluidSynthDevice final : public MidiShortMessageDevice {
  public:
    explicit FluidSynthDevice(const MidiSequencerOptions& options)
        : engine(resolveSoundFont(options.soundFont), 44100.0) {
        engine.openAudio(resolveAudioDriver(options.audioDriver), options.audioFile);
    }

    void send(std::uint32_t message) override {
        engine.send({static_cast<std::uint8_t>(message & 0xff),
                     static_cast<std::uint8_t>((message >> 8) & 0x7f),
                     static_cast<std::uint8_t>((message >> 16) & 0x7f)});
    }

    void reset() override { engine.silence(); }

  private:
    FluidSynthEngine engine;
};

}  // namespace

MidiSequencerFluidSynth::MidiSequencerFluidSynth(const MidiSequencerOptions& options)
    : MidiSequencerDevice(std::make_unique<FluidSynthDevice>(options)) {}

}  // namespace rszorvik::platform
