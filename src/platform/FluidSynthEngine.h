#pragma once

#include <string>

#include "platform/MidiSequencer.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_audio_driver_t fluid_audio_driver_t;

namespace rszorvik::platform {

// One FluidSynth synthesizer with a loaded sound font and, on request, an audio output.
// The constructor and openAudio throw MidiUnavailableError with a message naming what failed.
class FluidSynthEngine {
  public:
    FluidSynthEngine(const std::string& soundFont, double sampleRate);
    ~FluidSynthEngine();
    FluidSynthEngine(const FluidSynthEngine&) = delete;
    FluidSynthEngine& operator=(const FluidSynthEngine&) = delete;

    // Plays to the sound card through the named driver (empty: the synthesizer's default); the driver
    // "file" writes to audioFile instead.
    void openAudio(const std::string& driver, const std::string& audioFile = {});
    void send(const MidiMessage& message);
    // Stereo float samples; only without an audio output, which renders on its own thread.
    void render(float* left, float* right, int frames);
    void silence();

  private:
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* audioDriver = nullptr;
};

}  // namespace rszorvik::platform
