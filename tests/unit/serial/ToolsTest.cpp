#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/FormatData.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"
#include "serial/SortVector.h"
#include "serial/StringCompare.h"
#include "support/FakeNativeSerial.h"
#include "support/SerialTestSupport.h"

using rszorvik::test::FakeNativeSerial;
using Zivaraze::tool::FormatData;
using Zivaraze::tool::SortVector;
using Zivaraze::tool::StringCompare;

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

struct HexCase {
    const char* text;
    int count;  // -1: all
    std::int32_t value;
    const char* error;
};

class HexValueTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexValueTest, ReadsAsciiHexDigits) {
    const auto& c = GetParam();
    const auto digits = bytesOf(c.text);
    auto read = [&] {
        return c.count < 0 ? FormatData::getHexValue(digits) : FormatData::getHexValue(digits, c.count);
    };
    if (c.error == nullptr) {
        EXPECT_EQ(read(), c.value);
        return;
    }
    try {
        read();
        FAIL() << "accepted " << c.text;
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, HexValueTest,
                         ::testing::Values(HexCase{"1aF", -1, 431, nullptr},
                                           HexCase{"1G", -1, 0, "Invalid hex value: 71"},
                                           HexCase{"ff", -1, 255, nullptr}, HexCase{"", -1, 0, nullptr},
                                           HexCase{"7FFFFFFF", -1, 0x7FFFFFFF, nullptr},
                                           HexCase{"FFFFFFFF", -1, -1, nullptr},
                                           HexCase{"12zz", 2, 0x12, nullptr},  // only the first count bytes
                                           HexCase{"12", 3, 0, "Invalid hex count: 3"},
                                           HexCase{" 1", -1, 0, "Invalid hex value: 32"},
                                           HexCase{"\xC3", -1, 0, "Invalid hex value: 195"}));

TEST(FormatDataTest, FormatsBytesWithTheHexSymbols) {
    const auto data = bytesOf("AB\r\n\xFF");
    EXPECT_EQ(FormatData::getHexString(std::uint8_t{0x3F}), "3F");
    EXPECT_EQ(FormatData::getHexString(data), "41 42 0D 0A FF");
    EXPECT_EQ(FormatData::getHexString(data, 2), "41 42");
    EXPECT_EQ(FormatData::getHexString(data, 99), "41 42 0D 0A FF");
    EXPECT_EQ(FormatData::getAsciiHexString(data), "AB<0D><0A><FF>");
}

struct CompareCase {
    const char* a;
    const char* b;
    bool less;
    bool lessOrEqual;
};

class StringCompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(StringCompareTest, ComparesInLowerCase) {
    const auto& c = GetParam();
    const StringCompare compare;
    EXPECT_EQ(compare.lessThan(c.a, c.b), c.less);
    EXPECT_EQ(compare.lessThanOrEqual(c.a, c.b), c.lessOrEqual);
}

INSTANTIATE_TEST_SUITE_P(Pairs, StringCompareTest,
                         ::testing::Values(CompareCase{"com2", "COM10", false, false},
                                           CompareCase{"COM10", "com2", true, true},
                                           CompareCase{"COM1", "com1", false, true},
                                           CompareCase{"", "a", true, true},
                                           CompareCase{"b", "A", false, false}));

TEST(SortVectorTest, SortsByItsComparison) {
    const StringCompare compare;
    SortVector<std::string> names(compare);
    for (const char* name : {"COM3", "com10", "Com1", "COM2", "com2", "IrDA"})
        names.push_back(name);
    names.sort();
    for (std::size_t i = 1; i < names.size(); ++i)
        EXPECT_TRUE(compare.lessThanOrEqual(names[i - 1], names[i])) << names[i - 1] << " > " << names[i];
    EXPECT_EQ(names.front(), "Com1");
    EXPECT_EQ(names.back(), "IrDA");
}

TEST(SortVectorTest, LargeSortedAndReversedListsSortWithoutDeepRecursion) {
    const StringCompare compare;
    for (bool reversed : {false, true}) {
        SortVector<std::string> names(compare);
        for (int i = 0; i < 200000; ++i)
            names.push_back(std::to_string(1000000 + (reversed ? -i : i)));
        names.sort();
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    }
}

// Opening, configuring and closing change the native handle table, which the module does not guard
// for calls from two threads; the port layer takes one process-wide lock around each. A table that
// sits in front of the scripted module notes any call that starts while another is still inside.
struct HandleCallRecorder {
    static inline const ZspApi* fake = nullptr;
    static inline std::atomic<int> inside{0};
    static inline std::atomic<int> overlaps{0};
    static inline std::atomic<int> calls{0};

    template <typename Call>
    static std::int32_t enter(Call call) {
        if (inside.fetch_add(1) != 0) ++overlaps;
        ++calls;
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // widens the window for a second caller
        const std::int32_t result = call();
        --inside;
        return result;
    }
    static std::int32_t open(ZspConfig* config) {
        return enter([&] { return fake->SerOpenPort(config); });
    }
    static std::int32_t configure(const ZspConfig* config) {
        return enter([&] { return fake->SerConfigure(config); });
    }
    static std::int32_t close(std::int32_t handle) {
        return enter([&] { return fake->SerClosePort(handle); });
    }
};

TEST(NativeHandleMutexTest, OpenConfigureAndCloseFromTwoThreadsNeverOverlap) {
    rszorvik::test::selectApplicationPlatform();
    FakeNativeSerial native;
    ZspApi recording = native.api();
    HandleCallRecorder::fake = &native.api();
    recording.SerOpenPort = HandleCallRecorder::open;
    recording.SerConfigure = HandleCallRecorder::configure;
    recording.SerClosePort = HandleCallRecorder::close;
    Zivaraze::ScopedNativeApi guard(recording);

    constexpr int kCycles = 50;
    auto cycles = [](const std::string& name) {
        auto config = std::make_shared<Zivaraze::SerialConfig>(name);
        for (int i = 0; i < kCycles; ++i) {
            Zivaraze::SerialPortLocal port(config);  // opens and configures
            port.reset();                            // closes, opens and configures again
            port.close();
        }
    };
    native.port("COM3");
    native.port("COM4");
    std::thread first(cycles, "COM3");
    std::thread second(cycles, "COM4");
    first.join();
    second.join();
    EXPECT_EQ(HandleCallRecorder::calls.load(), 2 * kCycles * 6);
    EXPECT_EQ(HandleCallRecorder::overlaps.load(), 0);
}

}  // namespace
