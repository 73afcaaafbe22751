#include "prefs/ConfigKeys.h"

#include <stdexcept>

#include "prefs/Preferences.h"

namespace rszorvik::prefs {

namespace {

using config::Config;
namespace CH = config::ConfigHelper;

bool parsesAsBoolean(std::string_view text) {
    std::string lower;
    for (char c : text)
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower == "true" || lower == "false";
}

template <class Index>
std::string indexAccepts() {
    std::string text = "an index from 0 to " + std::to_string(Index::kCount - 1) + " (";
    for (int i = 0; i < Index::kCount; ++i)
        text += (i ? ", " : "") + std::to_string(i) + " = " + Index::getReadable(i);
    return text + ")";
}

template <class Enum>
std::string nameAccepts() {
    std::string text = "one of ";
    bool first = true;
    for (auto constant : Enum::values()) {
        text += (first ? "" : ", ") + std::string(constant.name());
        first = false;
    }
    return text;
}

template <class Index>
SettingKey indexKey(std::string_view key, int (Config::*get)() const, void (Config::*set)(int)) {
    return {key,
            SettingKind::INTEGER,
            std::to_string(Index::getDefault()),
            [](std::string_view text) {
                auto index = config::parseDecimalInteger(text);
                return index && Index::valid(*index);
            },
            [get](const Config& c) { return std::to_string((c.*get)()); },
            [set](Config& c, std::string_view text) { (c.*set)(*config::parseDecimalInteger(text)); },
            indexAccepts<Index>()};
}

template <class Enum>
SettingKey nameKey(std::string_view key, Enum (Config::*get)() const, void (Config::*set)(Enum)) {
    return {key,
            SettingKind::NAME,
            std::string(Enum::getDefault().name()),
            [](std::string_view text) { return Enum::valid(text); },
            [get](const Config& c) { return std::string((c.*get)().name()); },
            [set](Config& c, std::string_view text) { (c.*set)(Enum::valueOf(text)); },
            nameAccepts<Enum>()};
}

template <class Validator>
SettingKey textKey(std::string_view key, const std::string& (Config::*get)() const,
                   void (Config::*set)(std::string), std::string accepts) {
    return {key,
            SettingKind::TEXT,
            Validator::getDefault(),
            [](std::string_view text) { return Validator::valid(text); },
            [get](const Config& c) { return (c.*get)(); },
            [set](Config& c, std::string_view text) { (c.*set)(std::string(text)); },
            std::move(accepts)};
}

SettingKey booleanKey(std::string_view key, bool Config::*field, bool loadDefault) {
    return {key,
            SettingKind::BOOLEAN,
            loadDefault ? "true" : "false",
            parsesAsBoolean,
            [field](const Config& c) { return std::string(c.*field ? "true" : "false"); },
            [field](Config& c, std::string_view text) { c.*field = text.size() == 4; },
            "true or false"};
}

// The length of the UTF-8 sequence at the start of text, or 0 when none starts there.
std::size_t sequenceLength(std::string_view text) {
    auto lead = static_cast<unsigned char>(text[0]);
    std::size_t n = lead < 0x80                    ? 1
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (n == 0 || n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 0;
    return n;
}

// The value as a message can show it: quoted, control characters and stray bytes as \xNN, at most
// 60 bytes of it.
std::string shown(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::size_t limit = 60;
    std::string text = "\"";
    std::size_t i = 0;
    while (i < value.size() && i < limit) {
        auto c = static_cast<unsigned char>(value[i]);
        std::size_t n = sequenceLength(value.substr(i));
        if (n == 0 || c < 0x20 || c == 0x7F) {
            text += "\\x";
            text += kHex[c >> 4];
            text += kHex[c & 0xF];
            ++i;
        } else {
            text += value.substr(i, n);
            i += n;
        }
    }
    return text + (i < value.size() ? "...\"" : "\"");
}

std::vector<SettingKey> makeKeys() {
    using K = Config::Key;
    std::vector<SettingKey> keys;
    keys.push_back({K::port, SettingKind::TEXT, "", [](std::string_view) { return true; },
                    [](const Config& c) { return c.getPort(); },
                    [](Config& c, std::string_view text) { c.setPort(std::string(text)); },
                    "a port name such as /dev/ttyUSB0 or COM1; empty for none"});
    keys.push_back({K::prevPort, SettingKind::TEXT, "", [](std::string_view) { return true; },
                    [](const Config& c) { return c.getPrevPort(); },
                    [](Config& c, std::string_view text) { c.setPrevPort(std::string(text)); },
                    "a port name"});
    keys.push_back({K::instrument, SettingKind::NAME, std::string(CH::Instrument::getDefault().name()),
                    [](std::string_view text) { return CH::Instrument::valid(text); },
                    [](const Config& c) -> std::optional<std::string> {
                        if (auto instrument = c.getInstrument()) return std::string(instrument->name());
                        return std::nullopt;
                    },
                    [](Config& c, std::string_view text) { c.setInstrument(CH::Instrument::valueOf(text)); },
                    "the name of an instrument preset such as GENERIC, BARCODE or METTLER_SICS (zorvik-cli "
                    "presets lists them)"});
    keys.push_back(indexKey<CH::BitRates>(K::bitRate, &Config::getBitRate, &Config::setBitRate));
    keys.push_back(indexKey<CH::DataBits>(K::dataBits, &Config::getDataBits, &Config::setDataBits));
    keys.push_back(indexKey<CH::StopBits>(K::stopBits, &Config::getStopBits, &Config::setStopBits));
    keys.push_back(indexKey<CH::Parity>(K::parity, &Config::getParity, &Config::setParity));
    keys.push_back(nameKey<CH::DecimalSeparator>(K::decimalSeparator, &Config::getDecimalSeparator,
                                                 &Config::setDecimalSeparator));
    keys.push_back(
        {K::inputTerminator, SettingKind::INTEGER, std::to_string(CH::InputTerminator::getDefault()),
         [](std::string_view text) {
             auto code = config::parseDecimalInteger(text);
             return code && CH::InputTerminator::valid(*code);
         },
         [](const Config& c) { return std::to_string(c.getInputTerminator()); },
         [](Config& c, std::string_view text) { c.setInputTerminator(*config::parseDecimalInteger(text)); },
         "a byte code from 0 to 255 (4 = EOT, 10 = LF, 13 = CR)"});
    keys.push_back(indexKey<CH::Handshake>(K::handshake, &Config::getHandshake, &Config::setHandshake));
    keys.push_back(nameKey<CH::StartWith>(K::startWith, &Config::getStartWith, &Config::setStartWith));
    keys.push_back(nameKey<CH::OutputTerminator>(K::outputTerminator, &Config::getOutputTerminator,
                                                 &Config::setOutputTerminator));
    keys.push_back(nameKey<CH::OutputTerminator>(K::outputTerminator2, &Config::getOutputTerminator2,
                                                 &Config::setOutputTerminator2));
    keys.push_back(textKey<CH::EveryXValues>(K::everyXValues, &Config::getEveryXValues,
                                             &Config::setEveryXValues, "empty or an integer from 2 to 99"));
    keys.push_back(nameKey<CH::Connect>(K::connect, &Config::getConnect, &Config::setConnect));
    keys.push_back(textKey<CH::MathOperand>(K::mathOperand, &Config::getMathOperand, &Config::setMathOperand,
                                            "empty or a decimal number other than 0"));
    keys.push_back(
        nameKey<CH::MathOperation>(K::mathOperation, &Config::getMathOperation, &Config::setMathOperation));
    keys.push_back(textKey<CH::DecimalPlaces>(K::decimalPlaces, &Config::getDecimalPlaces,
                                              &Config::setDecimalPlaces, "empty or an integer from 0 to 7"));
    keys.push_back(nameKey<CH::RoundingMethod>(K::roundingMethod, &Config::getRoundingMethod,
                                               &Config::setRoundingMethod));
    keys.push_back(nameKey<CH::Sound>(K::sound, &Config::getSound, &Config::setSound));
    keys.push_back(
        nameKey<CH::KeyboardType>(K::keyboardType, &Config::getKeyboardType, &Config::setKeyboardType));
    keys.push_back(textKey<CH::Delay>(K::delay, &Config::getDelay, &Config::setDelay,
                                      "an integer from 0 to 1000 (milliseconds)"));
    // On a first run these start false, false, true, false, false (unlike a new record).
    keys.push_back(booleanKey(K::minimizeToTray, &Config::minimizeToTray, false));
    keys.push_back(booleanKey(K::notifyWhenMinimizedToTray, &Config::notifyWhenMinimizedToTray, false));
    keys.push_back(booleanKey(K::checkForUpdates, &Config::checkForUpdates, true));
    keys.push_back(booleanKey(K::abortAutoStartWhenPrevPortNotAvailable,
                              &Config::abortAutoStartWhenPrevPortNotAvailable, false));
    keys.push_back(booleanKey(K::ignoreDuplicates, &Config::ignoreDuplicates, false));
    keys.push_back(
        nameKey<CH::EditOperation>(K::editOperation, &Config::getEditOperation, &Config::setEditOperation));
    keys.push_back(
        nameKey<CH::EditPosition>(K::editPosition, &Config::getEditPosition, &Config::setEditPosition));
    keys.push_back(textKey<CH::EditNumCharacters>(K::editNumCharacters, &Config::getEditNumCharacters,
                                                  &Config::setEditNumCharacters,
                                                  "empty or an integer from 1 to 99"));
    keys.push_back(textKey<CH::RemoveCharacters>(K::removeCharacters, &Config::getRemoveCharacters,
                                                 &Config::setRemoveCharacters,
                                                 "characters whose codes are at most 255"));
    keys.push_back(textKey<CH::IgnoreTimeLimit>(K::ignoreTimeLimit, &Config::getIgnoreTimeLimit,
                                                &Config::setIgnoreTimeLimit,
                                                "empty or an integer of at least 1 (milliseconds)"));
    keys.push_back(textKey<CH::IgnoreDifference>(K::ignoreDifference, &Config::getIgnoreDifference,
                                                 &Config::setIgnoreDifference,
                                                 "empty or a decimal number greater than 0"));
    keys.push_back(
        textKey<CH::CustomRegEx>(K::customRegEx, &Config::getCustomRegEx, &Config::setCustomRegEx,
                                 "empty or a regular expression whose first group opens before any "
                                 "group closes"));
    return keys;
}

}  // namespace

const std::vector<SettingKey>& settingKeys() {
    static const std::vector<SettingKey> keys = makeKeys();
    return keys;
}

const SettingKey* findSettingKey(std::string_view key) {
    for (const auto& setting : settingKeys())
        if (setting.key == key) return &setting;
    return nullptr;
}

void applySetting(config::Config& config, std::string_view key, std::string_view value) {
    const SettingKey* setting = findSettingKey(key);
    if (setting == nullptr) {
        std::string known;
        for (const auto& s : settingKeys())
            known += (known.empty() ? "" : ", ") + std::string(s.key);
        throw std::invalid_argument("unknown setting " + shown(key) + "; the settings are " + known);
    }
    if (key == Config::Key::prevPort)
        throw std::invalid_argument("prevPort cannot be set: saving writes the current port into it");
    if (!setting->valid(value) || !Preferences::isValidValue(value))
        throw std::invalid_argument("invalid value " + shown(value) + " for " + std::string(key) +
                                    ": it accepts " + setting->accepts);
    setting->set(config, value);
}

}  // namespace rszorvik::prefs
