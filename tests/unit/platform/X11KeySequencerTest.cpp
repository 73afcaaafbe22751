#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/VirtualKeys.h"
#include "platform/X11KeySequencer.h"

namespace rszorvik::platform {
namespace {

// Writes what reaches the X server as "+16 L3+ 'A'".
class Recorder : public X11KeySequencer::Output {
  public:
    std::string log;
    bool level3 = true;
    std::set<int> missing;  // key codes the layout lacks

    void sendKey(int keyCode, bool down) override {
        if (missing.contains(keyCode)) throw std::invalid_argument("no key");
        add((down ? "+" : "-") + std::to_string(keyCode));
    }
    void sendLevel3(bool down) override { add(down ? "L3+" : "L3-"); }
    bool hasLevel3() const override { return level3; }
    void typeCharacter(char32_t c) override { add("'" + std::to_string(static_cast<unsigned>(c)) + "'"); }

  private:
    void add(const std::string& s) { log += (log.empty() ? "" : " ") + s; }
};

// "+17 +18 +81 -81 -18 -17": presses and releases of virtual keys in order.
void play(X11KeySequencer& sequencer, const std::string& steps) {
    std::size_t pos = 0;
    while (pos < steps.size()) {
        std::size_t end = steps.find(' ', pos);
        if (end == std::string::npos) end = steps.size();
        const int keyCode = std::stoi(steps.substr(pos + 1, end - pos - 1));
        if (steps[pos] == '+') {
            sequencer.press(keyCode);
        } else {
            sequencer.release(keyCode);
        }
        pos = end + 1;
    }
}

TEST(X11KeySequencerTest, ModifiersReachTheServerAsWindowsReadsThem) {
    struct Case {
        const char* name;
        const char* steps;
        bool level3;
        const char* sent;
    };
    const Case cases[] = {
        {"Shift chord", "+16 +65 -65 -16", true, "+16 +65 -65 -16"},
        {"Control and Alt are AltGr", "+17 +18 +81 -81 -18 -17", true, "L3+ +81 -81 L3-"},
        {"AltGr with Control let go first", "+17 +18 +81 -81 -17 -18", true, "L3+ +81 -81 L3-"},
        {"no AltGr key: both sent", "+17 +18 +81 -81 -18 -17", false, "+17 +18 +81 -81 -18 -17"},
        {"Control shortcut", "+17 +67 -67 -17", true, "+17 +67 -67 -17"},
        {"Alt shortcut", "+18 +115 -115 -18", true, "+18 +115 -115 -18"},
        {"Alt alone is a tap", "+18 -18", true, "+18 -18"},
        {"Control alone sends nothing", "+17 -17", true, ""},
        {"Alt code", "+18 +102 -102 +101 -101 -18", true, "'65'"},
        {"Alt code with digits held over each other", "+18 +97 +98 -97 -98 +102 -102 -18", true, "'126'"},
        {"keypad digit without Alt", "+96 -96", true, "+96 -96"},
        {"a letter ends an Alt code", "+18 +102 -102 +65 -65 -18", true, "+18 +65 -65 -18"},
        {"Alt then Control", "+18 +17 +65 -65 -17 -18", true, "L3+ +65 -65 L3-"},
        {"AltGr over keypad digits is no Alt code", "+17 +18 +97 -97 -18 -17", true, "L3+ +97 -97 L3-"},
        {"dead key then Space", "+16 +129 -129 -16 +32 -32", true, "+16 +129 -129 -16 +32 -32"},
    };
    for (const Case& c : cases) {
        Recorder out;
        out.level3 = c.level3;
        X11KeySequencer sequencer(out);
        play(sequencer, c.steps);
        EXPECT_EQ(out.log, c.sent) << c.name;
    }
}

TEST(X11KeySequencerTest, AFailedAltCodeLeavesNoStateBehind) {
    Recorder out;
    X11KeySequencer sequencer(out);
    play(sequencer, "+18 +97 -97 +96 -96");
    EXPECT_THROW(sequencer.release(Vk::ALT), std::invalid_argument);  // 10 is a control character
    play(sequencer, "+16 +65 -65 -16 +96 -96");
    EXPECT_EQ(out.log, "+16 +65 -65 -16 +96 -96");
}

TEST(X11KeySequencerTest, ARejectedKeyDoesNotStopTheChord) {
    Recorder out;
    out.missing = {47};
    X11KeySequencer sequencer(out);
    sequencer.press(Vk::SHIFT);
    EXPECT_THROW(sequencer.press(47), std::invalid_argument);
    EXPECT_THROW(sequencer.release(47), std::invalid_argument);
    sequencer.release(Vk::SHIFT);
    EXPECT_EQ(out.log, "+16 -16");
}

TEST(X11KeySequencerTest, AltCodesReadTheWindowsCodePages) {
    struct Case {
        const char* digits;
        char32_t character;  // 0: stands for none
    };
    const Case cases[] = {
        {"65", U'A'},  {"0065", U'A'}, {"321", U'A'},   {"32", U' '},     {"126", U'~'},
        {"130", 0xe9}, {"0233", 0xe9}, {"128", 0xc7},   {"0128", 0x20ac}, {"0160", 0xa0},
        {"255", 0xa0}, {"0255", 0xff}, {"176", 0x2591}, {"0150", 0x2013}, {"0129", 0},
        {"31", 0},     {"127", 0},     {"0", 0},        {"256", 0},       {"", 0},
    };
    for (const Case& c : cases) {
        const auto character = X11KeySequencer::altCodeCharacter(c.digits);
        if (c.character == 0) {
            EXPECT_FALSE(character.has_value()) << c.digits;
        } else {
            ASSERT_TRUE(character.has_value()) << c.digits;
            EXPECT_EQ(static_cast<unsigned>(*character), static_cast<unsigned>(c.character)) << c.digits;
        }
    }
}

}  // namespace
}  // namespace rszorvik::platform
