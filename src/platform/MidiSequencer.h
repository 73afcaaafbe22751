#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace rszorvik::platform {

// A channel voice message: status byte (kind in the high nibble, channel 0-15 in the low one), two data
// bytes.
struct MidiMessage {
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;

    int command() const { return status & 0xF0; }
    int channel() const { return status & 0x0F; }
    bool operator==(const MidiMessage&) const = default;
};

struct MidiEvent {
    MidiMessage message;
    long tick = 0;
};

struct MidiTrack {
    std::vector<MidiEvent> events;
    void add(const MidiEvent& event) { events.push_back(event); }
};

// A sequence timed in pulses per quarter note. Without tempo events it plays at 120 quarter notes per minute.
struct MidiSequence {
    explicit MidiSequence(int resolution);  // throws std::invalid_argument unless resolution > 0
    MidiTrack& createTrack();

    int resolution;
    std::vector<MidiTrack> tracks;
};

// The sequencer or its synthesizer or audio output could not be obtained.
class MidiUnavailableError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Plays one loaded sequence on a playback clock of its own; the calls return at once.
class MidiSequencer {
  public:
    virtual ~MidiSequencer() = default;

    virtual void setSequence(const MidiSequence& sequence) = 0;
    // Moves the play position; while playing, notes still sounding are released and playback goes on from
    // there.
    virtual void setTickPosition(long tick) = 0;
    // Plays from the current position to the end of the sequence; does nothing while already playing.
    virtual void start() = 0;
    virtual bool isRunning() const = 0;
    // Silences and releases the synthesizer and the audio output; a second call does nothing. The other
    // operations throw std::logic_error once the sequencer is closed.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

struct MidiSequencerOptions {
    // Empty: the environment variable ZORVIK_SOUNDFONT, else the General MIDI sound font of the system.
    std::string soundFont;
    // Empty: the environment variable ZORVIK_AUDIO_DRIVER, else the synthesizer's default driver.
    std::string audioDriver;
    // Where the driver "file" writes; empty: the synthesizer's default name in the working folder.
    std::string audioFile;
};

// The sound font used when neither the options nor the environment name one.
inline constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// Option, then environment variable, then default.
std::string resolveSoundFont(const std::string& requested);
std::string resolveAudioDriver(const std::string& requested);

// The platform's default sequencer, opened and playing to the sound card. Throws MidiUnavailableError with a
// message that says what is missing (sound font, audio output).
std::unique_ptr<MidiSequencer> openDefaultSequencer(const MidiSequencerOptions& options = {});

}  // namespace rszorvik::platform
