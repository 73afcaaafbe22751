#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/Interruptible.h"
#include "base/InterruptibleThread.h"
#include "base/MessageCatalog.h"
#include "support/MessageView.h"
#include "support/RecordingKeyInjector.h"
#include "worker/Keybot.h"

namespace rszorvik::worker {
namespace {

using test::KeyEvent;
using test::MessageView;
using test::RecordingKeyInjector;
using KeyboardType = Keybot::KeyboardType;
using KeyMapType = Keybot::KeyMapType;

struct Settings {
    int keyDelay = 0;
    int startWith = 0;
    int endWith = 0;
    int endWith2 = 0;
    int everyXValues = 0;
    KeyboardType keyboardType = KeyboardType::QUERTY;
    KeyMapType keyMapType = KeyMapType::NUMERIC;
};

class KeybotTest : public ::testing::Test {
  protected:
    void SetUp() override { Keybot::queue().clear(); }
    void TearDown() override { Keybot::queue().clear(); }

    // A Keybot over a fresh recording injector, which `injector` then points at.
    std::unique_ptr<Keybot> make(const Settings& s, bool withView = true) {
        auto recorder = std::make_unique<RecordingKeyInjector>();
        injector = recorder.get();
        return std::make_unique<Keybot>(s.keyDelay, s.startWith, s.endWith, s.endWith2, s.everyXValues,
                                        s.keyboardType, s.keyMapType, withView ? &view : nullptr,
                                        std::move(recorder));
    }

    static std::string label(KeyboardType type) { return type.toString(); }

