// zorvik-cli settings, run as a user would run it, on settings files in a temporary folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include "config/SettingsTable.h"
#include "support/CliShell.h"
#include "support/PrefsTestSupport.h"

namespace rszorvik::prefs {
namespace {

using rszorvik::test::CliRun;
using rszorvik::test::runCli;
using test::readFile;
using test::writeFile;

class PrefsCliTest : public ::testing::Test {
  protected:
    // runAs is put before the program (a setpriv call that drops root).
    CliRun cli(const std::string& arguments, const std::string& runAs = "") {
        return runCli(dir, arguments, runAs);
    }
    test::TempDir dir;
};

TEST_F(PrefsCliTest, ShowsTheLoadedSettingsWithoutWriting) {
    CliRun run = cli("settings");
    ASSERT_EQ(run.status, 0) << run.err;
    auto json = run.json();
    EXPECT_EQ(json["file"], (dir / "config/vexlune/zorvik/prefs.txt").string());
    EXPECT_EQ(json["repaired"], false);
    EXPECT_EQ(json["saved"], false);
    EXPECT_EQ(json["settings"]["bitRate"], 7);
    EXPECT_EQ(json["settings"]["checkForUpdates"], true);
    // A new installation types letters as they are whatever Caps Lock, and keeps no value log.
    EXPECT_EQ(json["settings"]["overrideCapsLock"], true);
    EXPECT_EQ(json["settings"]["valueLog"], "");
    EXPECT_EQ(json["settings"].size(), config::settingsTable().size());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "config/vexlune/zorvik")) << "the folders are created";
    EXPECT_FALSE(std::filesystem::exists(json["file"].get<std::string>())) << "loading writes nothing";

    writeFile(dir / "p.txt", "com.vexlune.zorvik.bitRate=99\ncom.vexlune.zorvik.delay=35\n");
    run = cli("--prefs p.txt settings");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.json()["repaired"], true);
    EXPECT_EQ(run.json()["settings"]["bitRate"], 7);
    EXPECT_EQ(run.json()["settings"]["delay"], "35");
    EXPECT_EQ(readFile(dir / "p.txt"), "com.vexlune.zorvik.bitRate=99\ncom.vexlune.zorvik.delay=35\n");
}

TEST_F(PrefsCliTest, SetAndSaveChangeTheSettingsAndInvalidOnesAreRefusedWithStatusTwo) {
    CliRun run =
        cli("--prefs p.txt settings --set bitRate=11 --set instrument=BARCODE --set minimizeToTray=true "
            "--set 'customRegEx=W:(\\d+)' --set port=/dev/ttyUSB0 --save");
    ASSERT_EQ(run.status, 0) << run.err;
    auto settings = cli("--prefs p.txt settings").json()["settings"];
    EXPECT_EQ(settings["bitRate"], 11);
    EXPECT_EQ(settings["instrument"], "BARCODE");
    EXPECT_EQ(settings["minimizeToTray"], true);
    EXPECT_EQ(settings["customRegEx"], "W:(\\d+)");
    EXPECT_EQ(settings["port"], "/dev/ttyUSB0");

    writeFile(dir / "good.xml", "");
    ASSERT_EQ(cli("--prefs other.txt settings --set delay=70 --export good.xml").status, 0);
    const std::string before = readFile(dir / "p.txt");
    struct Case {
        std::string arguments, message;
    };
    const Case cases[] = {
        {"--set bitRate=15 --save", "invalid value \"15\" for bitRate: it accepts an index from 0 to 14"},
        {"--set keyboardType=QWERTY --save", "for keyboardType: it accepts one of QUERTY"},
        {"--set speed=3 --save", "unknown setting \"speed\""},
        {"--set bitRate --save", "--set expects KEY=VALUE"},
        {"--import good.xml --set sound=LOUD --save", "for sound"},
    };
    for (const auto& c : cases) {
        run = cli("--prefs p.txt settings " + c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << c.arguments;
        EXPECT_EQ(readFile(dir / "p.txt"), before) << c.arguments;
    }
}

TEST_F(PrefsCliTest, ExportAndImportCarryTheSettingsToAnotherStore) {
    CliRun run =
        cli("--prefs a.txt settings --set sound=CLAVES --set 'removeCharacters=kg g' --export z.xml");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.json()["exported"], (dir / "z.xml").string());
    EXPECT_NE(readFile(dir / "a.txt").find("sound=CLAVES"), std::string::npos) << "export saves first";

    run = cli("--prefs b.txt settings --import z.xml");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.json()["settings"]["sound"], "CLAVES");
    EXPECT_EQ(run.json()["settings"]["removeCharacters"], "kg g");
    EXPECT_EQ(cli("--prefs b.txt settings").json()["settings"],
              cli("--prefs a.txt settings").json()["settings"]);

    const std::string before = readFile(dir / "b.txt");
    writeFile(dir / "bad.xml", "<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><x>&e;</x>");
    run = cli("--prefs b.txt settings --import bad.xml --set sound=NONE --save");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("zorvik-cli settings: Import fehlgeschlagen: "), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "b.txt"), before);
}

