// The window's settings in the store: the autosave when a tab is left, the save when the window closes,
// export and import, each through the whole start-up with a throw-away settings file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "StartUpFixture.h"
#include "app/CatalogText.h"
#include "app/EventLog.h"
#include "support/TempDir.h"

namespace rszorvik {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Kind = test::RecordingDialogs::Kind;

std::vector<std::string> onePort() {
    return {"/dev/ttyA"};
}

std::string entry(const std::string& key, const std::string& value) {
    return "com.vexlune.zorvik." + key + "=" + value;
}

bool holds(const fs::path& file, const std::string& key, const std::string& value) {
    return fs::is_regular_file(file) && readFile(file).find(entry(key, value) + "\n") != std::string::npos;
}

// An export of the settings node holding these entries, as the window's export writes one.
std::string exportDocument(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string map;
    for (const auto& [key, value] : entries)
        map += "<entry key=\"" + key + "\" value=\"" + value + "\"/>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
           "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">\n"
           "<preferences EXTERNAL_XML_VERSION=\"1.0\"><root type=\"user\"><map/>"
           "<node name=\"com\"><map/><node name=\"vexlune\"><map/><node name=\"zorvik\"><map>" +
           map + "</map></node></node></node></root></preferences>\n";
}

struct Window {
    explicit Window(test::StartUpFixture& f) : frame(*f.startUp->window()) {}
    template <class W = QWidget>
    W* find(const char* name) const {
        W* found = frame.findChild<W*>(QString::fromLatin1(name));
        if (found == nullptr) throw std::logic_error(std::string("no control ") + name);
        return found;
    }
    void show(const char* page) const { frame.tabbedPane()->setCurrentWidget(find(page)); }
    RevareRiDevFrame2& frame;
};

// The store is written only when a tab of settings (or the about page) is left with something changed.
struct AutosaveCase {
    const char* name;
    const char* page;                            // shown while changing
    std::function<void(const Window&)> change;   // nothing: only passing through
    std::vector<const char*> then;               // the pages shown next, in order
    std::pair<const char*, const char*> stored;  // what the store holds afterwards, if anything
};

void PrintTo(const AutosaveCase& c, std::ostream* os) {
    *os << c.name;
}

void pickBitRate3(const Window& w) {
    w.find<QComboBox>("bitRateBox")->setCurrentIndex(3);
}

// A folder where the settings file was: the store can no longer be written.
void makeFolder(const test::StartUpFixture& f) {
    fs::remove(f.file());
    fs::create_directory(f.file());
}

void tickUpdates(const Window& w) {
    w.find<QCheckBox>("checkForUpdatesCheckBox")->click();
}

class Autosave : public ::testing::TestWithParam<AutosaveCase> {};

TEST_P(Autosave, SavesWhatChangedWhenASettingsTabIsLeft) {
    const AutosaveCase& c = GetParam();
    test::StartUpFixture f;
    f.store({{"bitRate", "7"}, {"checkForUpdates", "false"}});
    const std::string before = readFile(f.file());
    f.start({}, &onePort);
    const Window w(f);
    w.show(c.page);
    if (c.change) c.change(w);
    for (const char* page : c.then)
        w.show(page);

    if (c.stored.first == nullptr) {
        EXPECT_EQ(readFile(f.file()), before) << "nothing is written";
    } else {
        EXPECT_TRUE(holds(f.file(), c.stored.first, c.stored.second)) << readFile(f.file());
    }
    EXPECT_TRUE(f.messages().empty());
    EXPECT_TRUE(f.exits.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Window, Autosave,
    ::testing::Values(
        AutosaveCase{"LeavingInputAfterAChange", "inputPanel", &pickBitRate3, {"panel1"}, {"bitRate", "3"}},
        AutosaveCase{"LeavingInputUnchanged", "inputPanel", nullptr, {"panel1"}, {}},
        AutosaveCase{"LeavingOutputAfterAChange",
                     "outputPanel",
                     [](const Window& w) { w.find<QLineEdit>("delayTextField")->setText("35"); },
                     {"eventLogPanel"},
                     {"delay", "35"}},
        AutosaveCase{"LeavingSettingsDoesNotSave", "settingsPanel", &tickUpdates, {"panel1"}, {}},
        // A change on the Settings tab waits for the next tab that saves.
        AutosaveCase{"SettingsChangeSavedWhenAboutIsLeft",
                     "settingsPanel",
                     &tickUpdates,
                     {"aboutPanel", "panel1"},
                     {"checkForUpdates", "true"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(SettingsStorage, AutosaveFailureIsLoggedAndTheWindowGoesOn) {
    test::StartUpFixture f;
    f.store({{"bitRate", "7"}});
    f.start({}, &onePort);
    const Window w(f);
    makeFolder(f);
    w.show("inputPanel");
    pickBitRate3(w);
    w.show("panel1");

    const QString expected = catalogText("autosave.error");
    const QTextDocument* log = f.startUp->window()->eventLog()->document();
    bool found = false;
    for (QTextBlock block = log->begin(); block.isValid(); block = block.next()) {
        const qsizetype at = block.text().indexOf(expected);
        if (at < 0) continue;
        found = true;
        EXPECT_TRUE(block.text().contains(QString::fromStdString(f.file().string()))) << "names the file";
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().position() - block.position() > at) continue;
            EXPECT_EQ(it.fragment().charFormat(),
                      f.startUp->window()->eventLog()->format(EventLog::Style::Important));
        }
    }
    EXPECT_TRUE(found) << log->toPlainText().toStdString();
    EXPECT_TRUE(f.messages().empty()) << "no dialog";
    EXPECT_TRUE(fs::is_directory(f.file()));
}

// Export: the chooser proposes zorvik.xml; an existing file is replaced only after the question.
struct ExportCase {
    const char* name;
    bool chosen;                // a file is chosen (else the chooser is cancelled)
    const char* existing;       // the chosen file's content before, if it exists
    std::vector<bool> answers;  // to the overwrite question
    bool exported;              // the file holds the export afterwards
    const char* titleKey;       // of the one message, if any
    const char* textKey;
    const char* textKey2;
};

void PrintTo(const ExportCase& c, std::ostream* os) {
    *os << c.name;
}

class Export : public ::testing::TestWithParam<ExportCase> {};

TEST_P(Export, AsksBeforeReplacingAndSavesFirst) {
    const ExportCase& c = GetParam();
    test::StartUpFixture f;
    f.start({}, &onePort);  // nothing stored yet
    const Window w(f);
    const fs::path target = f.dir / "out.xml";
    if (c.existing) writeFile(target, c.existing);
    f.dialogs.files.push_back(c.chosen ? QString::fromStdString(target.string()) : QString());
    f.dialogs.answers.assign(c.answers.begin(), c.answers.end());
    w.show("settingsPanel");
    w.find<QPushButton>("exportSettingsButton")->click();

    ASSERT_FALSE(f.dialogs.calls.empty());
    EXPECT_EQ(f.dialogs.calls[0].kind, Kind::SaveFile);
    EXPECT_EQ(f.dialogs.calls[0].title, QStringLiteral("zorvik.xml")) << "the proposed name";
    EXPECT_TRUE(f.dialogs.answers.empty()) << "the question is asked exactly when the file exists";
    if (c.exported) {
        const std::string xml = readFile(target);
        EXPECT_NE(xml.find("<node name=\"zorvik\">"), std::string::npos) << xml;
        EXPECT_NE(xml.find("<entry key=\"bitRate\" value=\"7\"/>"), std::string::npos) << xml;
        EXPECT_TRUE(holds(f.file(), "bitRate", "7")) << "the settings are saved before they are exported";
    } else {
        EXPECT_EQ(c.existing ? readFile(target) : std::string(), c.existing ? c.existing : "");
        EXPECT_EQ(fs::exists(target), c.existing != nullptr);
        EXPECT_FALSE(fs::exists(f.file())) << "refusing writes nothing at all";
    }
    const test::Messages shown = f.messages();
    if (c.titleKey == nullptr) {
        EXPECT_TRUE(shown.empty());
        return;
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, catalogText(c.titleKey));
    QString text = catalogText(c.textKey);
    text += c.textKey2 ? catalogText(c.textKey2) : QString::fromStdString(target.string());
    EXPECT_EQ(shown[0].second, text);
}

INSTANTIATE_TEST_SUITE_P(
    Window, Export,
    ::testing::Values(ExportCase{"NewFile",
                                 true,
                                 nullptr,
                                 {},
                                 true,
                                 "export.successful",
                                 "configuration.exported.to.file.n",
                                 nullptr},
                      ExportCase{"ExistingFileReplacedAfterOk",
                                 true,
                                 "old\n",
                                 {true},
                                 true,
                                 "export.successful",
                                 "configuration.exported.to.file.n",
                                 nullptr},
                      ExportCase{"ExistingFileKeptOnCancel",
                                 true,
                                 "old\n",
                                 {false},
                                 false,
                                 "error",
                                 "export.failed",
                                 "cancelled.by.user"},
                      ExportCase{"ChooserCancelled", false, nullptr, {}, false, nullptr, nullptr, nullptr}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(SettingsStorage, ExportOverTheSettingsFileIsRefused) {
    test::StartUpFixture f;
    f.store({{"bitRate", "7"}});
    f.start({}, &onePort);
    f.dialogs.files.push_back(QString::fromStdString(f.file().string()));
    f.dialogs.answers.push_back(true);  // overwrite
    Window(f).find<QPushButton>("exportSettingsButton")->click();

    const test::Messages shown = f.messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, catalogText("error"));
    EXPECT_TRUE(shown[0].second.startsWith(catalogText("export.failed"))) << shown[0].second.toStdString();
    EXPECT_TRUE(holds(f.file(), "bitRate", "7")) << "still the settings: " << readFile(f.file());
}

// Import: the file goes into the store at once; OK ends the program with 4, without the closing save, and
// the next start shows what was imported; Cancel goes on, and closing puts the window's settings back.
using Exits = std::vector<test::StartUpFixture::Exit>;

struct ImportCase {
    const char* name;
    bool apply;
    Exits exitsAfterClose;
    const char* storedAfterClose;  // bitRate
};

void PrintTo(const ImportCase& c, std::ostream* os) {
    *os << c.name;
}

class Import : public ::testing::TestWithParam<ImportCase> {};

TEST_P(Import, GoesIntoTheStoreAndAsksToRestart) {
    const ImportCase& c = GetParam();
    test::StartUpFixture f;
    f.store({{"bitRate", "7"}, {"delay", "20"}});
    const fs::path exported = f.dir / "in.xml";
    writeFile(exported, exportDocument({{"bitRate", "2"}, {"delay", "55"}}));
    f.start({}, &onePort);
    const Window w(f);
    f.dialogs.files.push_back(QString::fromStdString(exported.string()));
    f.dialogs.answers.push_back(c.apply);
    w.show("settingsPanel");
    w.find<QPushButton>("importSettingsButton")->click();

    ASSERT_EQ(f.dialogs.calls.size(), 2u);
    EXPECT_EQ(f.dialogs.calls[0].kind, Kind::OpenFile);
    EXPECT_EQ(f.dialogs.calls[1].kind, Kind::Question);
    EXPECT_EQ(f.dialogs.calls[1].text, catalogText("apply.imported.settings.and.exit"));
    EXPECT_EQ(f.dialogs.calls[1].title, catalogText("restart.required"));
    EXPECT_EQ(f.exits, c.apply ? (Exits{{4, 0}}) : Exits());
    EXPECT_TRUE(holds(f.file(), "bitRate", "2")) << "the imported file is the store now";
    EXPECT_EQ(w.find<QComboBox>("bitRateBox")->currentIndex(), 7) << "the window keeps its settings";

    w.frame.close();
    EXPECT_EQ(f.exits, c.exitsAfterClose);
    EXPECT_TRUE(holds(f.file(), "bitRate", c.storedAfterClose)) << readFile(f.file());

    f.start({}, &onePort);
    const Window next(f);
    EXPECT_EQ(next.find<QComboBox>("bitRateBox")->currentIndex(), std::stoi(c.storedAfterClose));
    EXPECT_EQ(next.find<QLineEdit>("delayTextField")->text(), c.apply ? "55" : "20");
}

INSTANTIATE_TEST_SUITE_P(Window, Import,
                         ::testing::Values(ImportCase{"Ok", true, {{4, 0}}, "2"},
                                           ImportCase{"CancelThenClose", false, {{0, 0}}, "7"}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(SettingsStorage, RefusedImportSaysWhyAndChangesNothing) {
    const struct {
        const char* name;
        std::string content;
        const char* named;  // in the message
    } cases[] = {
        {"not an export", "com.vexlune.zorvik.bitRate=2\n", "XML"},
        {"invalid value", exportDocument({{"bitRate", "99"}, {"delay", "55"}}), "bitRate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::StartUpFixture f;
        f.store({{"bitRate", "7"}, {"delay", "20"}});
        const std::string before = readFile(f.file());
        writeFile(f.dir / "in.xml", c.content);
        f.start({}, &onePort);
        const Window w(f);
        f.dialogs.files.push_back(QString::fromStdString((f.dir / "in.xml").string()));
        w.find<QPushButton>("importSettingsButton")->click();

        const test::Messages shown = f.messages();
        ASSERT_EQ(shown.size(), 1u) << "no question after a refused import";
        EXPECT_EQ(shown[0].first, catalogText("error"));
        EXPECT_TRUE(shown[0].second.startsWith(catalogText("import.failed")))
            << shown[0].second.toStdString();
        EXPECT_TRUE(shown[0].second.contains(QString::fromLatin1(c.named))) << shown[0].second.toStdString();
        EXPECT_EQ(readFile(f.file()), before);
        EXPECT_TRUE(f.exits.empty());
    }
}

// Closing saves whatever the window shows and ends with 0, a store failure shown first.
struct CloseCase {
    const char* name;
    std::function<void(const test::StartUpFixture&)> beforeStart;
    std::function<void(const test::StartUpFixture&, const Window&)> beforeClose;
    bool saved;            // the store holds the window's settings afterwards
    bool failureShown;     // the store failure's dialog, last
    bool keptAside;        // the unreadable file lies beside the new one
    std::size_t messages;  // before the exit
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.name;
}

const char* const kMalformed = "com.vexlune.zorvik.delay=\\uZZZZ\n";

class Closing : public ::testing::TestWithParam<CloseCase> {};

TEST_P(Closing, SavesAndEndsWithZero) {
    const CloseCase& c = GetParam();
    test::StartUpFixture f;
    f.store({{"checkForUpdates", "false"}});
    if (c.beforeStart) c.beforeStart(f);
    f.start({}, &onePort);
    const Window w(f);
    w.show("settingsPanel");
    tickUpdates(w);  // not left: only the closing save stores it
    const char* shownValue = w.find<QCheckBox>("checkForUpdatesCheckBox")->isChecked() ? "true" : "false";
    if (c.beforeClose) c.beforeClose(f, w);
    w.frame.close();

    EXPECT_EQ(f.exits, (Exits{{0, c.messages}}));
    EXPECT_EQ(holds(f.file(), "checkForUpdates", shownValue), c.saved) << "saved";
    const test::Messages shown = f.messages();
    ASSERT_EQ(shown.size(), c.messages);
    if (c.failureShown) {
        EXPECT_EQ(shown.back().first, catalogText("error"));
        EXPECT_TRUE(shown.back().second.startsWith(catalogText("access.error.while.saving.settings")));
    }
    std::vector<std::string> aside;
    for (const auto& item : fs::directory_iterator(f.dir.path()))
        if (item.path().filename().string().starts_with("prefs.txt.unreadable-"))
            aside.push_back(readFile(item));
    const std::vector<std::string> expectedAside =
        c.keptAside ? std::vector<std::string>{kMalformed} : std::vector<std::string>{};
    EXPECT_EQ(aside, expectedAside);
}

INSTANTIATE_TEST_SUITE_P(
    Window, Closing,
    ::testing::Values(
        CloseCase{"Saves", nullptr, nullptr, true, false, false, 0},
        CloseCase{"StoreFailureShownThenZero", nullptr,
                  [](const test::StartUpFixture& f, const Window&) { makeFolder(f); }, false, true, false, 1},
        // Start-up reported the file it could not read; the first save keeps it beside the new one.
        CloseCase{"UnreadableFileKeptAside",
                  [](const test::StartUpFixture& f) { writeFile(f.file(), kMalformed); }, nullptr, true,
                  false, true, 1},
        CloseCase{"UnreadableFolderNeverReplaced", &makeFolder, nullptr, false, true, false, 2}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace rszorvik
