#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "support/Environment.h"
#include "worker/DataLine.h"
#include "worker/LineAssembler.h"

using rszorvik::worker::DataLine;
using rszorvik::worker::LineAssembler;
using rszorvik::worker::RawLine;

TEST(DataLineTest, RendersEveryCharacterOutsideSpaceToTildeAsItsDecimalCode) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"\n", "<10>"},
        {"  12.5 g\r\n", "  12.5 g<13><10>"},
        {std::string("\0", 1), "<0>"},
        {"\x1f \x7e\x7f", "<31> ~<127>"},
        {"<13>", "<13>"},  // data that looks like a rendering stays as it is
        {DataLine::textFromBytes("\xb0\x80\xff"), "<176><128><255>"},  // a received byte is one character
        {"\u20ac", "<8364>"},
    };
    for (const auto& [text, rendered] : rows)
        EXPECT_EQ(DataLine::transformControlChars(text), rendered) << rendered;
}

TEST(DataLineTest, ValueCopyAndDeletion) {
    DataLine line("0\r\n", "0", 7, DataLine::Instant(std::chrono::nanoseconds(1'500'000'123)), true);
    EXPECT_TRUE(line.hasValue());  // "0" is a value
    const DataLine kept = line.copy();
    line.deleteProcessedData();
    EXPECT_FALSE(line.hasValue());
    EXPECT_EQ(line.getRawData(), "0<13><10>");
    EXPECT_EQ(line.getCount(), 7);
    EXPECT_EQ(line.getInstant().time_since_epoch().count(), 1'500'000'123);
    EXPECT_TRUE(line.isError());
    EXPECT_EQ(kept.getProcessedData(), "0");
}

// A zone without summer time, half an hour off the hour, as every C library reads TZ.
TEST(DataLineTest, DateTimeIsTheInstantInAFixedZoneWithNanoseconds) {
    using namespace std::chrono;
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    rszorvik::test::setEnvironment("TZ", "ABC-5:30");
    tzset();
    const sys_days day = 2024y / March / 31;
    for (const auto utc : {nanoseconds(10h + 123456789ns), nanoseconds(23h + 59min + 59s + 999999999ns)}) {
        const DataLine line("\n", "", 1, DataLine::Instant(day + utc), false);
        EXPECT_EQ(line.getDateTime().time_since_epoch(), (day + utc + 5h + 30min).time_since_epoch());
    }
    if (previous)
        rszorvik::test::setEnvironment("TZ", saved);
    else
        rszorvik::test::unsetEnvironment("TZ");
    tzset();
}

TEST(LineAssemblerTest, CutsAtTheTerminatorWhichStaysInItsLineByteByByteOrInBlocks) {
    constexpr std::size_t kAny = std::numeric_limits<std::size_t>::max();
    struct Row {
        std::string bytes;
        int terminator;
        std::vector<std::string> lines;  // "dropped N START" for a line dropped whole
        std::string unsent;
        std::size_t maxLineBytes;
        std::string dropping;  // the drop still under way at the end: "N START"
    };
    const std::vector<Row> rows = {
        {"ST,+1.5 kg\r\nST,+2.5 kg\r\n", 10, {"ST,+1.5 kg\r\n", "ST,+2.5 kg\r\n"}, "", kAny, ""},
        {"ST,+1.5 kg\r\nST,+2.5 kg\r\n", 13, {"ST,+1.5 kg\r", "\nST,+2.5 kg\r"}, "\n", kAny, ""},
        {"\n\n1\n+12.", 10, {"\n", "\n", "1\n"}, "+12.", kAny, ""},
        {"\xb0\x04\xff", 4, {"\u00b0\x04"}, "\u00ff", kAny, ""},
        {std::string("a\0b", 3), 0, {std::string("a\0", 2)}, "b", kAny, ""},
        {"a\xff", 255, {"a\u00ff"}, "", kAny, ""},
        // A line that reaches the cap is dropped up to and including its terminator, never cut in two.
        {"123\n12345\n9\n", 10, {"123\n", "dropped 6 1234", "9\n"}, "", 4, ""},
        {"123456789\n9\n", 10, {"dropped 10 1234", "9\n"}, "", 4, ""},
        {"12\n1234567", 10, {"12\n"}, "", 4, "7 1234"},
        {"1234", 10, {}, "", 4, "4 1234"},
        {"123\n", 10, {"123\n"}, "", 4, ""},
        {"\n\n", 10, {"\n", "\n"}, "", 1, ""},
    };
    for (const auto& row : rows) {
        for (const std::size_t block : {0, 1, 3, 1000}) {  // 0: byte by byte, as the worker reads
            LineAssembler assembler(row.terminator, row.maxLineBytes);
            std::vector<std::string> lines;
            const auto droppedText = [](const rszorvik::worker::DroppedLine& dropped) {
                return std::to_string(dropped.count) + " " + dropped.start;
            };
            if (block == 0) {
                for (const char c : row.bytes) {
                    const bool wasDropping = assembler.isDropping();
                    if (auto line = assembler.add(static_cast<std::uint8_t>(c))) lines.push_back(line->text);
                    if (wasDropping && !assembler.isDropping())
                        lines.push_back("dropped " + droppedText(assembler.dropped()));
                }
            } else {
                for (std::size_t i = 0; i < row.bytes.size(); i += block)
                    assembler.addAll(
                        std::string_view(row.bytes).substr(i, block),
                        [&](RawLine&& line) { lines.push_back(line.text); },
                        [&](const auto& dropped) { lines.push_back("dropped " + droppedText(dropped)); });
            }
            EXPECT_EQ(lines, row.lines) << row.terminator << ", blocks of " << block;
            EXPECT_EQ(assembler.unsentText(), row.unsent) << row.terminator << ", blocks of " << block;
            EXPECT_EQ(assembler.isDropping() ? droppedText(assembler.dropped()) : "", row.dropping)
                << row.bytes << ", blocks of " << block;
        }
    }
}

TEST(LineAssemblerTest, AnErrorSignalMarksOnlyItsOwnLine) {
    LineAssembler assembler(10);
    std::vector<bool> errors;
    for (const auto& [byte, flagged] : std::vector<std::pair<char, bool>>{
             {'1', false}, {'2', true}, {'\n', false}, {'3', false}, {'\n', false}, {'\n', true}})
        if (auto line = assembler.add(static_cast<std::uint8_t>(byte), flagged))
            errors.push_back(line->error);
    EXPECT_EQ(errors, (std::vector<bool>{true, false, true}));
}
