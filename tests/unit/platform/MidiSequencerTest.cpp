#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/MidiSequencer.h"
#include "platform/MidiSequencerFluidSynth.h"
#include "platform/MidiSequencerRendering.h"
#include "platform/MidiSequencerTimeline.h"

using namespace std::chrono_literals;
using rszorvik::platform::MidiEvent;
using rszorvik::platform::MidiMessage;
using rszorvik::platform::MidiSequence;
using rszorvik::platform::MidiSequencerFluidSynth;
using rszorvik::platform::MidiSequencerOptions;
using rszorvik::platform::MidiSequencerRendering;
using rszorvik::platform::MidiSequencerTimeline;
using rszorvik::platform::MidiUnavailableError;
using Micros = std::chrono::microseconds;

namespace {

constexpr MidiMessage noteOn(int channel, int key) {
    return {static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(key), 127};
}
constexpr MidiMessage noteOff(int channel, int key, int velocity = 127) {
    return {static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(key),
            static_cast<std::uint8_t>(velocity)};
}

MidiSequence stroke(int resolution, int key, long offTick = 1) {
    MidiSequence sequence(resolution);
    auto& track = sequence.createTrack();
    track.add({noteOn(9, key), 0});
    track.add({noteOff(9, key), offTick});
    return sequence;
}

}  // namespace

// --- timing shared by the backends ---

struct TickTiming {
    int resolution;
    long tick;
    Micros expected;
};

class TimelineTickTest : public ::testing::TestWithParam<TickTiming> {};

TEST_P(TimelineTickTest, EventFallsDueAtItsTickAtTheDefaultTempo) {
    const auto& [resolution, tick, expected] = GetParam();
    MidiSequencerTimeline timeline;
    timeline.setSequence(stroke(resolution, 60, tick));
    timeline.start(1000us);
    EXPECT_EQ(timeline.takeDue(1000us), std::vector{noteOn(9, 60)});
    ASSERT_TRUE(timeline.nextDue());
    EXPECT_EQ(*timeline.nextDue(), 1000us + expected);
    EXPECT_TRUE(timeline.takeDue(1000us + expected - 1us).empty());
    EXPECT_EQ(timeline.takeDue(1000us + expected), std::vector{noteOff(9, 60)});
    EXPECT_FALSE(timeline.running());
}

INSTANTIATE_TEST_SUITE_P(Tempo120, TimelineTickTest,
                         ::testing::Values(TickTiming{4, 1, 125000us}, TickTiming{4, 3, 375000us},
                                           TickTiming{2, 1, 250000us}, TickTiming{480, 1, 1041us},
                                           TickTiming{1, 2, 1000000us}));

TEST(MidiSequencerTimelineTest, TracksMergeInTickOrderAndKeepTheirOrderWithinATick) {
    MidiSequence sequence(4);
    auto& first = sequence.createTrack();
    first.add({noteOn(0, 60), 2});
    first.add({noteOff(0, 60), 3});
    auto& second = sequence.createTrack();
    second.add({noteOff(1, 50), 0});
    second.add({noteOn(1, 50), 0});
    second.add({noteOn(1, 52), 2});

    MidiSequencerTimeline timeline;
    timeline.setSequence(sequence);
    timeline.start(0us);
    EXPECT_EQ(timeline.takeDue(0us), (std::vector{noteOff(1, 50), noteOn(1, 50)}));
    EXPECT_EQ(timeline.takeDue(250000us), (std::vector{noteOn(0, 60), noteOn(1, 52)}));
    // Stopping releases what is still sounding, in (channel, key) order.
    EXPECT_EQ(timeline.stop(300000us),
              (std::vector{noteOff(0, 60, 0), noteOff(1, 50, 0), noteOff(1, 52, 0)}));
    EXPECT_EQ(timeline.tickPosition(300000us), 2);
}

