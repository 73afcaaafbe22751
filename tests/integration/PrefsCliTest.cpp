// zorvik-cli settings, run as a user would run it, on settings files in a temporary folder.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "support/PrefsTestSupport.h"

namespace rszorvik::prefs {
namespace {

using test::readFile;
using test::writeFile;

struct CliRun {
    int status = -1;
    std::string out, err;
    nlohmann::json json() const { return nlohmann::json::parse(out); }
};

class PrefsCliTest : public ::testing::Test {
  protected:
    CliRun cli(const std::string& arguments) {
        const auto out = dir / "out.txt", err = dir / "err.txt";
        // No environment choice of store may leak in: every run names its file or its config folder.
        std::string command = "cd '" + dir.path().string() + "' && env -u ProgramData XDG_CONFIG_HOME='" +
                              (dir / "config").string() + "' " + ZORVIK_CLI_PATH + " " + arguments + " >'" +
                              out.string() + "' 2>'" + err.string() + "'";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
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
    EXPECT_EQ(json["settings"].size(), 34u);
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
    // Without ports to choose from, the stored port is not read; it stays in the file.
    EXPECT_EQ(settings["port"], "");
    EXPECT_NE(readFile(dir / "p.txt").find("com.vexlune.zorvik.port=/dev/ttyUSB0"), std::string::npos);

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
    EXPECT_NE(run.err.find("zorvik-cli settings: import failed: "), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "b.txt"), before);
}

}  // namespace
}  // namespace rszorvik::prefs
