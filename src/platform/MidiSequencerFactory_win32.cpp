// Sound on Windows: the General MIDI synthesizer the system offers through WinMM.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <string>

#include "platform/MidiSequencer.h"
#include "platform/MidiSequencerDevice.h"

namespace rszorvik::platform {

namespace {

class WinMmDevice final : public MidiShortMessageDevice {
  public:
    WinMmDevice() {
        // The mapper is the device the user chose; without one, the first device there is.
        MMRESULT result = midiOutOpen(&handle, MIDI_MAPPER, 0, 0, CALLBACK_NULL);
        if (result != MMSYSERR_NOERROR && midiOutGetNumDevs() > 0)
            result = midiOutOpen(&handle, 0, 0, 0, CALLBACK_NULL);
        if (result != MMSYSERR_NOERROR)
            throw MidiUnavailableError("No MIDI output device (midiOutOpen: error " + std::to_string(result) +
                                       ")");
    }
    ~WinMmDevice() override { midiOutClose(handle); }
    WinMmDevice(const WinMmDevice&) = delete;
    WinMmDevice& operator=(const WinMmDevice&) = delete;

    void send(std::uint32_t message) override { midiOutShortMsg(handle, message); }
    void reset() override { midiOutReset(handle); }

  private:
    HMIDIOUT handle = nullptr;
};

}  // namespace

std::unique_ptr<MidiSequencer> openDefaultSequencer(const MidiSequencerOptions&) {
    return std::make_unique<MidiSequencerDevice>(std::make_unique<WinMmDevice>());
}

}  // namespace rszorvik::platform
