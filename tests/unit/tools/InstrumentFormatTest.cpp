#include <gtest/gtest.h>

#include <string>

#include "InstrumentFormat.h"
#include "base/Regex.h"
#include "config/Config.h"
#include "config/Instrument.h"

using rszorvik::base::Regex;
using rszorvik::config::ConfigHelper::Instrument;
using namespace rszorvik::sim;

namespace {

// Received bytes become the code points of the same value before a line is matched.
std::string fromLatin1(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::optional<std::string> capture(Instrument preset, const std::string& line) {
    const auto match = Regex(preset.getPattern()).search(fromLatin1(line));
    if (!match) return std::nullopt;
    return match->group(static_cast<std::size_t>(preset.getCaptureGroup()));
}

}  // namespace

struct FormattedLine {
    Format format;
    const char* value;
    const char* unit;
    std::string line;     // without terminator
    std::string capture;  // what the preset's expression takes from it
};

class InstrumentFormatTest : public ::testing::TestWithParam<FormattedLine> {};

TEST_P(InstrumentFormatTest, LineIsWhatTheMatchingPresetReads) {
    const auto& c = GetParam();
    const FormatInfo& info = formatInfo(c.format);
    const std::string line = formatValue(c.format, c.value, c.unit);
    EXPECT_EQ(line, c.line);

    const Instrument preset = Instrument::valueOf(info.preset);
    EXPECT_EQ(capture(preset, line + std::string(info.terminator)), c.capture);
    // The line ends where the preset's input terminator says.
    ASSERT_FALSE(info.terminator.empty());
    EXPECT_EQ(static_cast<unsigned char>(info.terminator.back()),
              preset.getDefaultConfig().getInputTerminator());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, InstrumentFormatTest,
    ::testing::Values(FormattedLine{Format::AND, "12.34", "g", "ST,+00012.34  g", "+00012.34"},
                      FormattedLine{Format::AND, "-5", "kg", "ST,-00000005 kg", "-00000005"},
                      FormattedLine{Format::AND, "0.5", "g", "ST,+000000.5  g", "+000000.5"},
                      FormattedLine{Format::KERN, "12.34", "g", "     12.34 g", "     12.34"},
                      FormattedLine{Format::KERN, "-0.5", "kg", "      -0.5 kg", "-0.5"},
                      FormattedLine{Format::SICS, "16.7", "g", "S S       16.7 g", "       16.7"},
                      FormattedLine{Format::SICS, "-16.7", "g", "S S      -16.7 g", "-16.7"},
                      FormattedLine{Format::SARTORIUS, "12.34", "g", "+     12.34 g   ", "+     12.34"},
                      FormattedLine{Format::SARTORIUS, "-3", "kg", "-         3 kg  ", "-         3"},
                      FormattedLine{Format::MITUTOYO, "-1.1805", "", "01A-001.1805", "-001.1805"},
                      FormattedLine{Format::MITUTOYO, "12", "mm", "01A+00000012", "+00000012"},
                      FormattedLine{Format::BARCODE, "4006381333931", "", "4006381333931", "4006381333931"},
                      FormattedLine{Format::BARCODE, "12.34", "", "1234", "1234"},
                      FormattedLine{Format::GENERIC, "12.34", "g", "12.34", "12.34"},
                      FormattedLine{Format::GENERIC, "-7", "g", "-7", "-7"}));

TEST(InstrumentFormatsTest, EveryFormatHasItsPresetAndExampleAndNoPresetReadsGarbage) {
    for (const auto& info : formats()) {
        SCOPED_TRACE(std::string(info.name));
        EXPECT_EQ(parseFormat(info.name), info.format);
        EXPECT_EQ(&formatInfo(info.format), &info);
        EXPECT_EQ(formatValue(info.format, "12.34", "g"), info.example);
        const Instrument preset = Instrument::valueOf(info.preset);
        EXPECT_EQ(capture(preset, garbageLine() + std::string(info.terminator)), std::nullopt);
    }
    EXPECT_EQ(parseFormat("a&d"), Format::AND);
    EXPECT_EQ(parseFormat("AND"), std::nullopt);
}

struct Refused {
    Format format;
    const char* value;
    const char* message;
};

class RefusedValueTest : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedValueTest, Throws) {
    const auto& c = GetParam();
    try {
        formatValue(c.format, c.value, "g");
        FAIL() << "formatted " << c.value;
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Values, RefusedValueTest,
                         ::testing::Values(Refused{Format::AND, "123456789", "does not fit"},
                                           Refused{Format::AND, "-1234567.8", "does not fit"},
                                           Refused{Format::MITUTOYO, "123456789", "does not fit"},
                                           Refused{Format::GENERIC, "12a", "not a decimal"},
                                           Refused{Format::GENERIC, "", "not a decimal"},
                                           Refused{Format::GENERIC, ".", "not a decimal"},
                                           Refused{Format::GENERIC, "1.2.3", "not a decimal"},
                                           Refused{Format::SICS, "--1", "not a decimal"}));

struct TerminatorCase {
    const char* text;
    std::optional<std::string> bytes;  // nullopt: refused
};

class TerminatorTest : public ::testing::TestWithParam<TerminatorCase> {};

TEST_P(TerminatorTest, Parses) {
    const auto& c = GetParam();
    if (c.bytes)
        EXPECT_EQ(parseTerminator(c.text), *c.bytes);
    else
        EXPECT_THROW(parseTerminator(c.text), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Terminators, TerminatorTest,
                         ::testing::Values(TerminatorCase{"cr", "\r"}, TerminatorCase{"lf", "\n"},
                                           TerminatorCase{"crlf", "\r\n"}, TerminatorCase{"none", ""},
                                           TerminatorCase{"\\r\\n", "\r\n"},
                                           TerminatorCase{"ETX\\x03", "ETX\x03"},
                                           TerminatorCase{"\\xfF\\t\\\\", "\xFF\t\\"},
                                           TerminatorCase{"\\", {}}, TerminatorCase{"\\q", {}},
                                           TerminatorCase{"\\x4", {}}, TerminatorCase{"\\xZ1", {}}));
