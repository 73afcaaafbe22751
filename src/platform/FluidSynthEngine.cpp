#include "platform/FluidSynthEngine.h"

#include <fluidsynth.h>

#include <filesystem>
#include <mutex>

namespace rszorvik::platform {
namespace {

// FluidSynth reports failures through its log; keep the last error of this thread for our messages
// instead of printing it, and drop the chatter of the lower levels.
thread_local std::string lastFluidError;

void keepError(int, const char* message, void*) {
    lastFluidError = message ? message : "";
}

void installLogHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, keepError, nullptr);
        fluid_set_log_function(FLUID_ERR, keepError, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

std::string takeError() {
    std::string error = lastFluidError.empty() ? std::string("no details") : lastFluidError;
    lastFluidError.clear();
    return error;
}

}  // namespace

FluidSynthEngine::FluidSynthEngine(const std::string& soundFont, double sampleRate) {
    installLogHandlers();
    std::error_code error;
    if (!std::filesystem::is_regular_file(soundFont, error))
        throw MidiUnavailableError("Sound font not found: " + soundFont +
                                   " (install timgm6mb-soundfont or set ZORVIK_SOUNDFONT)");
    // Checked first: the loader hands other files to a library that complains loudly about them.
    if (!fluid_is_soundfont(soundFont.c_str()))
        throw MidiUnavailableError("Cannot load sound font " + soundFont + ": not a SoundFont file");
    settings = new_fluid_settings();
    if (!settings) throw MidiUnavailableError("Cannot create the synthesizer settings: " + takeError());
    fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
    // One stroke at a time never clips, so it can be louder than the default meant for full polyphony.
    fluid_settings_setnum(settings, "synth.gain", 0.5);
    synth = new_fluid_synth(settings);
    if (!synth) {
        delete_fluid_settings(settings);
        throw MidiUnavailableError("Cannot create the synthesizer: " + takeError());
    }
    if (fluid_synth_sfload(synth, soundFont.c_str(), 1) == FLUID_FAILED) {
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
        throw MidiUnavailableError("Cannot load sound font " + soundFont + ": " + takeError());
    }
}

FluidSynthEngine::~FluidSynthEngine() {
    // The driver renders from the synthesizer, which reads the settings: release in that order.
    if (audioDriver) delete_fluid_audio_driver(audioDriver);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
}

void FluidSynthEngine::openAudio(const std::string& driver, const std::string& audioFile) {
    if (audioDriver) return;
    if (!driver.empty() && fluid_settings_setstr(settings, "audio.driver", driver.c_str()) == FLUID_FAILED)
        throw MidiUnavailableError("Unknown audio driver \"" + driver + "\"");
    if (!audioFile.empty()) fluid_settings_setstr(settings, "audio.file.name", audioFile.c_str());
    char* chosen = nullptr;
    fluid_settings_dupstr(settings, "audio.driver", &chosen);
    const std::string name = chosen ? chosen : "";
    fluid_free(chosen);
    audioDriver = new_fluid_audio_driver(settings, synth);
    if (!audioDriver)
        throw MidiUnavailableError("Cannot open audio output (driver \"" + name + "\"): " + takeError());
}

void FluidSynthEngine::send(const MidiMessage& message) {
    const int channel = message.channel();
    switch (message.command()) {
        case 0x80:
            fluid_synth_noteoff(synth, channel, message.data1);
            break;
        case 0x90:
            if (message.data2 == 0)
                fluid_synth_noteoff(synth, channel, message.data1);
            else
                fluid_synth_noteon(synth, channel, message.data1, message.data2);
            break;
        case 0xA0:
            fluid_synth_key_pressure(synth, channel, message.data1, message.data2);
            break;
        case 0xB0:
            fluid_synth_cc(synth, channel, message.data1, message.data2);
            break;
        case 0xC0:
            fluid_synth_program_change(synth, channel, message.data1);
            break;
        case 0xD0:
            fluid_synth_channel_pressure(synth, channel, message.data1);
            break;
        case 0xE0:
            fluid_synth_pitch_bend(synth, channel, message.data1 | (message.data2 << 7));
            break;
        default:  // system messages have no meaning for the synthesizer
            break;
    }
}

void FluidSynthEngine::render(float* left, float* right, int frames) {
    fluid_synth_write_float(synth, frames, left, 0, 1, right, 0, 1);
}

void FluidSynthEngine::silence() {
    fluid_synth_all_sounds_off(synth, -1);
}

}  // namespace rszorvik::platform
