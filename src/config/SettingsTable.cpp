#include "config/SettingsTable.h"

#include <algorithm>
#include <limits>

#include "base/Ascii.h"

namespace rszorvik::config {

namespace CH = ConfigHelper;

// Friend of Config: the rows reach the fields through pointers to members, so copying and comparing
// need nothing written per setting.
class SettingsTableBuilder {
  public:
    static std::vector<Setting> build();

  private:
    template <class T>
    static Setting field(std::string_view key, SettingEncoding encoding, T Config::*member, int saveRank) {
        Setting row;
        row.key = key;
        row.encoding = encoding;
        row.saveRank = saveRank;
        row.copy = [member](Config& to, const Config& from) { to.*member = from.*member; };
        row.differs = [member](const Config& a, const Config& b) { return a.*member != b.*member; };
        return row;
    }

    // A serial setting stored as the index of its choice.
    template <class Index>
    static Setting index(std::string_view key, int Config::*member, int saveRank) {
        Setting row = field(key, SettingEncoding::INTEGER, member, saveRank);
        row.loadDefault = std::to_string(Index::getDefault());
        row.valid = [](std::string_view text) {
            const auto index = parseDecimalInteger(text);
            return index && Index::valid(*index);
        };
        row.accepts = "an index from 0 to " + std::to_string(Index::kCount - 1) + " (";
        for (int i = 0; i < Index::kCount; ++i) {
            row.accepts += (i ? ", " : "") + std::to_string(i) + " = " + Index::getReadable(i);
            row.choices.push_back(std::to_string(i));
        }
        row.accepts += ")";
        row.read = [member](const Config& c) { return std::to_string(c.*member); };
        row.write = [member](Config& c, std::string_view text) { c.*member = *parseDecimalInteger(text); };
        return row;
    }

    // A choice stored as its constant name.
    template <class Enum>
    static Setting name(std::string_view key, Enum Config::*member, int saveRank) {
        Setting row = field(key, SettingEncoding::NAME, member, saveRank);
        row.loadDefault = std::string(Enum::getDefault().name());
        row.valid = [](std::string_view text) { return Enum::valid(text); };
        row.accepts = "one of ";
        for (const Enum constant : Enum::values()) {
            row.accepts += (row.choices.empty() ? "" : ", ") + std::string(constant.name());
            row.choices.emplace_back(constant.name());
        }
        row.read = [member](const Config& c) { return std::string((c.*member).name()); };
        row.write = [member](Config& c, std::string_view text) { c.*member = Enum::valueOf(text); };
        return row;
    }

    // Free text with its validator.
    template <class Validator>
    static Setting text(std::string_view key, std::string Config::*member, int saveRank) {
        Setting row = field(key, SettingEncoding::TEXT, member, saveRank);
        row.loadDefault = Validator::getDefault();
        row.valid = [](std::string_view text) { return Validator::valid(text); };
        if constexpr (requires { Validator::kAccepts; }) {
            row.accepts = Validator::kAccepts;
        } else {
            row.accepts = "empty or an integer ";
            row.accepts +=
                Validator::kMax == std::numeric_limits<std::int32_t>::max()
                    ? "of at least " + std::to_string(Validator::kMin)
                    : "from " + std::to_string(Validator::kMin) + " to " + std::to_string(Validator::kMax);
            if constexpr (requires { Validator::kUnit; })
                row.accepts += " (" + std::string(Validator::kUnit) + ")";
        }
        if constexpr (requires { Validator::refusal(std::string_view()); }) row.refusal = &Validator::refusal;
        row.read = [member](const Config& c) { return c.*member; };
        row.write = [member](Config& c, std::string_view text) { c.*member = std::string(text); };
        return row;
    }

    static Setting boolean(std::string_view key, bool Config::*member, bool loadDefault, int saveRank) {
        Setting row = field(key, SettingEncoding::BOOLEAN, member, saveRank);
        row.loadDefault = loadDefault ? "true" : "false";
        // Any letter case, as the store's own boolean reading takes it.
        row.valid = [](std::string_view text) {
            return base::asciiEqualsIgnoreCase(text, "true") || base::asciiEqualsIgnoreCase(text, "false");
        };
        row.accepts = "true or false";
        row.choices = {"true", "false"};
        row.read = [member](const Config& c) { return std::string(c.*member ? "true" : "false"); };
        row.write = [member](Config& c, std::string_view text) {
            c.*member = base::asciiEqualsIgnoreCase(text, "true");
        };
        return row;
    }

    // Any port name, unchecked: the port need not be attached when the setting is made. prevPort holds none
    // until loaded, port an empty text.
    template <class T>
    static Setting portName(std::string_view key, T Config::*member, int saveRank, std::string accepts) {
        Setting row = field(key, SettingEncoding::TEXT, member, saveRank);
        row.valid = [](std::string_view) { return true; };
        row.accepts = std::move(accepts);
        row.read = [member](const Config& c) -> std::optional<std::string> { return c.*member; };
        row.write = [member](Config& c, std::string_view text) { c.*member = std::string(text); };
        return row;
    }

    // The port of the last save; saving writes the current port into it.
    static Setting prevPort() {
        Setting row = portName(Config::Key::prevPort, &Config::prevPort, 1, "a port name");
        row.automatic = true;
        return row;
    }

    static Setting instrument() {
        Setting row = field("instrument", SettingEncoding::NAME, &Config::instrument, 2);
        row.loadDefault = std::string(CH::Instrument::getDefault().name());
        row.valid = [](std::string_view text) { return CH::Instrument::valid(text); };
        row.accepts =
            "the name of an instrument preset such as GENERIC, BARCODE or METTLER_SICS (zorvik-cli presets "
            "lists them)";
        for (const CH::Instrument preset : CH::Instrument::values())
            row.choices.emplace_back(preset.name());
        row.read = [](const Config& c) -> std::optional<std::string> {
            if (c.instrument) return std::string(c.instrument->name());
            return std::nullopt;
        };
        // Through the setter: a new preset is announced to the listeners.
        row.write = [](Config& c, std::string_view text) { c.setInstrument(CH::Instrument::valueOf(text)); };
        return row;
    }

