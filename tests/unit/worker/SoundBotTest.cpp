#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/MidiSequencerRendering.h"
#include "support/Environment.h"
#include "worker/SoundBot.h"

using namespace std::chrono_literals;
using rszorvik::platform::MidiMessage;
using rszorvik::platform::MidiSequencerRendering;
using rszorvik::platform::MidiUnavailableError;
using rszorvik::worker::SoundBot;
using Sound = SoundBot::Sound;
using Micros = std::chrono::microseconds;

namespace {

struct SoundCase {
    Sound sound;
    int key;
};

// Well above the synthesizer's idle noise (about 1e-8), well below the first 50 ms of any of the strokes.
constexpr double kAudible = 0.005;

struct Sent {
    Micros time;
    MidiMessage message;
    bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Sent& sent) {
    return os << sent.time.count() << "us " << std::hex << int(sent.message.status) << ' ' << std::dec
              << int(sent.message.data1) << ' ' << int(sent.message.data2);
}

Sent on(Micros time, int key) {
    return {time, {0x99, static_cast<std::uint8_t>(key), 127}};
}
Sent off(Micros time, int key, int velocity = 127) {
    return {time, {0x89, static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(velocity)}};
}

// A bot over the in-memory synthesizer, which the test keeps driving after handing it over.
struct Rig {
    explicit Rig(Sound sound) {
        auto owned = std::make_unique<MidiSequencerRendering>();
        synth = owned.get();
        bot.emplace(sound, std::move(owned));
    }

    std::vector<Sent> sent() const {
        std::vector<Sent> out;
        for (const auto& s : synth->sent())
            out.push_back({s.time, s.message});
        return out;
    }

    double rms(Micros from, Micros to) const {
        const auto& samples = synth->left();
        const auto rate = synth->sampleRate();
        const auto begin = static_cast<std::size_t>(from.count() * rate / 1000000);
        const auto end = std::min(samples.size(), static_cast<std::size_t>(to.count() * rate / 1000000));
        double sum = 0.0;
        for (std::size_t i = begin; i < end; ++i)
            sum += double(samples[i]) * samples[i];
        return end > begin ? std::sqrt(sum / double(end - begin)) : 0.0;
    }

    MidiSequencerRendering* synth = nullptr;
    std::optional<SoundBot> bot;
};

}  // namespace

class SoundBotStrokeTest : public ::testing::TestWithParam<SoundCase> {};

TEST_P(SoundBotStrokeTest, StrikesThePercussionKeyForOneTickOnChannelTen) {
    const auto [sound, key] = GetParam();
    ASSERT_EQ(sound.getPercussionNumber(), key);
    Rig rig(sound);
    rig.synth->advance(100ms);
    rig.bot->beep();
    rig.synth->advance(3s);

    EXPECT_EQ(rig.sent(), (std::vector{on(100ms, key), off(225ms, key)}));
    EXPECT_LT(rig.rms(0ms, 100ms), 1e-5) << "sounded before beep()";
    const double struck = rig.rms(100ms, 150ms);
    EXPECT_GT(struck, kAudible);
    // Percussion sounds of the font ring out by their own envelope (the ride bell and the triangle for
    // about two seconds); the stroke must die away, not hang.
    EXPECT_LT(rig.rms(300ms, 350ms), struck);
    EXPECT_LT(rig.rms(3s - 100ms, 3s), struck / 20);
}

TEST_P(SoundBotStrokeTest, BeepDuringTheStrokeStartsItAgainFromTheBeginning) {
    const auto [sound, key] = GetParam();
    Rig rig(sound);
    rig.bot->beep();
    rig.synth->advance(60ms);
    rig.bot->beep();
    rig.synth->advance(500ms);

    // The first stroke is cut off at the restart: its own note-off at 125 ms never comes.
    EXPECT_EQ(rig.sent(), (std::vector{on(0ms, key), off(60ms, key, 0), on(60ms, key), off(185ms, key)}));
    EXPECT_GT(rig.rms(60ms, 110ms), kAudible);
}

TEST_P(SoundBotStrokeTest, BeepAfterTheStrokeEndedStrikesAgain) {
    const auto [sound, key] = GetParam();
    Rig rig(sound);
    rig.bot->beep();
    rig.synth->advance(400ms);
    rig.bot->beep();
    rig.synth->advance(400ms);

    EXPECT_EQ(rig.sent(), (std::vector{on(0ms, key), off(125ms, key), on(400ms, key), off(525ms, key)}));
    EXPECT_GT(rig.rms(400ms, 450ms), kAudible);
}

INSTANTIATE_TEST_SUITE_P(GeneralMidiPercussion, SoundBotStrokeTest,
                         ::testing::Values(SoundCase{Sound::RIDE_BELL, 53}, SoundCase{Sound::COWBELL, 56},
                                           SoundCase{Sound::HIGH_AGOGO, 67}, SoundCase{Sound::LOW_AGOGO, 68},
                                           SoundCase{Sound::CLAVES, 75}, SoundCase{Sound::OPEN_TRIANGLE, 81}),
                         [](const auto& paramInfo) { return std::string(paramInfo.param.sound.name()); });

TEST(SoundBotTest, CloseReleasesTheSequencerAndLaterBeepsAreIgnored) {
    Rig rig(Sound::COWBELL);
    rig.bot->beep();
    rig.bot->close();
    EXPECT_FALSE(rig.synth->isOpen());
    EXPECT_NO_THROW(rig.bot->beep());
    EXPECT_NO_THROW(rig.bot->close());
    EXPECT_EQ(rig.sent().size(), 1u);  // only the note-on before close
}

TEST(SoundBotTest, DestructionClosesTheSequencer) {
    class Watched : public MidiSequencerRendering {
      public:
        explicit Watched(bool& closed) : wasClosed(closed) {}
        void close() override {
            wasClosed = true;
            MidiSequencerRendering::close();
        }

      private:
        bool& wasClosed;
    };
    bool closed = false;
    { SoundBot bot(Sound::CLAVES, std::make_unique<Watched>(closed)); }
    EXPECT_TRUE(closed);
}

TEST(SoundBotTest, NoneHasNoSoundOutput) {
    EXPECT_THROW(SoundBot(Sound::NONE, std::make_unique<MidiSequencerRendering>()), std::invalid_argument);
    EXPECT_THROW(SoundBot{Sound::NONE}, std::invalid_argument);
}

TEST(SoundBotTest, MissingSoundFontIsReportedFromTheConstructor) {
    const char* old = std::getenv("ZORVIK_SOUNDFONT");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    rszorvik::test::setEnvironment("ZORVIK_SOUNDFONT", "/nonexistent/zorvik-test.sf2");
    try {
        SoundBot bot(Sound::RIDE_BELL);
        ADD_FAILURE() << "opened a sound output without a sound font";
    } catch (const MidiUnavailableError& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/zorvik-test.sf2"), std::string::npos);
    }
    if (saved)
        rszorvik::test::setEnvironment("ZORVIK_SOUNDFONT", *saved);
    else
        rszorvik::test::unsetEnvironment("ZORVIK_SOUNDFONT");
}