TEST(MidiSequenceTest, ResolutionMustBePositive) {
    EXPECT_THROW(MidiSequence(0), std::invalid_argument);
    EXPECT_THROW(MidiSequence(-4), std::invalid_argument);
}

// --- the synthesizer rendering into memory ---

TEST(MidiSequencerRenderingTest, CloseReleasesTheSynthesizerOnce) {
    MidiSequencerRendering sequencer;
    sequencer.setSequence(stroke(4, 75));
    sequencer.start();
    sequencer.close();
    EXPECT_FALSE(sequencer.isOpen());
    EXPECT_FALSE(sequencer.isRunning());
    EXPECT_NO_THROW(sequencer.close());
    EXPECT_THROW(sequencer.start(), std::logic_error);
    EXPECT_THROW(sequencer.setTickPosition(0), std::logic_error);
    EXPECT_THROW(sequencer.advance(10ms), std::logic_error);
}

struct BadSoundFont {
    const char* name;
    std::string path;
    const char* expected;  // part of the message
};

class SoundFontFailureTest : public ::testing::TestWithParam<BadSoundFont> {};

TEST_P(SoundFontFailureTest, ReportsWhatIsWrongFromTheConstructor) {
    const auto& font = GetParam();
    try {
        MidiSequencerRendering sequencer(font.path);
        FAIL() << "opened " << font.path;
    } catch (const MidiUnavailableError& error) {
        EXPECT_NE(std::string(error.what()).find(font.expected), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find(font.path), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SoundFontFailureTest,
    ::testing::Values(BadSoundFont{"missing", "/nonexistent/zorvik/none.sf2", "Sound font not found"},
                      BadSoundFont{"folder", "/usr/share", "Sound font not found"},
                      BadSoundFont{"notASoundFont", "/etc/hostname", "Cannot load sound font"}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

// --- the sound-card backend ---

TEST(MidiSequencerFluidSynthTest, AnAudioOutputThatCannotOpenIsReportedNotFatal) {
    MidiSequencerOptions options;
    options.audioDriver = "no-such-driver";
    try {
        MidiSequencerFluidSynth sequencer(options);
        FAIL() << "opened an audio driver that does not exist";
    } catch (const MidiUnavailableError& error) {
        EXPECT_NE(std::string(error.what()).find("no-such-driver"), std::string::npos) << error.what();
    }
}

TEST(MidiSequencerFluidSynthTest, DefaultSequencerEitherPlaysOrSaysWhy) {
    try {
        auto sequencer = rszorvik::platform::openDefaultSequencer();
        sequencer->setSequence(stroke(4, 56));
        sequencer->start();
        sequencer->close();
        EXPECT_FALSE(sequencer->isOpen());
    } catch (const MidiUnavailableError& error) {
        EXPECT_NE(std::string(error.what()).find("audio output"), std::string::npos) << error.what();
    }
}

// The file driver renders in real time like a sound card, so the playback thread is what times the stroke.
TEST(MidiSequencerFluidSynthTest, PlaybackThreadPlaysTheStrokeToTheOutput) {
    const auto file =
        std::filesystem::temp_directory_path() / ("zorvik-midi-" + std::to_string(::getpid()) + ".wav");
    MidiSequencerOptions options;
    options.audioDriver = "file";
    options.audioFile = file.string();
    {
        MidiSequencerFluidSynth sequencer(options);
        sequencer.setSequence(stroke(4, 56));
        sequencer.setTickPosition(0);
        sequencer.start();
        // Generous: only that the note-off arrives at all, not when.
        for (int i = 0; i < 500 && sequencer.isRunning(); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(sequencer.isRunning());
        std::this_thread::sleep_for(100ms);
        sequencer.close();
        EXPECT_FALSE(sequencer.isOpen());
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::filesystem::remove(file);
    ASSERT_GT(bytes.size(), 44u + 1000u);
    int peak = 0;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
        peak = std::max(peak, std::abs(int(sample)));
    }
    EXPECT_GT(peak, 1000);
}