TEST_F(PrefsCliTest, TheStoredPortIsShownAndAnEmptyOneClearsItOnSave) {
    struct Case {
        std::string arguments;
        std::string port, prevPort;  // listed after the step
        bool portInFile;
    };
    const Case cases[] = {
        {"--set port=/dev/ttyUSB1 --save", "/dev/ttyUSB1", "/dev/ttyUSB1", true},
        {"--set delay=40 --save", "/dev/ttyUSB1", "/dev/ttyUSB1", true},  // the port survives other saves
        {"--set port=", "/dev/ttyUSB1", "/dev/ttyUSB1", true},            // not saved: nothing changes
        {"--set port= --save", "", "", false},
        {"--set delay=50 --save", "", "", false},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(cli("--prefs p.txt settings " + c.arguments).status, 0) << c.arguments;
        const CliRun listed = cli("--prefs p.txt settings");
        ASSERT_EQ(listed.status, 0) << listed.err;
        EXPECT_EQ(listed.json()["settings"]["port"], c.port) << c.arguments;
        EXPECT_EQ(listed.json()["settings"]["prevPort"], c.prevPort) << c.arguments;
        const std::string file = readFile(dir / "p.txt");
        EXPECT_EQ(file.find("zorvik.port=") != std::string::npos, c.portInFile) << c.arguments << "\n"
                                                                                << file;
        EXPECT_EQ(file.find("zorvik.prevPort=") != std::string::npos, c.portInFile) << c.arguments;
    }
}

TEST_F(PrefsCliTest, ARefusedValueSaysWhichRuleOrLimitItBreaks) {
    struct Case {
        std::string set, reason;
    };
    const Case cases[] = {
        {"customRegEx=(?:\\d+)", "it has no capture group"},
        {"customRegEx=(abc", "it does not compile: missing closing parenthesis at offset 4"},
        {"customRegEx=a[)](b)", "a \")\" comes before its first \"(\""},
    };
    for (const auto& c : cases) {
        const CliRun run = cli("--prefs p.txt settings --set '" + c.set + "' --save");
        EXPECT_EQ(run.status, 2) << c.set;
        EXPECT_NE(run.err.find(c.reason + "; it accepts "), std::string::npos) << c.set << ": " << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "p.txt")) << c.set;
    }
}

// A file shared by all users in a folder only root may change: a user's save rewrites the file itself.
TEST_F(PrefsCliTest, ASharedFileInAFolderTheUserCannotWriteIsSavedInPlace) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder another user cannot write";
    namespace fs = std::filesystem;
    const auto shared = dir / "shared";
    fs::create_directory(shared);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(shared, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const std::string user = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    struct Case {
        std::string name;
        fs::perms mode;  // the file's permissions; none: the file does not exist
        int status;
        std::string message;
    };
    const auto all = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                     fs::perms::group_write | fs::perms::others_read | fs::perms::others_write;
    const auto onlyRoot = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;
    const Case cases[] = {
        {"writable.txt", all, 0,
         "in place, not atomically: cannot create a file in the folder " + shared.string()},
        {"root-only.txt", onlyRoot, 1, "cannot create a file in the folder " + shared.string()},
        {"missing.txt", fs::perms::none, 1, "cannot create a file in the folder " + shared.string()},
    };
    for (const auto& c : cases) {
        const auto file = shared / c.name;
        const std::string before = "com.vexlune.zorvik.delay=35\n";
        if (c.mode != fs::perms::none) {
            writeFile(file, before);
            fs::permissions(file, c.mode);
        }
        const CliRun run = cli("--prefs '" + file.string() + "' settings --set delay=60 --save", user);
        EXPECT_EQ(run.status, c.status) << c.name << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
        if (c.status == 0) {
            EXPECT_NE(readFile(file).find("zorvik.delay=60"), std::string::npos) << c.name;
            EXPECT_EQ(fs::status(file).permissions(), c.mode) << c.name;
        } else if (c.mode != fs::perms::none) {
            EXPECT_EQ(readFile(file), before) << c.name;
        }
        for (const auto& entry : fs::directory_iterator(shared))
            EXPECT_NE(entry.path().filename().string().front(), '.')
                << c.name << ": a temporary file is left";
    }
}

}  // namespace
}  // namespace rszorvik::prefs
