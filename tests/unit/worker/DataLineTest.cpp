#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "worker/DataLine.h"
#include "worker/LineAssembler.h"

using rszorvik::worker::DataLine;
using rszorvik::worker::LineAssembler;
using rszorvik::worker::RawLine;
using namespace std::chrono_literals;

namespace {

DataLine::Instant at(std::int64_t nanos) {
    return DataLine::Instant(std::chrono::nanoseconds(nanos));
}

// Sets TZ for one test and restores it afterwards.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) previous = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (previous)
            setenv("TZ", previous->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> previous;
};

std::vector<RawLine> cutByteByByte(std::string_view bytes, int terminator, std::string& unsent) {
    LineAssembler assembler(terminator);
    std::vector<RawLine> lines;
    for (const char c : bytes)
        if (auto line = assembler.add(static_cast<std::uint8_t>(c))) lines.push_back(std::move(*line));
    unsent = assembler.unsentText();
    return lines;
}

std::vector<RawLine> cutInBlocks(std::string_view bytes, int terminator, std::size_t block,
                                 std::string& unsent) {
    LineAssembler assembler(terminator);
    std::vector<RawLine> lines;
    for (std::size_t i = 0; i < bytes.size(); i += block)
        assembler.addAll(bytes.substr(i, block), [&](RawLine&& line) { lines.push_back(std::move(line)); });
    unsent = assembler.unsentText();
    return lines;
}

}  // namespace

TEST(DataLineTest, RendersEveryCharacterOutsideSpaceToTildeAsItsDecimalCode) {
    struct Row {
        std::string text;
        std::string rendered;
    };
    const std::vector<Row> rows = {
        {"\n", "<10>"},
        {"  12.5 g\r\n", "  12.5 g<13><10>"},
        {std::string("\0", 1), "<0>"},
        {"\x1f \x7e\x7f", "<31> ~<127>"},
        {"<13>", "<13>"},  // data that looks like a rendering stays as it is
        {DataLine::textFromBytes("\xb0\xff"), "<176><255>"},
        {"\u20ac", "<8364>"},  // any code point, not only those of a byte
        {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DataLine::transformControlChars(row.text), row.rendered) << row.rendered;
}

TEST(DataLineTest, ReceivedBytesBecomeTheCodePointsOfTheirValues) {
    EXPECT_EQ(DataLine::textFromBytes("A\xb0\x80\xff"), "A\u00b0\u0080\u00ff");
    const DataLine line(DataLine::textFromBytes("12\xb0\r"), "12", 1, at(0), false);
    EXPECT_EQ(line.getRawData(), "12<176><13>");
    EXPECT_EQ(line.getRawText(), "12\u00b0\r");
}

TEST(DataLineTest, ValueCopyAndDeletion) {
    DataLine line("0\r\n", "0", 7, at(1'500'000'123), true);
    EXPECT_TRUE(line.hasValue());  // "0" is a value
    const DataLine kept = line.copy();
    line.deleteProcessedData();
    EXPECT_FALSE(line.hasValue());
    EXPECT_EQ(line.getProcessedData(), "");
    EXPECT_EQ(line.getRawData(), "0<13><10>");
    EXPECT_EQ(line.getCount(), 7);
    EXPECT_EQ(line.getInstant(), at(1'500'000'123));
    EXPECT_TRUE(line.isError());
    EXPECT_TRUE(kept.hasValue());
    EXPECT_EQ(kept.getProcessedData(), "0");
    EXPECT_FALSE(DataLine("\n", "", 1, at(0), false).hasValue());
}

TEST(DataLineTest, DateTimeIsTheInstantInTheLocalZoneWithNanoseconds) {
    const ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    using namespace std::chrono;
    struct Row {
        sys_days day;
        nanoseconds timeOfDay;
        nanoseconds expectedLocalTimeOfDay;
    };
    const std::vector<Row> rows = {
        {sys_days(2024y / January / 15), 10h + 5min + 7s + 123456789ns, 11h + 5min + 7s + 123456789ns},
        {sys_days(2024y / July / 15), 10h + 5min + 7s + 1ns, 12h + 5min + 7s + 1ns},
        // Just before and after the change to summer time (01:00 UTC on 31 March 2024).
        {sys_days(2024y / March / 31), 59min + 59s + 999999999ns, 1h + 59min + 59s + 999999999ns},
        {sys_days(2024y / March / 31), 1h, 3h},
    };
    for (const auto& row : rows) {
        const DataLine line("\n", "", 1, DataLine::Instant(row.day + row.timeOfDay), false);
        const auto local = line.getDateTime();
        const auto localDay = floor<days>(local);
        EXPECT_EQ(local - localDay, row.expectedLocalTimeOfDay);
        EXPECT_EQ(localDay.time_since_epoch(), row.day.time_since_epoch());
    }
}

TEST(LineAssemblerTest, CutsAtTheTerminatorWhichStaysInItsLine) {
    struct Row {
        const char* name;
        std::string bytes;
        int terminator;
        std::vector<std::string> lines;
        std::string unsent;
    };
    const std::vector<Row> rows = {
        {"CR LF cut at LF", "ST,+1.5 kg\r\nST,+2.5 kg\r\n", 10, {"ST,+1.5 kg\r\n", "ST,+2.5 kg\r\n"}, ""},
        {"CR LF cut at CR", "ST,+1.5 kg\r\nST,+2.5 kg\r\n", 13, {"ST,+1.5 kg\r", "\nST,+2.5 kg\r"}, "\n"},
        {"terminator alone", "\n\n", 10, {"\n", "\n"}, ""},
        {"unsent tail", "1\n+12.", 10, {"1\n"}, "+12."},
        {"EOT and high bytes", "\xb0\x04\xff", 4, {"\u00b0\x04"}, "\u00ff"},
        {"NUL terminator", std::string("a\0b", 3), 0, {std::string("a\0", 2)}, "b"},
        {"high terminator", "a\xff", 255, {"a\u00ff"}, ""},
        {"nothing", "", 10, {}, ""},
    };
    for (const auto& row : rows) {
        for (const std::size_t block : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{1000}}) {
            std::string unsent;
            const auto lines = block == 0 ? cutByteByByte(row.bytes, row.terminator, unsent)
                                          : cutInBlocks(row.bytes, row.terminator, block, unsent);
            std::vector<std::string> texts;
            for (const auto& line : lines)
                texts.push_back(line.text);
            EXPECT_EQ(texts, row.lines) << row.name << ", blocks of " << block;
            EXPECT_EQ(unsent, row.unsent) << row.name << ", blocks of " << block;
        }
    }
}

TEST(LineAssemblerTest, AnErrorSignalMarksOnlyItsOwnLine) {
    LineAssembler assembler(10);
    EXPECT_FALSE(assembler.add('1'));
    EXPECT_FALSE(assembler.add('2', true));
    const auto first = assembler.add('\n');
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->error);
    EXPECT_FALSE(assembler.add('3'));
    const auto second = assembler.add('\n');
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->error);
    // A signal on the terminator itself counts for the line it ends.
    const auto third = assembler.add('\n', true);
    ASSERT_TRUE(third);
    EXPECT_TRUE(third->error);
    EXPECT_FALSE(assembler.hasUnsent());
}

TEST(LineAssemblerTest, RefusesATerminatorThatIsNoByte) {
    EXPECT_THROW(LineAssembler(-1), std::invalid_argument);
    EXPECT_THROW(LineAssembler(256), std::invalid_argument);
}
