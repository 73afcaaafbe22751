#include <gtest/gtest.h>

#include <map>
#include <set>

#include "base/MessageCatalog.h"
#include "base/Regex.h"
#include "config/Config.h"
#include "config/Instrument.h"

using namespace rszorvik::config;
using namespace rszorvik::config::ConfigHelper;
using rszorvik::base::MessageCatalog;
using rszorvik::base::Regex;

namespace {

// What the extraction yields: the capture group of the first match, or "" for no value.
std::string extract(const Regex& regex, int group, const std::string& line) {
    const auto match = regex.search(line);
    if (!match) return "";
    return match->group(static_cast<std::size_t>(group)).value_or("");
}

std::string utf8(char32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

}  // namespace

TEST(InstrumentTest, EverySamplePairHolds) {
    int presetsWithSamples = 0;
    for (Instrument preset : Instrument::values()) {
        SCOPED_TRACE(std::string(preset.name()));
        const Regex regex(preset.getPattern());
        ASSERT_GE(regex.groupCount(), preset.getCaptureGroup());
        const auto samples = preset.getTestStrings();
        ASSERT_FALSE(samples.empty());
        if (samples.size() > 1 || !samples[0].first.empty()) ++presetsWithSamples;
        for (const auto& [line, expected] : samples)
            EXPECT_EQ(extract(regex, preset.getCaptureGroup(), line), expected) << "line: " << line;
    }
    EXPECT_EQ(presetsWithSamples, 18);
}

TEST(InstrumentTest, SharedSamplesAndPatterns) {
    const Instrument andPreset = Instrument::AND;
    for (Instrument same : {Instrument::AND_SIMPLE, Instrument::AND_EM}) {
        EXPECT_EQ(same.getPattern(), andPreset.getPattern());
        EXPECT_EQ(same.getTestStrings(), andPreset.getTestStrings());
    }
    EXPECT_EQ(Instrument(Instrument::GENERIC).getTestStrings(), (Instrument::TestStrings{{"", ""}}));
    EXPECT_EQ(Instrument(Instrument::GENERIC).getPattern(), "([-+]?\\s*[0-9]*[\\.,]?[0-9]+)");
    // A number in a barcode line is not split by the number expression of AND: the sign is required.
    EXPECT_EQ(extract(Regex(andPreset.getPattern()), 1, "ST, 12.5 kg"), "");
}

TEST(InstrumentTest, CompleteBarcodeClassIsExactlyPrintableAscii) {
    const Regex regex(Instrument(Instrument::BARCODE_ALPHA_COMPLETE).getPattern());
    std::vector<char32_t> probes;
    for (char32_t cp = 0; cp <= 0x2FF; ++cp)
        probes.push_back(cp);
    for (char32_t cp : {0x20ACu, 0x2028u, 0xFF01u, 0x1F600u})
        probes.push_back(cp);
    for (char32_t cp : probes) {
        const std::string text = utf8(cp);
        const bool printable = cp >= 32 && cp <= 126;
        EXPECT_EQ(extract(regex, 1, "\x01" + text + "\x01"), printable ? text : "")
            << "code point " << static_cast<std::uint32_t>(cp);
    }
    // Digits and capitals only for the basic alphanumeric barcode.
    const Regex basic(Instrument(Instrument::BARCODE_ALPHA).getPattern());
    EXPECT_EQ(extract(basic, 1, "ab-12XY_z"), "12XY");
    EXPECT_EQ(extract(basic, 1, "\u00c4\u00e9"), "");
}

TEST(InstrumentTest, NamesOrdinalsAndDefault) {
    EXPECT_EQ(Instrument::values().size(), 44u);
    EXPECT_TRUE(Instrument::valid("GENERIC"));
    EXPECT_FALSE(Instrument::valid("generic"));
    EXPECT_FALSE(Instrument::valid("KERN_999"));
    EXPECT_EQ(Instrument(Instrument::WEDDERBURN).ordinal(), 43);
    EXPECT_EQ(Instrument::valueOf("MYWEIGH_HD").ordinal(), 32);
    EXPECT_EQ(Instrument::getDefault(), Instrument::GENERIC);
}

// The presets whose manuals name a command that asks for the current reading.
const std::map<Instrument::Value, std::string> kRequests{
    {Instrument::AND, "Q\r\n"},
    {Instrument::AND_SIMPLE, "Q\r\n"},
    {Instrument::METTLER_SICS, "SI\r\n"},
    {Instrument::SARTORIUS_SICS, "SI\r\n"},
    {Instrument::RADWAG, "SI\r\n"},
    {Instrument::OHAUS, "IP\r\n"},
    {Instrument::SARTORIUS, "\x1bP\r\n"},
    {Instrument::SARTORIUS_SBI, "\x1bP\r\n"},
    {Instrument::MITUTOYO, std::string("1\r")},
};

TEST(InstrumentTest, TypesKeyMapsAndDataCommand) {
    const std::set<Instrument::Value> text{Instrument::BARCODE, Instrument::BARCODE_ALPHA,
                                           Instrument::BARCODE_ALPHA_COMPLETE};
    for (Instrument preset : Instrument::values()) {
        SCOPED_TRACE(std::string(preset.name()));
        EXPECT_EQ(preset.getInstrumentType(),
                  text.contains(preset) ? InstrumentType::TEXT : InstrumentType::NUMBER);
        const KeyMapType expectedMap = preset == Instrument::BARCODE_ALPHA ? KeyMapType::ALPHANUMERIC_BASIC
                                       : preset == Instrument::BARCODE_ALPHA_COMPLETE
                                           ? KeyMapType::ALPHANUMERIC_COMPLETE
                                           : KeyMapType::NUMERIC;
        EXPECT_EQ(preset.getKeyMapType(), expectedMap);
        EXPECT_EQ(preset.getCaptureGroup(), 1);
        const auto command = kRequests.find(preset);
        EXPECT_EQ(preset.getDataCommand(), command == kRequests.end() ? "" : command->second);
    }
}

TEST(InstrumentTest, LabelsAndHtml) {
    const auto& catalog = MessageCatalog::get(kBundleName);
    const Instrument barcode = Instrument::BARCODE;
    EXPECT_EQ(barcode.toPlainString(), catalog.getString("barcode_numeric"));
    EXPECT_EQ(barcode.toString(),
              "<html><body><i>" + catalog.getString("barcode_numeric") + "</i></body></html>");
    EXPECT_EQ(Instrument(Instrument::AND).toString(), "A&D");
    EXPECT_EQ(Instrument(Instrument::AND).toPlainString(), "A&D");
    EXPECT_EQ(Instrument(Instrument::KERND_440E).toString(), "Kern 440");
    EXPECT_EQ(Instrument(Instrument::GENERIC).toString(), catalog.getString("generic"));
    EXPECT_EQ(Instrument(Instrument::KERN_RPB).getLabelKey(), "kern_rpb_weight");
    EXPECT_EQ(Instrument(Instrument::OHAUS).getLabelKey(), std::nullopt);
}

TEST(InstrumentTest, DefaultMessages) {
    const std::vector<std::pair<Instrument, std::string>> withMessage{
        {Instrument::GENERIC, "generic.defaultMessage"},
        {Instrument::BARCODE, "barcode_numeric.defaultMessage"},
        {Instrument::BARCODE_ALPHA, "barcode_alphanumeric.defaultMessage"},
        {Instrument::BARCODE_ALPHA_COMPLETE, "barcode_alphanumeric_complete.defaultMessage"},
        {Instrument::AND_EM, "aandd.em.defaultmessage"},
        {Instrument::ADAM_AZEXTRA_WEIGHT, "adam_azextra.defaultMessage"},
        {Instrument::ADAM_CBK, "adam_cbk.defaultMessage"},
        {Instrument::ADAM_CPWPLUS, "adam_cpwplus.defaultMessage"},
        {Instrument::ADAM_HCB, "adam_hcb.defaultMessage"},
        {Instrument::KERN_RPB, "kern_rpb.defaultMessage"},
        {Instrument::MYWEIGH_HD, "myweigh_hd.defaultMessage"},
    };
    const auto& catalog = MessageCatalog::get(kBundleName);
    for (Instrument preset : Instrument::values()) {
        SCOPED_TRACE(std::string(preset.name()));
        const auto it = std::find_if(withMessage.begin(), withMessage.end(),
                                     [&](const auto& entry) { return entry.first == preset; });
        if (it == withMessage.end()) {
            EXPECT_EQ(preset.getDefaultMessageKey(), std::nullopt);
            EXPECT_EQ(preset.getDefaultMessage(), std::nullopt);
        } else {
            EXPECT_EQ(preset.getDefaultMessageKey(), it->second);
            EXPECT_EQ(preset.getDefaultMessage(), catalog.getString(it->second));
        }
    }
}

TEST(InstrumentTest, SerialDefaultsOfEveryPreset) {
    // bit rate, data bits, parity, stop bits (indexes), terminator code, handshake index
    using S = std::array<int, 6>;
    const S b9600_8N1_CR{7, 3, 0, 0, 13, 0}, b9600_8N1_LF{7, 3, 0, 0, 10, 0}, b2400_7E1_LF{5, 2, 2, 0, 10, 0},
        b4800_8N1_LF{6, 3, 0, 0, 10, 0}, b1200_7O1_LF_RTS{4, 2, 1, 0, 10, 2},
        b9600_8O1_LF_RTS{7, 3, 1, 0, 10, 2};
    const std::array<S, 44> expected{
        b9600_8N1_CR,         b9600_8N1_CR,         b9600_8N1_CR,
        b9600_8N1_CR,                                              // generic, barcodes
        b2400_7E1_LF,         b2400_7E1_LF,         b9600_8N1_LF,  // A&D
        b4800_8N1_LF,         b4800_8N1_LF,         b9600_8N1_CR,
        b4800_8N1_LF,                                              // Adam
        b4800_8N1_LF,         b9600_8N1_LF,         b9600_8N1_LF,  // Adam
        b1200_7O1_LF_RTS,                                          // Denver
        b9600_8N1_LF,         b9600_8N1_LF,         b9600_8N1_LF,
        b9600_8N1_LF,  // Kern
        b9600_8N1_LF,         b9600_8N1_LF,         b9600_8N1_LF,
        b9600_8N1_LF,                                                      // Kern
        b9600_8N1_LF,         b9600_8N1_LF,                                // Kern MPS, RPB
        b9600_8N1_LF,         b9600_8N1_LF,                                // Keyence, Mars
        S{7, 3, 0, 0, 10, 1}, b9600_8N1_LF,         b2400_7E1_LF,          // Mettler Toledo
        S{5, 3, 0, 0, 13, 0}, b9600_8N1_LF,                                // Mitutoyo
        S{7, 3, 4, 0, 13, 0},                                              // MyWeigh HD
        b9600_8N1_LF,         S{5, 2, 0, 0, 10, 0}, S{7, 2, 2, 0, 10, 0},  // Ohaus, Ohaus SPU, Precisa
        b9600_8N1_LF,                                                      // Radwag
        b1200_7O1_LF_RTS,     b9600_8O1_LF_RTS,     b9600_8O1_LF_RTS,      // Sartorius
        b9600_8N1_CR,         b9600_8N1_LF,         b9600_8N1_LF,
        b9600_8N1_LF,  // SMA, Schlage, Tanita, Wedderburn
    };
    const Config plain;
    for (Instrument preset : Instrument::values()) {
        SCOPED_TRACE(std::string(preset.name()));
        const Config c = preset.getDefaultConfig();
        const S& e = expected[static_cast<std::size_t>(preset.ordinal())];
        EXPECT_EQ((S{c.getBitRate(), c.getDataBits(), c.getParity(), c.getStopBits(), c.getInputTerminator(),
                     c.getHandshake()}),
                  e);
        // Nothing but the serial settings is touched.
        Config serialOnly = plain;
        serialOnly.setBitRate(e[0]);
        serialOnly.setDataBits(e[1]);
        serialOnly.setParity(e[2]);
        serialOnly.setStopBits(e[3]);
        serialOnly.setInputTerminator(e[4]);
        serialOnly.setHandshake(e[5]);
        EXPECT_FALSE(Config::hasChanged(c, serialOnly));
        EXPECT_EQ(c.getInstrument(), std::nullopt);
        EXPECT_EQ(c.getPrevPort(), std::nullopt);
    }
}

TEST(InstrumentTest, PresetsThatShareDefaults) {
    const std::vector<std::pair<Instrument, Instrument>> same{
        {Instrument::DENVER, Instrument::SARTORIUS},    {Instrument::AND_SIMPLE, Instrument::AND},
        {Instrument::KERND_440E, Instrument::KERN_572}, {Instrument::KERN_573, Instrument::KERN_572},
        {Instrument::KERND_DE, Instrument::KERN_572},   {Instrument::KERN_DS, Instrument::KERN_572},
        {Instrument::KERN_FKB, Instrument::KERN_572},   {Instrument::KERN_KB_N, Instrument::KERN_572},
    };
    for (const auto& [a, b] : same)
        EXPECT_FALSE(Config::hasChanged(a.getDefaultConfig(), b.getDefaultConfig())) << a << " " << b;

    const Config denver = Instrument(Instrument::DENVER).getDefaultConfig();
    EXPECT_EQ(denver.getBitRate(), BitRates::BR_1200);
    EXPECT_EQ(denver.getDataBits(), DataBits::LN_7BITS);
    EXPECT_EQ(denver.getParity(), Parity::ODD);
    EXPECT_EQ(denver.getHandshake(), Handshake::CTS_RTS);
    const Config andSimple = Instrument(Instrument::AND_SIMPLE).getDefaultConfig();
    EXPECT_EQ(andSimple.getBitRate(), BitRates::BR_2400);
    EXPECT_EQ(andSimple.getParity(), Parity::EVEN);
    EXPECT_EQ(andSimple.getHandshake(), Handshake::NONE);
    const Config myWeigh = Instrument(Instrument::MYWEIGH_HD).getDefaultConfig();
    EXPECT_EQ(myWeigh.getParity(), Parity::SPACE);
    EXPECT_EQ(myWeigh.getInputTerminator(), 13);
    EXPECT_EQ(Instrument(Instrument::GENERIC).getDefaultConfig().getInputTerminator(), 13);
    EXPECT_EQ(Instrument(Instrument::KERN_572).getDefaultConfig().getInputTerminator(), 10);
}

TEST(InstrumentTest, EveryDefaultConfigIsANewRecord) {
    const Instrument sartorius = Instrument::SARTORIUS;
    Config first = sartorius.getDefaultConfig();
    first.setBitRate(BitRates::BR_115200);
    first.setDelay("5");
    int heard = 0;
    first.addPropertyChangeListener([&heard](const PropertyChangeEvent&) { ++heard; });
    Config second = Instrument(Instrument::DENVER).getDefaultConfig();
    EXPECT_EQ(second.getBitRate(), BitRates::BR_1200);
    EXPECT_EQ(second.getDelay(), "20");
    second.setInstrument(Instrument::DENVER);
    EXPECT_EQ(heard, 0);
}
