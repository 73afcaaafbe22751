#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
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

double rms(const std::vector<float>& samples, int rate, Micros from, Micros to) {
    const auto begin = static_cast<std::size_t>(from.count() * rate / 1000000);
    const auto end = std::min(samples.size(), static_cast<std::size_t>(to.count() * rate / 1000000));
    if (end <= begin) return 0.0;
    double sum = 0.0;
    for (std::size_t i = begin; i < end; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(end - begin));
}

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

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

TEST(MidiSequencerTimelineTest, RestartDuringPlaybackReleasesTheNoteAndReplaysFromTheNewOrigin) {
    MidiSequencerTimeline timeline;
    timeline.setSequence(stroke(4, 56));
    timeline.start(0us);
    ASSERT_EQ(timeline.takeDue(0us).size(), 1u);

    EXPECT_EQ(timeline.setTickPosition(0, 60000us), std::vector{noteOff(9, 56, 0)});
    timeline.start(60000us);  // already playing: no second origin
    EXPECT_EQ(timeline.takeDue(60000us), std::vector{noteOn(9, 56)});
    EXPECT_TRUE(timeline.takeDue(124999us + 60000us).empty());
    EXPECT_EQ(timeline.takeDue(185000us), std::vector{noteOff(9, 56)});
}

TEST(MidiSequencerTimelineTest, AtTheEndStartPlaysNothingUntilThePositionIsReset) {
    MidiSequencerTimeline timeline;
    timeline.setSequence(stroke(4, 81));
    timeline.start(0us);
    timeline.takeDue(200000us);
    EXPECT_EQ(timeline.tickPosition(200000us), 1);

    timeline.start(300000us);
    EXPECT_FALSE(timeline.running());
    EXPECT_TRUE(timeline.takeDue(900000us).empty());

    EXPECT_TRUE(timeline.setTickPosition(0, 300000us).empty());  // nothing was sounding
    timeline.start(300000us);
    EXPECT_EQ(timeline.takeDue(300000us), std::vector{noteOn(9, 81)});
}

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

TEST(MidiSequencerRenderingTest, SoundsOnlyWhilePlayedAndSendsAtTheControlledTime) {
    MidiSequencerRendering sequencer;
    const int rate = sequencer.sampleRate();
    sequencer.setSequence(stroke(4, 56));
    sequencer.advance(100ms);
    EXPECT_LT(rms(sequencer.left(), rate, 0us, 100ms), 1e-5);

    sequencer.setTickPosition(0);
    sequencer.start();
    EXPECT_TRUE(sequencer.isRunning());
    sequencer.advance(600ms);
    EXPECT_FALSE(sequencer.isRunning());
    ASSERT_EQ(sequencer.sent().size(), 2u);
    EXPECT_EQ(sequencer.sent()[0].time, 100ms);
    EXPECT_EQ(sequencer.sent()[1].time, 225ms);
    EXPECT_EQ(sequencer.left().size(), static_cast<std::size_t>(rate * 7 / 10));

    const double struck = rms(sequencer.left(), rate, 100ms, 150ms);
    EXPECT_GT(struck, 0.01);
    EXPECT_LT(rms(sequencer.left(), rate, 600ms, 700ms), struck / 10);
}

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

TEST(SoundFontChoiceTest, ParameterThenEnvironmentThenSystemDefault) {
    {
        ScopedEnv env("ZORVIK_SOUNDFONT", nullptr);
        EXPECT_EQ(rszorvik::platform::resolveSoundFont(""), "/usr/share/sounds/sf2/TimGM6mb.sf2");
        EXPECT_EQ(rszorvik::platform::resolveSoundFont("/x.sf2"), "/x.sf2");
    }
    ScopedEnv env("ZORVIK_SOUNDFONT", "/nonexistent/from-env.sf2");
    EXPECT_EQ(rszorvik::platform::resolveSoundFont("/x.sf2"), "/x.sf2");
    EXPECT_THROW(
        {
            try {
                MidiSequencerRendering sequencer;
            } catch (const MidiUnavailableError& error) {
                EXPECT_NE(std::string(error.what()).find("/nonexistent/from-env.sf2"), std::string::npos);
                throw;
            }
        },
        MidiUnavailableError);
}

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
