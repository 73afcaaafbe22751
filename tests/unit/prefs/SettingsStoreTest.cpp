#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <sstream>
#include <string>

#include "config/SettingsTable.h"
#include "prefs/AtomicFile.h"
#include "prefs/FilePreferences.h"
#include "prefs/SettingsStore.h"
#include "prefs/XmlSupport.h"
#include "support/PrefsTestSupport.h"

namespace rszorvik::prefs {
namespace {

using config::Config;
using test::entryLines;
using test::readFile;
using test::writeFile;
namespace CH = config::ConfigHelper;

const std::string kSettings(Config::kNodePath);

// Every field away from both the construction and the loading defaults.
Config unusualConfig() {
    const std::pair<std::string_view, std::string_view> settings[] = {
        {"port", "/dev/ttyUSB1"},
        {"instrument", "METTLER_SICS"},
        {"bitRate", "11"},
        {"dataBits", "2"},
        {"stopBits", "1"},
        {"parity", "2"},
        {"inputTerminator", "10"},
        {"handshake", "1"},
        {"connect", "AUTO"},
        {"keyboardType", "GERMAN"},
        {"delay", "35"},
        {"decimalSeparator", "COMMA"},
        {"startWith", "F2"},
        {"outputTerminator", "TAB"},
        {"outputTerminator2", "ENTER"},
        {"everyXValues", "3"},
        {"mathOperation", "DIVIDE"},
        {"mathOperand", "2.5"},
        {"decimalPlaces", "3"},
        {"roundingMethod", "HALF_EVEN"},
        {"sound", "CLAVES"},
        {"minimizeToTray", "true"},
        {"notifyWhenMinimizedToTray", "true"},
        {"checkForUpdates", "false"},
        {"abortAutoStartWhenPrevPortNotAvailable", "true"},
        {"editOperation", "KEEP"},
        {"editPosition", "LAST"},
        {"editNumCharacters", "4"},
        {"removeCharacters", "kg\x02"},
        {"customRegEx", "W:\\s*([0-9.]+)"},
        {"ignoreDuplicates", "true"},
        {"ignoreTimeLimit", "500"},
        {"ignoreDifference", "0.01"},
    };
    Config c;
    for (const auto& [key, value] : settings)
        applySetting(c, key, value);
    return c;
}

class SettingsStoreTest : public test::StoreTest {
  protected:
    std::shared_ptr<Preferences> settings() { return node(kSettings); }
    bool load(Config& c, const std::vector<std::string>& ports = {}) {
        return loadConfig(*settings(), c, ports);
    }
};

TEST_F(SettingsStoreTest, AFreshStoreLoadsTheLoadingDefaultsAndWritesNothing) {
    Config c;
    EXPECT_TRUE(load(c));
    EXPECT_EQ(c.getInstrument(), CH::Instrument::GENERIC);
    EXPECT_EQ(c.getBitRate(), 7);
    EXPECT_EQ(c.getDataBits(), 3);
    EXPECT_EQ(c.getStopBits(), 0);
    EXPECT_EQ(c.getParity(), 0);
    EXPECT_EQ(c.getInputTerminator(), 13);
    EXPECT_EQ(c.getHandshake(), 0);
    EXPECT_EQ(c.getDelay(), "20");
    EXPECT_EQ(c.getKeyboardType(), CH::KeyboardType::QUERTY);
    EXPECT_EQ(c.getRoundingMethod(), CH::RoundingMethod::HALF_UP);
    for (const auto& text : {c.getPort(), c.getEveryXValues(), c.getMathOperand(), c.getDecimalPlaces(),
                             c.getEditNumCharacters(), c.getRemoveCharacters(), c.getCustomRegEx(),
                             c.getIgnoreTimeLimit(), c.getIgnoreDifference()})
        EXPECT_EQ(text, "");
    EXPECT_EQ(c.getPrevPort(), "");
    EXPECT_FALSE(c.minimizeToTray);
    EXPECT_FALSE(c.notifyWhenMinimizedToTray);
    EXPECT_TRUE(c.checkForUpdates);
    EXPECT_FALSE(c.abortAutoStartWhenPrevPortNotAvailable);
    EXPECT_FALSE(c.ignoreDuplicates);
    EXPECT_FALSE(std::filesystem::exists(file));

    // What a front end starts with when the file cannot be read is the same, port and all.
    for (const std::vector<std::string>& ports : {std::vector<std::string>{}, {"/dev/ttyS1", "/dev/ttyS0"}}) {
        Config loaded;
        load(loaded, ports);
        const Config defaults = defaultConfig(ports);
        EXPECT_FALSE(Config::hasChanged(defaults, loaded)) << ports.size();
        EXPECT_EQ(defaults.getPort(), loaded.getPort());
        EXPECT_EQ(defaults.getPrevPort(), loaded.getPrevPort());
    }
}

// Settings saved before Caps Lock could be overridden load with it overridden, as a new installation has it.
TEST_F(SettingsStoreTest, AFileWithoutTheCapsLockSettingOverridesCapsLock) {
    writeFile(file, "com.vexlune.zorvik.delay=35\n");
    restart();
    Config record;
    record.setOverrideCapsLock(false);
    EXPECT_TRUE(load(record));
    EXPECT_TRUE(record.getOverrideCapsLock());
    EXPECT_EQ(record.getValueLog(), "");
}

TEST_F(SettingsStoreTest, PortIsReadOnlyWhenThereArePorts) {
    struct Case {
        std::vector<std::string> ports;
        std::string stored;  // "port=...\nprevPort=..." lines of the settings node
        std::string port, prevPort;
    };
    const Case cases[] = {
        {{}, "", "", ""},
        {{}, "port=COM3\n", "", ""},
        {{}, "port=COM3\nprevPort=COM4\n", "", "COM4"},
        {{"/dev/ttyS0", "/dev/ttyUSB0"}, "", "/dev/ttyS0", "/dev/ttyS0"},
        {{"/dev/ttyS0"}, "port=COM3\n", "COM3", "COM3"},
        {{"/dev/ttyS0"}, "port=A\nprevPort=B\n", "A", "B"},
    };
    for (const auto& c : cases) {
        std::string content;
        std::istringstream lines(c.stored);
        for (std::string line; std::getline(lines, line);)
            content += "com.vexlune.zorvik." + line + "\n";
        writeFile(file, content);
        restart();
        Config record;
        EXPECT_TRUE(load(record, c.ports));
        EXPECT_EQ(record.getPort(), c.port) << c.stored;
        EXPECT_EQ(record.getPrevPort(), c.prevPort) << c.stored;
    }
}

TEST_F(SettingsStoreTest, BadStoredValuesAreRepairedAndReported) {
    const std::pair<std::string, std::string> bad[] = {
        {"bitRate", "99"},
        {"bitRate", "fast"},  // not even a number
        {"parity", "5"},
        {"inputTerminator", "256"},
        {"instrument", "NOPE"},
        {"keyboardType", "QWERTY"},
        {"decimalSeparator", "dot"},
        {"delay", "1001"},
        {"everyXValues", "1"},
        {"decimalPlaces", "8"},
        {"removeCharacters", "\xE2\x82\xAC"},
        {"customRegEx", "(unclosed"},
        {"minimizeToTray", "yes"},
        {"checkForUpdates", "maybe"},
        {"valueLog", "values.csv"},
        {"overrideCapsLock", "1"},
    };
    for (const auto& [key, text] : bad) {
        writeFile(file, "com.vexlune.zorvik.delay=35\n");
        restart();
        settings()->put(key, text);
        const std::string before = readFile(file);
        Config record;
        EXPECT_FALSE(load(record)) << key << "=" << text;
        const config::Setting* setting = config::findSetting(key);
        EXPECT_EQ(setting->read(record), setting->loadDefault) << key << "=" << text;
        if (key != "delay") {
            EXPECT_EQ(record.getDelay(), "35") << "other keys load as stored";
        }
        EXPECT_EQ(readFile(file), before) << "loading wrote to the store";
    }
}

// A file edited elsewhere may hold values the store cannot write back; loaded as they are, they would
// stop the next save at that key (found by fuzzing the settings file).
TEST_F(SettingsStoreTest, StoredValuesThatCannotBeSavedAreRepaired) {
    struct Case {
        std::string line;  // of the settings file, after "com.vexlune.zorvik."
        std::string key;
        std::string loaded;
    };
    const Case cases[] = {
        {"removeCharacters=\\u0001\\u0000\t+", "removeCharacters", ""},
        {"customRegEx=" + std::string(Preferences::MAX_VALUE_LENGTH + 1, 'x'), "customRegEx", ""},
        {"port=COM\\u00001", "port", "/dev/ttyS0"},
        {"prevPort=\\u0000", "prevPort", "/dev/ttyS0"},
    };
    for (const auto& c : cases) {
        writeFile(file, "com.vexlune.zorvik.delay=35\ncom.vexlune.zorvik." + c.line + "\n");
        restart();
        Config record;
        std::vector<RepairedValue> repairs;
        EXPECT_FALSE(loadConfig(*settings(), record, {"/dev/ttyS0"}, &repairs)) << c.key;
        ASSERT_EQ(repairs.size(), 1u) << c.key;
        EXPECT_EQ(repairs[0].key, c.key);
        EXPECT_EQ(config::findSetting(c.key)->read(record).value_or(""), c.loaded) << c.key;

        std::ostringstream diagnostics;
        saveConfig(*settings(), record, diagnostics);
        EXPECT_EQ(diagnostics.str(), "") << c.key;
        restart();
        Config again;
        EXPECT_TRUE(load(again, {"/dev/ttyS0"})) << c.key;
        EXPECT_EQ(again.getDelay(), "35") << c.key;
    }
}

TEST_F(SettingsStoreTest, SavedSettingsLoadBackUnchanged) {
    Config saved = unusualConfig();
    saveConfig(*settings(), saved);
    restart();
    Config loaded;
    EXPECT_TRUE(load(loaded, {"/dev/ttyS0"}));
    EXPECT_FALSE(Config::hasChanged(saved, loaded));
    EXPECT_EQ(loaded.getPrevPort(), "/dev/ttyUSB1");
    const auto lines = entryLines(readFile(file));
    EXPECT_EQ(lines.size(), config::settingsTable().size());
    for (const char* line :
         {"com.vexlune.zorvik.bitRate=11", "com.vexlune.zorvik.instrument=METTLER_SICS",
          "com.vexlune.zorvik.checkForUpdates=false", "com.vexlune.zorvik.ignoreDuplicates=true",
          "com.vexlune.zorvik.inputTerminator=10", "com.vexlune.zorvik.prevPort=/dev/ttyUSB1"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
}

TEST_F(SettingsStoreTest, WithoutAPortNeitherPortNorPrevPortIsWritten) {
    settings()->put("port", "COM1");
    settings()->put("prevPort", "COM2");
    Config record = unusualConfig();
    record.setPort("");
    saveConfig(*settings(), record);
    const auto lines = entryLines(readFile(file));
    EXPECT_EQ(lines.size(), config::settingsTable().size());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "com.vexlune.zorvik.port=COM1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "com.vexlune.zorvik.prevPort=COM2"), lines.end());
}

TEST_F(SettingsStoreTest, AKeyThatCannotBeWrittenIsReportedAndTheRestIsFlushed) {
    Config record = unusualConfig();
    record.setCustomRegEx(std::string(Preferences::MAX_VALUE_LENGTH + 1, 'x'));
    std::ostringstream diagnostics;
    EXPECT_NO_THROW(saveConfig(*settings(), record, diagnostics));
    EXPECT_EQ(diagnostics.str().rfind("saveConfig exception: Value too long", 0), 0u) << diagnostics.str();
    restart();
    // Keys before the refused one were written; the refused one and those after it were not.
    EXPECT_EQ(settings()->get("removeCharacters"), "kg\x02");
    EXPECT_EQ(settings()->get("customRegEx"), std::nullopt);
    EXPECT_EQ(settings()->get("ignoreDifference"), std::nullopt);
    EXPECT_EQ(record.getCustomRegEx().size(), Preferences::MAX_VALUE_LENGTH + 1) << "the record is unchanged";
}

TEST_F(SettingsStoreTest, AFailingFlushReachesTheCaller) {
    writeFile(dir / "blocker", "");
    useFile(dir / "blocker" / "prefs.txt");
    test::LogCapture quiet;
    Config record = unusualConfig();
    EXPECT_THROW(saveConfig(*settings(), record), BackingStoreException);
    EXPECT_EQ(record.getPort(), "/dev/ttyUSB1");
}

TEST_F(SettingsStoreTest, TheStoreLivesBelowProgramDataOrTheUsersConfigFolder) {
    // Absolute on this host: "/" here, a drive under Windows.
    const std::filesystem::path root = std::filesystem::current_path().root_path();
    const auto at = [&](const char* relative) { return (root / relative).string(); };
    struct Case {
        std::optional<std::string> programData, xdg;
        std::string expected;
    };
    const Case cases[] = {
        {at("pd"), at("xdg"), at("pd/vexlune/zorvik/prefs.txt")},
        {"", at("xdg"), at("xdg/vexlune/zorvik/prefs.txt")},
        {std::nullopt, at("xdg"), at("xdg/vexlune/zorvik/prefs.txt")},
        {std::nullopt, "relative", at("home/op/.config/vexlune/zorvik/prefs.txt")},
        {std::nullopt, std::nullopt, at("home/op/.config/vexlune/zorvik/prefs.txt")},
    };
    base::SystemProperties::set("user.home", at("home/op"));
    for (const auto& c : cases) {
        for (const auto& [name, value] :
             {std::pair{"ProgramData", c.programData}, std::pair{"XDG_CONFIG_HOME", c.xdg}}) {
            if (value) {
                base::SystemProperties::set(name, *value);
            } else {
                base::SystemProperties::clear(name);
            }
        }
        EXPECT_EQ(defaultSettingsFile(), std::filesystem::path(c.expected));
    }
    for (const char* name : {"ProgramData", "XDG_CONFIG_HOME", "user.home"})
        base::SystemProperties::clear(name);
}

TEST_F(SettingsStoreTest, ExportThenImportIntoAnEmptyStoreRestoresEverySetting) {
    Config saved = unusualConfig();
    saveConfig(*settings(), saved);
    settings()->put("unknownToThisVersion", "kept");
    exportSettings(*settings(), dir / "zorvik.xml");

    useFile(dir / "fresh.txt");
    EXPECT_EQ(importSettings(dir / "zorvik.xml", *Preferences::userRoot()),
              std::vector<std::string>{"unknownToThisVersion"});
    restart();
    Config loaded;
    EXPECT_TRUE(load(loaded, {"/dev/ttyS0"}));
    EXPECT_FALSE(Config::hasChanged(saved, loaded));
    EXPECT_EQ(settings()->get("unknownToThisVersion"), "kept");
    EXPECT_EQ(settings()->keys().size(), config::settingsTable().size() + 1);
}

TEST_F(SettingsStoreTest, ImportRefusesFilesThatAreNotSettingsExportsAndChangesNothing) {
    saveConfig(*settings(), unusualConfig());
    const std::string before = readFile(file);
    auto document = [](const std::string& inner) {
        return "<preferences EXTERNAL_XML_VERSION=\"1.0\"><root type=\"user\"><map/>" + inner +
               "</root></preferences>";
    };
    const std::string settingsNode =
        "<node name=\"com\"><map/><node name=\"vexlune\"><map/><node name=\"zorvik\"><map>"
        "<entry key=\"bitRate\" value=\"3\"/>";
    const std::pair<const char*, std::string> cases[] = {
        {"another node only",
         document("<node name=\"other\"><map><entry key=\"k\" value=\"v\"/></map></node>")},
        {"settings and another node",
         document(settingsNode +
                  "</map></node></node></node><node name=\"x\"><map><entry key=\"k\" value=\"v\"/>"
                  "</map></node>")},
        {"a key the store cannot keep",
         document(settingsNode + "<entry key=\"a.b\" value=\"1\"/></map></node></node></node>")},
    };
    for (const auto& [name, content] : cases) {
        writeFile(dir / "in.xml", content);
        EXPECT_THROW(importSettings(dir / "in.xml", *Preferences::userRoot()),
                     InvalidPreferencesFormatException)
            << name;
        EXPECT_EQ(readFile(file), before) << name;
        EXPECT_EQ(settings()->get("bitRate"), "11") << name;
    }
    EXPECT_THROW(importSettings(dir / "missing.xml", *Preferences::userRoot()), std::runtime_error);
    std::filesystem::resize_file(dir / "in.xml", XmlSupport::MAX_DOCUMENT_SIZE + 1);  // refused unread
    EXPECT_THROW(importSettings(dir / "in.xml", *Preferences::userRoot()), InvalidPreferencesFormatException);
    EXPECT_EQ(readFile(file), before);
}

// A front end saves what it changed over what another program saved since it loaded the settings.
TEST_F(SettingsStoreTest, ASaveOfChangesKeepsWhatOthersSavedMeanwhile) {
    struct Row {
        const char* key;
        const char* atLoad;     // stored when the front end loaded; null: absent
        const char* elsewhere;  // saved by another program meanwhile; null: untouched
        const char* changed;    // set in the front end; null: left as loaded
        const char* expected;   // in the file after the save
    };
    const Row rows[] = {
        {"delay", "20", "77", nullptr, "77"},                     // changed elsewhere only
        {"bitRate", "7", "3", "5", "5"},                          // changed in both: the later save
        {"dataBits", "3", nullptr, "2", "2"},                     // changed here only
        {"parity", "9", nullptr, nullptr, "0"},                   // the repair of an invalid value
        {"sound", nullptr, "CLAVES", nullptr, "CLAVES"},          // absent here, saved elsewhere
        {"keyboardType", nullptr, "GERMAN", "AZERTY", "AZERTY"},  // absent, then set in both
        {"stopBits", nullptr, nullptr, nullptr, "0"},             // absent everywhere: filled in
    };
    const auto fileWith = [&](bool withElsewhere) {
        std::string text = "com.vexlune.other.k=v\n";
        for (const Row& row : rows) {
            const char* value = withElsewhere && row.elsewhere ? row.elsewhere : row.atLoad;
            if (value) text += "com.vexlune.zorvik." + std::string(row.key) + "=" + value + "\n";
        }
        return text;
    };
    writeFile(file, fileWith(false));
    restart();
    Config c;
    load(c);
    // As the window keeps them: the loaded record's texts, the stored ones where the store had one.
    auto before = settingTexts(c);
    for (auto& [key, text] : storedTexts(*settings()))
        before[key] = text;
    for (const Row& row : rows)
        if (row.changed) applySetting(c, row.key, row.changed);
    writeFile(file, fileWith(true));

    std::ostringstream diagnostics;
    saveChangedConfig(*settings(), c, before, diagnostics);
    const auto lines = entryLines(readFile(file));
    const auto holds = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    for (const Row& row : rows)
        EXPECT_TRUE(holds("com.vexlune.zorvik." + std::string(row.key) + "=" + row.expected))
            << row.key << "\n"
            << readFile(file);
    EXPECT_TRUE(holds("com.vexlune.other.k=v"));
    EXPECT_EQ(diagnostics.str(), "");
    EXPECT_EQ(settings()->get("delay"), "77") << "the node holds what the file holds now";
}

// Another program holds the file for writing: a save waits for it and then fails, writing nothing.
TEST_F(SettingsStoreTest, ASaveNeverWritesWhileAnotherProgramWrites) {
    writeFile(file, "com.vexlune.zorvik.delay=20\n");
    restart();
    Config c;
    load(c);
    const auto before = storedTexts(*settings());
    applySetting(c, "delay", "55");
    // The lock every writer of the file takes (zorvik-cli, a second window), held as such a program does.
    std::optional<AtomicFile::WriteLock> otherProgram(std::in_place, file);
    ASSERT_EQ(otherProgram->tryLock(), AtomicFile::WriteLock::State::Held);
    const auto patience = FilePreferences::lockPatience;
    FilePreferences::lockPatience = std::chrono::milliseconds(100);
    std::ostringstream diagnostics;
    EXPECT_THROW(saveChangedConfig(*settings(), c, before, diagnostics), BackingStoreException);
    EXPECT_THROW(saveConfig(*settings(), c, diagnostics), BackingStoreException);
    EXPECT_EQ(readFile(file), "com.vexlune.zorvik.delay=20\n");
    otherProgram.reset();
    saveChangedConfig(*settings(), c, before, diagnostics);
    FilePreferences::lockPatience = patience;
    EXPECT_EQ(settings()->get("delay"), "55");
    EXPECT_NE(readFile(file).find("com.vexlune.zorvik.delay=55\n"), std::string::npos);
}

}  // namespace
}  // namespace rszorvik::prefs