    MessageView view;
    RecordingKeyInjector* injector = nullptr;
};

// Start keys and terminators that are characters go through the complete map whatever the preset's map,
// so the injector is told the characters of both when the output starts.
TEST_F(KeybotTest, TellsTheInjectorEveryCharacterOfBothMaps) {
    struct Case {
        Settings settings;
        std::u32string_view characters;
    };
    const Case cases[] = {
        {{.keyboardType = KeyboardType::GERMAN}, U"0,.^`;~A"},
        {{.keyboardType = KeyboardType::ALL, .keyMapType = KeyMapType::ALPHANUMERIC_BASIC}, U"5Zz{|}"},
    };
    for (const Case& c : cases) {
        const auto keybot = make(c.settings);
        const std::u32string prepared = injector->prepared();
        for (const char32_t character : c.characters)
            EXPECT_NE(prepared.find(character), std::u32string::npos)
                << label(c.settings.keyboardType) << ": " << static_cast<char>(character);
    }
}

TEST_F(KeybotTest, TypesStartKeyValueAndTerminatorThroughTheLayoutsMap) {
    struct Case {
        const char* name;
        Settings settings;
        const char* value;
        const char* keys;
    };
    const Case cases[] = {
        {"number with Enter", {.endWith = 10}, "12.5", "+49 -49 +50 -50 +46 -46 +53 -53 +10 -10"},
        {"start key Tab", {.startWith = 9, .endWith = 10}, "3", "+9 -9 +51 -51 +10 -10"},
        {"start key F1, no terminator", {.startWith = 112}, "-1", "+112 -112 +45 -45 +49 -49"},
        {"AZERTY digits are shifted",
         {.keyboardType = KeyboardType::AZERTY},
         "1,5",
         "+16 +49 -49 -16 +44 -44 +16 +53 -53 -16"},
        {"AZERTY semicolon terminator through the complete map",
         {.endWith = 59, .keyboardType = KeyboardType::AZERTY},
         "7",
         "+16 +55 -55 -16 +59 -59"},
        {"German semicolon terminator is Shift+comma",
         {.endWith = 59, .keyboardType = KeyboardType::GERMAN},
         "7",
         "+55 -55 +16 +44 -44 -16"},
        {"comma terminator on German",
         {.endWith = 44, .keyboardType = KeyboardType::GERMAN},
         "7",
         "+55 -55 +44 -44"},
        {"Alt code on ALL",
         {.keyboardType = KeyboardType::ALL, .keyMapType = KeyMapType::ALPHANUMERIC_BASIC},
         "A",
         "+18 +102 -102 +101 -101 -18"},
        {"terminator as Alt code on ALL",
         {.endWith = 44, .keyboardType = KeyboardType::ALL},
         "1",
         "+18 +100 -100 +105 -105 -18 +18 +100 -100 +100 -100 -18"},
        {"capital letter", {.keyMapType = KeyMapType::ALPHANUMERIC_BASIC}, "K", "+16 +75 -75 -16"},
        {"AltGr chord released in reverse",
         {.keyboardType = KeyboardType::GERMAN, .keyMapType = KeyMapType::ALPHANUMERIC_COMPLETE},
         "@",
         "+17 +18 +81 -81 -18 -17"},
        {"dead key, then a Space of its own",
         {.keyboardType = KeyboardType::US_INTERNATIONAL, .keyMapType = KeyMapType::ALPHANUMERIC_COMPLETE},
         "\"",
         "+16 +129 -129 -16 +32 -32"},
        {"Space alone is a key",
         {.keyMapType = KeyMapType::ALPHANUMERIC_COMPLETE},
         "a b",
         "+65 -65 +32 -32 +66 -66"},
        {"characters outside the map are skipped", {.endWith = 9}, "1E5", "+49 -49 +53 -53 +9 -9"},
    };
    for (const Case& c : cases) {
        auto keybot = make(c.settings);
        keybot->typeValue(c.value);
        EXPECT_EQ(injector->keys(), c.keys) << c.name;
    }
}

TEST_F(KeybotTest, SecondTerminatorAfterEveryXValues) {
    struct Case {
        int everyXValues;
        int endWith;
        int endWith2;
        const char* keys;  // of the values 1 to 6, terminators only
    };
    const Case cases[] = {
        {3, 9, 10, "9 9 10 9 9 10"},  {3, 9, 0, "9 9 - 9 9 -"},  // the third value ends with nothing
        {1, 9, 10, "9 9 9 9 9 9"},    {0, 9, 10, "9 9 9 9 9 9"},
        {2, 0, 10, "- 10 - 10 - 10"}, {-4, 9, 10, "9 9 9 9 9 9"},
    };
    for (const Case& c : cases) {
        auto keybot = make({.endWith = c.endWith, .endWith2 = c.endWith2, .everyXValues = c.everyXValues});
        std::string terminators;
        for (int value = 1; value <= 6; ++value) {
            injector->clear();
            keybot->typeValue(std::to_string(value));
            // "+49 -49" alone, or followed by " +9 -9".
            const std::string keys = injector->keys();
            const std::size_t digitKeys = 7;
            const std::string terminator =
                keys.size() > digitKeys
                    ? keys.substr(digitKeys + 2, keys.find(' ', digitKeys + 1) - digitKeys - 2)
                    : "-";
            terminators += (value > 1 ? " " : "") + terminator;
        }
        EXPECT_EQ(terminators, c.keys) << "X = " << c.everyXValues;
    }
}

TEST_F(KeybotTest, EveryKeyEventIsFollowedByThePause) {
    struct Case {
        Settings settings;
        const char* value;
        int pauses;
    };
    const Case cases[] = {
        {{.keyDelay = 7}, "1", 2},
        {{.keyDelay = 7, .keyMapType = KeyMapType::ALPHANUMERIC_BASIC}, "A", 4},  // chord of 2: 2n
        {{.keyDelay = 7, .keyboardType = KeyboardType::ALL}, "1", 7},  // Alt code of 2 digits: 2d + 3
        {{.keyDelay = 7,
          .keyboardType = KeyboardType::GERMAN,
          .keyMapType = KeyMapType::ALPHANUMERIC_COMPLETE},
         "^",
         4},  // dead key and Space
        {{.keyDelay = 7, .startWith = 9, .endWith = 10}, "1", 6},
        {{.keyDelay = 7}, "E", 0},
    };
    for (const Case& c : cases) {
        auto keybot = make(c.settings);
        keybot->typeValue(c.value);
        EXPECT_EQ(injector->pauseCount(), c.pauses) << c.value;
        for (const KeyEvent& e : injector->events())
            if (e.kind == KeyEvent::Kind::PAUSE) {
                EXPECT_EQ(e.value, 7);
            }
    }
    auto keybot = make({.keyDelay = 7});
    keybot->pressKeyReleaseStartEnd(10, 33);
    EXPECT_EQ(injector->events(), (std::vector<KeyEvent>{{KeyEvent::Kind::PRESS, 10},
                                                         {KeyEvent::Kind::PAUSE, 33},
                                                         {KeyEvent::Kind::RELEASE, 10},
                                                         {KeyEvent::Kind::PAUSE, 33}}));
}

TEST_F(KeybotTest, CharactersWithoutAKeyAreReportedAndSkipped) {
    auto keybot = make({.keyMapType = KeyMapType::NUMERIC});
    keybot->typeString(
        "1E\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\t\xff"
        "2",
        false);
    EXPECT_EQ(injector->keys(), "+49 -49 +50 -50");
    const std::string cannot =
        base::MessageCatalog::get("rszorvik.worker.WorkerBundle").getString("cannot_type");
    EXPECT_EQ(view.messages(),
              (std::vector<std::string>{cannot + "E", cannot + "<233>", cannot + "<8364>",
                                        cannot + "<128512>", cannot + "<9>", cannot + "<255>"}));
    // Without a view nothing is reported, and typing goes on all the same.
    auto quiet = make({}, false);
    quiet->typeString("E1", false);
    EXPECT_EQ(injector->keys(), "+49 -49");
}

// With Caps Lock on and overridden, each value is typed with it released and locked again after the
// terminator; off, unknown or not overridden, the value's keys come alone.
TEST_F(KeybotTest, CapsLockIsReleasedForEachValueWhileItIsOn) {
    const std::string cannotRead =
        base::MessageCatalog::get(base::catalogues::kWorker).getString("caps.lock.unknown");
    struct Case {
        const char* name;
        bool override;
        bool on;
        const char* failure;  // capsLockOn() throws this; empty: it answers
        const char* keys;     // of two values "1" with Enter
        std::vector<std::string> messages;
        bool onAfterwards;
    };
    const Case cases[] = {
        {"onOverridden",
         true,
         true,
         "",
         "+20 -20 +49 -49 +10 -10 +20 -20 +20 -20 +49 -49 +10 -10 +20 -20",
         {},
         true},
        {"onNotOverridden", false, true, "", "+49 -49 +10 -10 +49 -49 +10 -10", {}, true},
        {"offOverridden", true, false, "", "+49 -49 +10 -10 +49 -49 +10 -10", {}, false},
        {"unknownSaidOnce",
         true,
         true,
         "no XKB",
         "+49 -49 +10 -10 +49 -49 +10 -10",
         {cannotRead + "no XKB"},
         true},
    };
    for (const Case& c : cases) {
        view.clear();
        auto keybot = make({.endWith = 10});
        keybot->setOverrideCapsLock(c.override);
        injector->setCapsLock(c.on);
        if (*c.failure) injector->failCapsLock(c.failure);
        keybot->typeValue("1");
        keybot->typeValue("1");
        EXPECT_EQ(injector->keys(), c.keys) << c.name;
        EXPECT_EQ(view.messages(), c.messages) << c.name;
        injector->failCapsLock("");
        EXPECT_EQ(injector->capsLockOn(), c.onAfterwards) << c.name;
    }
}

// Each value's outcome goes to the handler once it is done, with what could not be typed of it.
TEST_F(KeybotTest, EachValueIsToldDoneWithWhatCouldNotBeTyped) {
    auto keybot = make({.keyMapType = KeyMapType::NUMERIC});
    std::vector<std::pair<bool, std::string>> done;
    keybot->onValueDone([&](bool typed, const std::string& note) { done.emplace_back(typed, note); });
    const std::string cannot = base::MessageCatalog::get(base::catalogues::kWorker).getString("cannot_type");
    keybot->typeValue("12");
    keybot->typeValue("1E2\xc3\xa9");
    keybot->typeValue("3");
    EXPECT_EQ(done, (std::vector<std::pair<bool, std::string>>{
                        {true, ""}, {true, cannot + "E; " + cannot + "<233>"}, {true, ""}}));
}

// Bytes that form no character (an encoded surrogate, an overlong form, a lead byte no character starts
// with) are reported byte by byte, never as a code point the text does not hold.
TEST_F(KeybotTest, MalformedBytesAreReportedOneByOne) {
    const std::string cannot =
        base::MessageCatalog::get("rszorvik.worker.WorkerBundle").getString("cannot_type");
    const struct {
        const char* text;
        std::vector<std::string> messages;
    } cases[] = {
        {"\xed\xa0\x80", {"<237>", "<160>", "<128>"}},
        {"\xe0\x80\xb1", {"<224>", "<128>", "<177>"}},
        {"\xf8\x80\x80", {"<248>", "<128>", "<128>"}},
        {"\xf4\x90\x80\x80", {"<244>", "<144>", "<128>", "<128>"}},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto keybot = make({.keyMapType = KeyMapType::NUMERIC});
        keybot->typeString(std::string(c.text) + "1", false);
        for (const auto& m : c.messages)
            expected.push_back(cannot + m);
        EXPECT_EQ(view.messages(), expected);
        EXPECT_EQ(injector->keys(), "+49 -49");
    }
}

TEST_F(KeybotTest, RejectedKeysAreReportedAndTypingGoesOn) {
    const std::string german = label(KeyboardType::GERMAN);
    const std::string all = label(KeyboardType::ALL);
    struct Case {
        const char* name;
        Settings settings;
        int rejected;
        const char* value;
        const char* keys;
        std::vector<std::string> messages;
    };
    const Settings germanComplete{.keyboardType = KeyboardType::GERMAN,
                                  .keyMapType = KeyMapType::ALPHANUMERIC_COMPLETE};
    const Case cases[] = {
        {"key in a chord",
         germanComplete,
         44,
         ";a",
         "+16 -16 +65 -65",
         {"Error pressing key 44 on " + german + " keyboard: Invalid key code",
          "Error releasing key 44 on " + german + " keyboard: Invalid key code"}},
        {"keypad digit of an Alt code: Alt is let go",
         {.keyboardType = KeyboardType::ALL, .keyMapType = KeyMapType::ALPHANUMERIC_BASIC},
         101,
         "AB",
         "+18 +102 -102 -18 +18 +102 -102 +102 -102 -18",
         {"Error pressing ALT key for A on " + all + " keyboard: Invalid key code"}},
        {"Space after a dead key",
         germanComplete,
         32,
         "^a",
         "+130 -130 +65 -65",
         {"Deadkey error: Invalid key code"}},
    };
    for (const Case& c : cases) {
        auto keybot = make(c.settings);
        injector->reject(c.rejected);
        const std::size_t before = view.messages().size();
        keybot->typeString(c.value, true);
        EXPECT_EQ(injector->keys(), c.keys) << c.name;
        const std::vector<std::string> all_messages = view.messages();
        EXPECT_EQ(
            std::vector<std::string>(all_messages.begin() + static_cast<long>(before), all_messages.end()),
            c.messages)
            << c.name;
    }
}

TEST_F(KeybotTest, WithoutAViewRejectedKeysGoToStandardOutput) {
    auto keybot =
        make({.keyboardType = KeyboardType::ALL, .keyMapType = KeyMapType::ALPHANUMERIC_BASIC}, false);
    injector->reject(101);
    testing::internal::CaptureStdout();
    keybot->typeString("A", false);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Error pressing/releasing ALT key for : A\n"), std::string::npos) << out;

    auto direct = make({}, false);
    injector->reject(10, "no such key");
    testing::internal::CaptureStdout();
    direct->pressKeyReleaseStartEnd(10, 0);
    const std::string out2 = testing::internal::GetCapturedStdout();
    EXPECT_NE(out2.find("Error on pressing: 10\n"), std::string::npos) << out2;
    EXPECT_NE(out2.find("Error on releasing: 10\n"), std::string::npos) << out2;
}

TEST_F(KeybotTest, NoSpaceAfterAKeyThatIsNotDeadOnTheActiveLayout) {
    auto keybot =
        make({.keyboardType = KeyboardType::AZERTY, .keyMapType = KeyMapType::ALPHANUMERIC_COMPLETE});
    injector->markLive(55);
    keybot->typeString("`^", true);
    EXPECT_EQ(injector->keys(), "+17 +18 +55 -55 -18 -17 +130 -130 +32 -32");
}

TEST_F(KeybotTest, EmptyValuesAreNeverQueued) {
    auto keybot = make({.startWith = 9, .endWith = 10});
    keybot->add("");
    EXPECT_TRUE(Keybot::queue().empty());
    keybot->add("1");
    keybot->add("");
    keybot->add("2");
    EXPECT_EQ(Keybot::queue().size(), 2U);
}

TEST_F(KeybotTest, RunTypesQueuedValuesUntilInterrupted) {
    auto first = make({.endWith = 10});
    RecordingKeyInjector* firstInjector = injector;
    std::atomic<bool> flagAfterRun{false};
    base::InterruptibleThread thread([&] {
        first->run();
        flagAfterRun = base::Interruptible::isInterrupted();
    });
    first->add("1");
    first->add("");
    first->add("2");
    EXPECT_TRUE(firstInjector->waitForKeys("+49 -49 +10 -10 +50 -50 +10 -10"));
    thread.interrupt();
    thread.join();
    EXPECT_TRUE(flagAfterRun) << "run() leaves the interruption visible to its thread";

    // Values queued while no output runs wait for the next one, whatever instance queued them.
    first->add("3");
    auto second = make({.endWith = 9});
    base::InterruptibleThread next([&] { second->run(); });
    EXPECT_TRUE(injector->waitForKeys("+51 -51 +9 -9"));
    next.interrupt();
    next.join();
    EXPECT_EQ(firstInjector->keys(), "+49 -49 +10 -10 +50 -50 +10 -10");
}

TEST_F(KeybotTest, KeysTheSystemRefusesAreReportedOncePerValueWithTheValue) {
    auto keybot = make({.endWith = 10});
    // Every pause reports a refused key, as over a locked desktop.
    injector->onPause([] { throw std::runtime_error("refused"); });
    keybot->typeValue("12");
    keybot->typeValue("3");
    const std::string cannotType =
        base::MessageCatalog::get(base::catalogues::kWorker).getString("cannot_type");
    EXPECT_EQ(view.messages(),
              (std::vector<std::string>{cannotType + "12 (refused)", cannotType + "3 (refused)"}));
    EXPECT_EQ(injector->keys(), "+49 -49 +50 -50 +10 -10 +51 -51 +10 -10") << "every key is still tried";
}

TEST_F(KeybotTest, AnInterruptionDuringAPauseFinishesTheValueWithoutPauses) {
    auto keybot = make({.keyDelay = 20, .endWith = 10});
    int pausesSeen = 0;
    // The recording pause does not wait; an interruptible wait stands in for the real one.
    injector->onPause([&] {
        if (++pausesSeen == 1) {
            base::Interruptible::interruptCurrentThread();
            base::Interruptible::sleepFor(std::chrono::milliseconds(1));
        }
    });
    keybot->add("12");
    keybot->add("3");
    base::InterruptibleThread thread([&] { keybot->run(); });
    thread.join();
    EXPECT_EQ(injector->keys(), "+49 -49 +50 -50 +10 -10") << "the value ends with its terminator";
    int zero = 0;
    for (const KeyEvent& e : injector->events())
        if (e.kind == KeyEvent::Kind::PAUSE && e.value == 0) ++zero;
    EXPECT_EQ(zero, 5) << "the pauses after the interruption only send";
    EXPECT_EQ(Keybot::queue().size(), 1U) << "the next value stays queued";
}

// The queue is empty as soon as the last value is taken; the wait must last until its last key is up,
// or the pauses of that value are cut short by whoever stops the output after the wait.
TEST_F(KeybotTest, IdleOnlyOnceTheLastValueIsTypedToItsEnd) {
    auto keybot = make({.keyDelay = 5, .endWith = 10});
    std::mutex gate;
    std::unique_lock held(gate);
    injector->onPause([&] { std::lock_guard pass(gate); });
    keybot->add("7");
    base::InterruptibleThread thread([&] { keybot->run(); });
    ASSERT_TRUE(injector->waitForKeys("+55"));
    EXPECT_TRUE(Keybot::queue().empty());
    EXPECT_FALSE(keybot->awaitIdle(std::chrono::steady_clock::now() + std::chrono::milliseconds(50)));
    held.unlock();
    EXPECT_TRUE(keybot->awaitIdle(std::chrono::steady_clock::now() + std::chrono::seconds(10)));
    EXPECT_EQ(injector->keys(), "+55 -55 +10 -10");

    // An output that has ended types nothing more: the wait gives up instead of waiting for the deadline.
    thread.interrupt();
    thread.join();
    keybot->add("8");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(keybot->awaitIdle(before + std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

// typeIfIdle types on the calling thread only while run() waits with nothing queued and no pause is due;
// otherwise it leaves the value to the caller (to queue) and types nothing.
TEST_F(KeybotTest, TypesOnTheCallingThreadOnlyWhileTheOutputIsIdle) {
    enum class Output { NOT_STARTED, WAITING, TYPING, ENDED };
    struct Case {
        const char* name;
        int keyDelay;
        Output output;
        bool typedHere;
    };
    const Case cases[] = {
        {"waiting, no pauses", 0, Output::WAITING, true},
        {"pauses to keep", 5, Output::WAITING, false},
        {"no output thread yet", 0, Output::NOT_STARTED, false},
        {"output thread typing", 0, Output::TYPING, false},
        {"output ended", 0, Output::ENDED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Keybot::queue().clear();
        auto keybot = make({.keyDelay = c.keyDelay, .endWith = 10});
        std::mutex gate;
        std::unique_lock held(gate, std::defer_lock);
        base::InterruptibleThread thread;
        if (c.output != Output::NOT_STARTED) {
            thread.start([&] { keybot->run(); });
            // The first value shows that run() waits for values.
            keybot->add("1");
            ASSERT_TRUE(keybot->awaitIdle(std::chrono::steady_clock::now() + std::chrono::seconds(10)));
        }
        if (c.output == Output::TYPING) {
            held.lock();
            injector->onPause([&] { std::lock_guard pass(gate); });
            keybot->add("2");
            ASSERT_TRUE(injector->waitForKeys("+49 -49 +10 -10 +50"));
        }
        if (c.output == Output::ENDED) {
            thread.interrupt();
            thread.join();
        }
        const std::size_t before = Keybot::queue().unfinished();
        const std::string keysBefore = injector->keys();

        EXPECT_EQ(keybot->typeIfIdle("7"), c.typedHere);
        EXPECT_EQ(injector->keys(), keysBefore + (c.typedHere ? " +55 -55 +10 -10" : ""));
        EXPECT_EQ(Keybot::queue().unfinished(), before);

        if (held.owns_lock()) held.unlock();
        if (thread.joinable()) {
            thread.interrupt();
            thread.join();
        }
    }
}

// A display lost while a value is typed on the calling thread ends the output as a loss on the output
// thread does: reported once, the output thread ends, and values queued afterwards stay queued.
TEST_F(KeybotTest, ADisplayLostOnTheCallingThreadEndsTheOutput) {
    class LostInjector : public RecordingKeyInjector {
      public:
        void keyPress(int) override { throw platform::KeyOutputLost("display :9 is gone"); }
    };
    Keybot keybot(0, 0, 10, 0, 0, KeyboardType::QUERTY, KeyMapType::NUMERIC, &view,
                  std::make_unique<LostInjector>());
    std::atomic<int> lostCalls{0};
    keybot.onOutputLost([&](const std::string&) { ++lostCalls; });
    base::InterruptibleThread thread([&] { keybot.run(); });
    // Until run() waits, the value is not taken.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!keybot.typeIfIdle("4") && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    thread.join();
    EXPECT_TRUE(keybot.hasEnded());
    EXPECT_EQ(lostCalls.load(), 1);
    EXPECT_EQ(view.messages(),
              std::vector<std::string>{
                  base::MessageCatalog::get(base::catalogues::kWorker).getString("cannot_type") +
                  "4 (display :9 is gone)"});
    EXPECT_FALSE(keybot.typeIfIdle("5"));
    keybot.add("5");
    EXPECT_EQ(Keybot::queue().unfinished(), 1U);
}

}  // namespace
}  // namespace rszorvik::worker
