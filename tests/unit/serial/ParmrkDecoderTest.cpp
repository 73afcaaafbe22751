#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "native/ParmrkDecoder.h"

using zsp::ParmrkDecoder;

namespace {

// Decodes the reads one after the other; data bytes as they are, a marked byte as "!<hex>".
std::string decode(const std::vector<std::string>& reads) {
    ParmrkDecoder decoder;
    std::string out;
    for (const auto& read : reads) {
        for (char c : read) {
            const auto result = decoder.feed(static_cast<std::uint8_t>(c));
            if (result.kind == ParmrkDecoder::Kind::Data) out += static_cast<char>(result.value);
            if (result.kind == ParmrkDecoder::Kind::Mark) {
                static const char* hex = "0123456789ABCDEF";
                out += '!';
                out += hex[result.value >> 4];
                out += hex[result.value & 0xF];
            }
            std::uint8_t extra;
            while (decoder.takeExtra(extra))
                out += static_cast<char>(extra);
        }
    }
    return out;
}

struct DecodeCase {
    std::vector<std::string> reads;
    std::string expected;
};

class ParmrkDecoderTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ParmrkDecoderTest, UndoesTheMarking) {
    EXPECT_EQ(decode(GetParam().reads), GetParam().expected);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Sequences, ParmrkDecoderTest,
    ::testing::Values(DecodeCase{{"AB\r\n"}, "AB\r\n"},
                      DecodeCase{{"A\xFF\xFF"
                                  "B"},
                                 "A\xFF"
                                 "B"},  // an escaped 0xFF is one data byte
                      DecodeCase{{"A\xFF\x00"
                                  "B"s},
                                 "A!42"},                           // B carried an error
                      DecodeCase{{"\xFF\x00\x00"s}, "!00"},         // break (or an error on 0)
                      DecodeCase{{"A\xFF", "\x00"s, "C"}, "A!43"},  // a mark split over three reads
                      DecodeCase{{"\xFF", "\xFF"}, "\xFF"},         // an escape split over two reads
                      DecodeCase{{"\xFF\xFF\xFF\x00\x01"s}, "\xFF!01"},
                      DecodeCase{{"\xFF"
                                  "A"},
                                 "\xFF"
                                 "A"}));  // not a marking: both bytes kept

}  // namespace