    // Any byte code; the common ones are the choices.
    static Setting inputTerminator() {
        using Terminator = CH::InputTerminator;
        Setting row = field("inputTerminator", SettingEncoding::INTEGER, &Config::inputTerminator, 7);
        row.loadDefault = std::to_string(Terminator::getDefault());
        row.valid = [](std::string_view text) {
            const auto code = parseDecimalInteger(text);
            return code && Terminator::valid(*code);
        };
        row.accepts = "a byte code from " + std::to_string(Terminator::kMin) + " to " +
                      std::to_string(Terminator::kMax);
        for (const Terminator common : Terminator::values()) {
            row.accepts += (row.choices.empty() ? " (" : ", ") + std::to_string(common.getDecimal()) + " = " +
                           std::string(common.name());
            row.choices.push_back(std::to_string(common.getDecimal()));
        }
        row.accepts += ")";
        row.read = [](const Config& c) { return std::to_string(c.inputTerminator); };
        row.write = [](Config& c, std::string_view text) { c.inputTerminator = *parseDecimalInteger(text); };
        return row;
    }
};

std::vector<Setting> SettingsTableBuilder::build() {
    using C = Config;
    // Loading reads the rows in this order (port before prevPort, whose default it is); the last number
    // of each row is its place in the saved file.
    return {
        portName(Config::Key::port, &C::port, 0, "a port name such as /dev/ttyUSB0 or COM1; empty for none"),
        prevPort(),
        instrument(),
        index<CH::BitRates>("bitRate", &C::bitRate, 3),
        index<CH::DataBits>("dataBits", &C::dataBits, 4),
        index<CH::StopBits>("stopBits", &C::stopBits, 5),
        index<CH::Parity>("parity", &C::parity, 6),
        name<CH::DecimalSeparator>("decimalSeparator", &C::decimalSeparator, 9),
        inputTerminator(),
        index<CH::Handshake>("handshake", &C::handshake, 8),
        name<CH::StartWith>("startWith", &C::startWith, 11),
        name<CH::OutputTerminator>("outputTerminator", &C::outputTerminator, 12),
        name<CH::OutputTerminator>("outputTerminator2", &C::outputTerminator2, 13),
        text<CH::EveryXValues>("everyXValues", &C::everyXValues, 14),
        name<CH::Connect>("connect", &C::connect, 15),
        text<CH::MathOperand>("mathOperand", &C::mathOperand, 17),
        name<CH::MathOperation>("mathOperation", &C::mathOperation, 16),
        text<CH::DecimalPlaces>("decimalPlaces", &C::decimalPlaces, 18),
        name<CH::RoundingMethod>("roundingMethod", &C::roundingMethod, 19),
        name<CH::Sound>("sound", &C::sound, 10),
        name<CH::KeyboardType>("keyboardType", &C::keyboardType, 20),
        text<CH::Delay>("delay", &C::delay, 21),
        // On a first run these start false, false, true, false, false (unlike a new record).
        boolean("minimizeToTray", &C::minimizeToTray, false, 22),
        boolean("notifyWhenMinimizedToTray", &C::notifyWhenMinimizedToTray, false, 23),
        boolean("checkForUpdates", &C::checkForUpdates, true, 24),
        boolean("abortAutoStartWhenPrevPortNotAvailable", &C::abortAutoStartWhenPrevPortNotAvailable, false,
                25),
        boolean("ignoreDuplicates", &C::ignoreDuplicates, false, 26),
        name<CH::EditOperation>("editOperation", &C::editOperation, 27),
        name<CH::EditPosition>("editPosition", &C::editPosition, 28),
        text<CH::EditNumCharacters>("editNumCharacters", &C::editNumCharacters, 29),
        text<CH::RemoveCharacters>("removeCharacters", &C::removeCharacters, 30),
        text<CH::IgnoreTimeLimit>("ignoreTimeLimit", &C::ignoreTimeLimit, 32),
        text<CH::IgnoreDifference>("ignoreDifference", &C::ignoreDifference, 33),
        text<CH::CustomRegEx>("customRegEx", &C::customRegEx, 31),
        boolean("reconnect", &C::reconnect, false, 34),
        text<CH::RequestCommand>("requestCommand", &C::requestCommand, 35),
        text<CH::RequestInterval>("requestInterval", &C::requestInterval, 36),
        text<CH::RequestHotKey>("requestHotKey", &C::requestHotKey, 37),
        text<CH::ValueLog>("valueLog", &C::valueLog, 38),
        // On by default, also for a settings file from before the setting: Caps Lock never inverts a value.
        boolean("overrideCapsLock", &C::overrideCapsLock, true, 39),
    };
}

const std::vector<Setting>& settingsTable() {
    static const std::vector<Setting> table = SettingsTableBuilder::build();
    return table;
}

const Setting* findSetting(std::string_view key) {
    const auto& table = settingsTable();
    const auto it = std::ranges::find(table, key, &Setting::key);
    return it == table.end() ? nullptr : &*it;
}

const std::vector<const Setting*>& settingsInSaveOrder() {
    static const std::vector<const Setting*> order = [] {
        std::vector<const Setting*> rows;
        for (const Setting& setting : settingsTable())
            rows.push_back(&setting);
        std::ranges::sort(rows, {}, &Setting::saveRank);
        return rows;
    }();
    return order;
}

}  // namespace rszorvik::config
