#include "config/Instrument.h"

#include <span>

#include "base/MessageCatalog.h"
#include "config/Config.h"

namespace rszorvik::config::ConfigHelper {
namespace {

using detail::key;
using detail::Label;
using detail::literal;
using Pair = std::pair<std::string_view, std::string_view>;

// Serial defaults as indexes (bit rate, data bits, parity, stop bits, handshake) and terminator code.
struct Serial {
    int bitRate;
    int dataBits;
    int parity;
    int stopBits;
    int inputTerminator;
    int handshake;
};
constexpr Serial s1200_7O1_LF{BitRates::BR_1200, DataBits::LN_7BITS, Parity::ODD, StopBits::ST_1BITS, 10,
                              Handshake::CTS_RTS};
constexpr Serial s2400_7E1_LF{BitRates::BR_2400, DataBits::LN_7BITS, Parity::EVEN, StopBits::ST_1BITS, 10,
                              Handshake::NONE};
constexpr Serial s2400_7N1_LF{BitRates::BR_2400, DataBits::LN_7BITS, Parity::NONE, StopBits::ST_1BITS, 10,
                              Handshake::NONE};
constexpr Serial s2400_8N1_CR{BitRates::BR_2400, DataBits::LN_8BITS, Parity::NONE, StopBits::ST_1BITS, 13,
                              Handshake::NONE};
constexpr Serial s4800_8N1_LF{BitRates::BR_4800, DataBits::LN_8BITS, Parity::NONE, StopBits::ST_1BITS, 10,
                              Handshake::NONE};
constexpr Serial s9600_8N1_CR{BitRates::BR_9600, DataBits::LN_8BITS, Parity::NONE, StopBits::ST_1BITS, 13,
                              Handshake::NONE};
constexpr Serial s9600_8N1_LF{BitRates::BR_9600, DataBits::LN_8BITS, Parity::NONE, StopBits::ST_1BITS, 10,
                              Handshake::NONE};
constexpr Serial s9600_8N1_LF_XON{
    BitRates::BR_9600, DataBits::LN_8BITS, Parity::NONE, StopBits::ST_1BITS, 10, Handshake::XON_XOFF};
constexpr Serial s9600_8S1_CR{BitRates::BR_9600, DataBits::LN_8BITS, Parity::SPACE, StopBits::ST_1BITS, 13,
                              Handshake::NONE};
constexpr Serial s9600_7E1_LF{BitRates::BR_9600, DataBits::LN_7BITS, Parity::EVEN, StopBits::ST_1BITS, 10,
                              Handshake::NONE};
constexpr Serial s9600_8O1_LF_RTS{BitRates::BR_9600, DataBits::LN_8BITS, Parity::ODD, StopBits::ST_1BITS, 10,
                                  Handshake::CTS_RTS};

constexpr std::string_view kBase = Instrument::kBasePattern;
// ']', blank, punctuation, digits, capitals, small letters, the rest: every printable ASCII character.
constexpr std::string_view kPrintableAscii = R"re(([\] !"#$%&'()*+,\-./:;<=>?@\[\\^_`\dA-Za-z{|}~]+))re";
constexpr std::string_view kAnd = R"re(([-+]+[0-9]*[\.,]?[0-9]+))re";

// Commands that ask for the current reading, where the instrument's manual names one: A&D "Q", SICS "SI"
// (Mettler Toledo, and Radwag's and Sartorius's dialects of it), Ohaus "IP" (immediate print), Sartorius
// SBI "Esc P" (whose CR LF is optional). The others get none; an own command is always possible.
constexpr std::string_view kAndRequest = "Q\r\n";
constexpr std::string_view kSicsRequest = "SI\r\n";
constexpr std::string_view kOhausRequest = "IP\r\n";
constexpr std::string_view kSartoriusRequest = "\x1bP\r\n";

constexpr Pair kNoTests[] = {{"", ""}};
constexpr Pair kBarcodeCompleteTests[] = {
    {kPrintableAscii, kPrintableAscii},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
    {"1234567890", "1234567890"},
    {" ", " "},
};
constexpr Pair kAndTests[] = {
    {"ST, +00012.34 kg", "+00012.34"},
    {"US, -00012,45 g", "-00012,45"},
    {"ST, +00000101 PC", "+00000101"},
    {"ST, 12345,67 kg", ""},
};
constexpr Pair kAdamAzextraTests[] = {
    {"10/06/2016   03:52:47\r\n"
     "   UNIT PRICE        NET      TOTAL\r\n"
     "-------------------------------------\r\n"
     "?      4.45/100g    0.058kg ?    2.58\r\n"
     "\r\n\r\n\r\n",
     "    0.058"},
    {"\r\n\r\nDATE   10/06/2016\r\nTIME   04:18:39\r\n\r\nUNIT\r\nPRICE ?   33.43/100g\r\n\r\nNET.      "
     "1.234kg\r\n\r\nTOTAL ?  412.53\r\n\r\n\r\n\r\n",
     "      1.234"},
    {"   1.234kg\r\n", "   1.234"},
};
constexpr Pair kAdamCbkTests[] = {
    {"  1.9999 kg\n", "  1.9999"},
    {"  -1.8999 kg\n", "-1.8999"},
};
constexpr Pair kAdamCpwplusTests[] = {
    {"add:   A\n", ""},
    {"G/W:+ 60.24   kg\n\n\n\n", "+ 60.24"},
    {"-  5.10  kg\r\n", "-  5.10"},
    {"N/W:-  5.10   kg\n\n\n\n\r", "-  5.10"},
};
constexpr Pair kAdamGcWeightTests[] = {
    {"Date   07/09/2010\r", ""},
    {"Time   16:20:15\r", ""},
    {"Scale ID         \r", ""},
    {"User ID          \r", ""},
    {"Gross Wt   0.0020 kg\r", "  0.0020"},
    {"Net Wt     0.0845 kg\r", "    0.0845"},
};
constexpr Pair kKernMpsTests[] = {
    {"NET  WEIGHT  3.3kg\n", "  3.3"},
    {"N  60.24 kg\n", "  60.24"},
};
constexpr Pair kKernRpbTests[] = {
    {"N:    0.404 kg\r", "0.404"},
    {"   0.34 EUR/kg\r", ""},
    {"N:  4000 g\r", "4000"},
};
constexpr Pair kKeyenceTests[] = {
    {"DR,08,-99.998\r", "-99.998"},
    {"DR,02,+123.567\r", "+123.567"},
    {"DR,02,123.567\r", ""},
};
constexpr Pair kMettlerSicsTests[] = {
    {"S S       16.7 g\r\n", "       16.7"},
    {"S S      -16.7 g\n", "-16.7"},
};
constexpr Pair kMitutoyoTests[] = {
    {"01A+001.1920\r", "+001.1920"},
    {"01A-001.1805", "-001.1805"},
    {"+123.45", ""},
};
constexpr Pair kMitutoyoLsmTests[] = {
    {"P00, 12.3456\r\n", " 12.3456"},
    {"12.3456", "12.3456"},
    {"P00, +012.3456", "+012.3456"},
};
constexpr Pair kSmaScpTests[] = {
    {" 2GM      -7.650kg ", "      -7.650"},
    {" 1N    100000lb ", "    100000"},
};
constexpr Pair kSchlageTests[] = {
    {"021   001   15:27:00  06/29/16  IDENTITY VERIFIED FOR ID ( 999)", "999"},
};
constexpr Pair kTanitaTests[] = {
    {R"({0,16,~0,1,MO,"TL-280",Wg,123,Pt,0)", "123"},
    {R"({0,16,~0,1,MO,"TL-280",Wg,-12.3,Pt,0)", "-12.3"},
};
constexpr Pair kWedderburnTests[] = {
    {"\nA    2.10", ""}, {"0    2.45", "    2.45"},
    {"4-    0.35", ""},  {"14/06/2016 13:26:35", ""},
    {"1", ""},           {"B@G", ""},
};

using Type = InstrumentType::Value;
using Map = KeyMapType::Value;

struct Preset {
    Label label;
    Serial serial;
    std::string_view pattern = kBase;
    std::string_view messageKey = {};  // empty: no message
    std::span<const Pair> tests = kNoTests;
    Type type = Type::NUMBER;
    Map keyMap = Map::NUMERIC;
    std::string_view dataCommand = {};
    int captureGroup = 1;
};

// In ordinal order. Presets that share another's settings repeat them here.
const std::array<Preset, 44> kPresets{{
    {.label = key("generic"), .serial = s9600_8N1_CR, .messageKey = "generic.defaultMessage"},
    {.label = key("barcode_numeric"),
     .serial = s9600_8N1_CR,
     .messageKey = "barcode_numeric.defaultMessage",
     .type = Type::TEXT},
    {.label = key("barcode_alphanumeric"),
     .serial = s9600_8N1_CR,
     .pattern = R"re(([\dA-Z]+))re",
     .messageKey = "barcode_alphanumeric.defaultMessage",
     .type = Type::TEXT,
     .keyMap = Map::ALPHANUMERIC_BASIC},
    {.label = key("barcode_alphanumeric_complete"),
     .serial = s9600_8N1_CR,
     .pattern = kPrintableAscii,
     .messageKey = "barcode_alphanumeric_complete.defaultMessage",
     .tests = kBarcodeCompleteTests,
     .type = Type::TEXT,
     .keyMap = Map::ALPHANUMERIC_COMPLETE},
    {.label = literal("A&D"),
     .serial = s2400_7E1_LF,
     .pattern = kAnd,
     .tests = kAndTests,
     .dataCommand = kAndRequest},
    {.label = literal("A&D (no handshaking)"),
     .serial = s2400_7E1_LF,
     .pattern = kAnd,
     .tests = kAndTests,
     .dataCommand = kAndRequest},
    {.label = literal("A&D EM"),
     .serial = s9600_8N1_LF,
     .pattern = kAnd,
     .messageKey = "aandd.em.defaultmessage",
     .tests = kAndTests},
    {.label = key("adam_azextra_weight"),
     .serial = s4800_8N1_LF,
     .pattern = R"re(([-+]?\s*[0-9]*[\.,]?[0-9]+)kg)re",
     .messageKey = "adam_azextra.defaultMessage",
     .tests = kAdamAzextraTests},
    {.label = literal("Adam CBK/GBK/GFK"),
     .serial = s4800_8N1_LF,
     .messageKey = "adam_cbk.defaultMessage",
     .tests = kAdamCbkTests},
    {.label = literal("Adam CPWplus"),
     .serial = s9600_8N1_CR,
     .messageKey = "adam_cpwplus.defaultMessage",
     .tests = kAdamCpwplusTests},
    {.label = key("adam_gbc_gfc_weight"),
     .serial = s4800_8N1_LF,
     .pattern = R"re(Wt\s?([-+]?\s*[0-9]*[\.,]?[0-9]+))re",
     .tests = kAdamGcWeightTests},
    {.label = key("adam_gbc_gfc_pcs"),
     .serial = s4800_8N1_LF,
     .pattern = R"re(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(pcs))re"},
    {.label = literal("Adam Highland (HCB)"),
     .serial = s9600_8N1_LF,
     .messageKey = "adam_hcb.defaultMessage"},
    {.label = literal("Adam label format"),
     .serial = s9600_8N1_LF,
     .pattern =
         R"re(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(kg|g|lb|oz|pcs|ct|d|GN|ozt|dwt|MM|TlH|TlC|Tlt|t|N|g2|TlJ))re"},
    {.label = literal("Denver Instrument"), .serial = s1200_7O1_LF},
    {.label = literal("Kern 440"), .serial = s9600_8N1_LF},
    {.label = literal("Kern 572"), .serial = s9600_8N1_LF},
    {.label = literal("Kern 573"), .serial = s9600_8N1_LF},
    {.label = literal("Kern DE"), .serial = s9600_8N1_LF},
    {.label = literal("Kern DS"), .serial = s9600_8N1_LF},
    {.label = literal("Kern FKB"), .serial = s9600_8N1_LF},
    {.label = literal("Kern KB-N"), .serial = s9600_8N1_LF},
    {.label = literal("Kern KFB/KFN-TM/IFB"), .serial = s9600_8N1_LF},
    {.label = literal("Kern MPS / MPT / MXS / MWS / MTS / MCB"),
     .serial = s9600_8N1_LF,
     .pattern = R"re(^N.*?(-?\s*[0-9]*[\.,]?[0-9]+)\s*kg)re",
     .tests = kKernMpsTests},
    {.label = key("kern_rpb_weight"),
     .serial = s9600_8N1_LF,
     .pattern = R"re(^N:\s*([0-9]*\.?[0-9]+))re",
     .messageKey = "kern_rpb.defaultMessage",
     .tests = kKernRpbTests},
    {.label = literal("Keyence IL"),
     .serial = s9600_8N1_LF,
     .pattern = R"re(([+-]+\d*\.?\d+))re",
     .tests = kKeyenceTests},
    {.label = literal("Mars Scale"), .serial = s9600_8N1_LF},
    {.label = literal("Mettler Toledo (MT-SICS)"),
     .serial = s9600_8N1_LF_XON,
     .tests = kMettlerSicsTests,
     .dataCommand = kSicsRequest},
    {.label = literal("Mettler Toledo Dialog"), .serial = s9600_8N1_LF},
    {.label = literal("Mettler Toledo Print"), .serial = s2400_7E1_LF},
    {.label = literal("Mitutoyo 264-007"),
     .serial = s2400_8N1_CR,
     .pattern = R"re(01A([-+]?\s*[0-9]*[\.,]?[0-9]+))re",
     .tests = kMitutoyoTests,
     .dataCommand = "1\r"},
    {.label = literal("Mitutoyo LSM-6200"),
     .serial = s9600_8N1_LF,
     .pattern = R"re(([-+]?\s*[0-9]*\.+[0-9]+))re",
     .tests = kMitutoyoLsmTests},
    {.label = literal("MyWeigh HD"), .serial = s9600_8S1_CR, .messageKey = "myweigh_hd.defaultMessage"},
    {.label = literal("Ohaus"), .serial = s9600_8N1_LF, .dataCommand = kOhausRequest},
    {.label = literal("Ohaus SPU,TA,NV"), .serial = s2400_7N1_LF},
    {.label = literal("Precisa"), .serial = s9600_7E1_LF},
    {.label = literal("Radwag"), .serial = s9600_8N1_LF, .dataCommand = kSicsRequest},
    {.label = literal("Sartorius (legacy)"), .serial = s1200_7O1_LF, .dataCommand = kSartoriusRequest},
    {.label = literal("Sartorius (SBI)"), .serial = s9600_8O1_LF_RTS, .dataCommand = kSartoriusRequest},
    {.label = literal("Sartorius (SICS)"), .serial = s9600_8O1_LF_RTS, .dataCommand = kSicsRequest},
    {.label = literal("Scale Manufacturers Association SCP"),
     .serial = s9600_8N1_CR,
     .pattern = R"re(\d.+?(\s*-?[0-9]*[\.,]?[0-9]+))re",
     .tests = kSmaScpTests},
    {.label = literal("Schlage HandPunch (employee ID)"),
     .serial = s9600_8N1_LF,
     .pattern = R"re(\(\s*([0-9]*)\))re",
     .tests = kSchlageTests},
    {.label = literal("Tanita TL-280/TL-290"),
     .serial = s9600_8N1_LF,
     .pattern = R"re(Wg,([-+]?\s*[0-9]*[\.,]?[0-9]+))re",
     .tests = kTanitaTests,
     .captureGroup = 1},
    {.label = literal("Wedderburn"),
     .serial = s9600_8N1_LF,
     .pattern = R"re(^0(-?\s+[0-9]*\.?[0-9]+))re",
     .tests = kWedderburnTests},
}};

const Preset& presetOf(const Instrument& instrument) {
    return kPresets[static_cast<std::size_t>(instrument.ordinal())];
}

}  // namespace

const std::string& Instrument::label() const {
    static const std::array<std::string, kCount> labels = [] {
        std::array<std::string, kCount> t;
        for (std::size_t i = 0; i < kCount; ++i)
            t[i] = detail::resolveLabel(kPresets[i].label);
        return t;
    }();
    return labels[static_cast<std::size_t>(ordinal())];
}

std::optional<std::string_view> Instrument::getLabelKey() const {
    const Label& l = presetOf(*this).label;
    if (!l.fromCatalog) return std::nullopt;
    return l.text;
}

std::string Instrument::toString() const {
    if (getInstrumentType() == InstrumentType::TEXT)
        return "<html><body><i>" + label() + "</i></body></html>";
    return label();
}

std::string_view Instrument::getPattern() const {
    return presetOf(*this).pattern;
}

int Instrument::getCaptureGroup() const {
    return presetOf(*this).captureGroup;
}

InstrumentType Instrument::getInstrumentType() const {
    return presetOf(*this).type;
}

KeyMapType Instrument::getKeyMapType() const {
    return presetOf(*this).keyMap;
}

std::string_view Instrument::getDataCommand() const {
    return presetOf(*this).dataCommand;
}

std::optional<std::string_view> Instrument::getDefaultMessageKey() const {
    const std::string_view k = presetOf(*this).messageKey;
    if (k.empty()) return std::nullopt;
    return k;
}

std::optional<std::string> Instrument::getDefaultMessage() const {
    const auto k = getDefaultMessageKey();
    if (!k) return std::nullopt;
    return base::MessageCatalog::get(kBundleName).getString(*k);
}

Config Instrument::getDefaultConfig() const {
    const Serial& s = presetOf(*this).serial;
    Config config;
    config.setBitRate(s.bitRate);
    config.setDataBits(s.dataBits);
    config.setStopBits(s.stopBits);
    config.setParity(s.parity);
    config.setInputTerminator(s.inputTerminator);
    config.setHandshake(s.handshake);
    return config;
}

Instrument::TestStrings Instrument::getTestStrings() const {
    TestStrings out;
    for (const auto& [line, expected] : presetOf(*this).tests)
        out.emplace_back(line, expected);
    return out;
}

}  // namespace rszorvik::config::ConfigHelper
