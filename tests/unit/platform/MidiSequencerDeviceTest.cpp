#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/MidiSequencerDevice.h"

// The sequencer that plays to the system's synthesizer on Windows, where Wine has no MIDI device: what it
// hands the device is checked here.
namespace rszorvik::platform {
namespace {

struct DeviceLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint32_t> messages;
    int resets = 0;

    bool waitForMessages(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return messages.size() >= count; });
    }
};

class RecordingDevice : public MidiShortMessageDevice {
  public:
    explicit RecordingDevice(std::shared_ptr<DeviceLog> log) : log(std::move(log)) {}
    void send(std::uint32_t message) override {
        std::lock_guard lock(log->mutex);
        log->messages.push_back(message);
        log->changed.notify_all();
    }
    void reset() override {
        std::lock_guard lock(log->mutex);
        ++log->resets;
    }

  private:
    std::shared_ptr<DeviceLog> log;
};

TEST(MidiSequencerDevice, PacksChannelMessagesAsWindowsTakesThem) {
    struct Case {
        MidiMessage message;
        std::uint32_t packed;
    };
    const Case cases[] = {
        {{0x99, 56, 127}, 0x7f3899},  // cowbell on, percussion channel
        {{0x89, 56, 127}, 0x7f3889},
        {{0x90, 0, 0}, 0x000090},
        {{0xb9, 0xff, 0x80}, 0x007fb9},  // data bytes keep their seven bits
    };
    for (const Case& c : cases)
        EXPECT_EQ(MidiSequencerDevice::pack(c.message), c.packed) << std::hex << c.packed;
}

TEST(MidiSequencerDevice, PlaysEachStrokeInOrderAndSilencesTheDeviceOnceWhenClosed) {
    auto log = std::make_shared<DeviceLog>();
    MidiSequencerDevice sequencer(std::make_unique<RecordingDevice>(log));
    MidiSequence sequence(1);
    auto& track = sequence.createTrack();
    track.add({{0x99, 56, 127}, 0});
    track.add({{0x89, 56, 127}, 1});
    sequencer.setSequence(sequence);
    for (int stroke = 1; stroke <= 2; ++stroke) {
        sequencer.setTickPosition(0);
        sequencer.start();
        ASSERT_TRUE(log->waitForMessages(2U * static_cast<std::size_t>(stroke)));
        // The note-off is due half a second later; the next stroke waits for it.
        while (sequencer.isRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    sequencer.close();
    sequencer.close();
    EXPECT_EQ(log->messages, (std::vector<std::uint32_t>{0x7f3899, 0x7f3889, 0x7f3899, 0x7f3889}));
    EXPECT_EQ(log->resets, 1);
    EXPECT_FALSE(sequencer.isOpen());
    EXPECT_THROW(sequencer.start(), std::logic_error);
}

}  // namespace
}  // namespace rszorvik::platform
