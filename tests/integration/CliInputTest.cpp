// zorvik-cli against hostile input, as an adversarial operator would try it:
// bytes that are not UTF-8, settings files that cannot be read, device files
// and FIFOs where files belong, invalid imports, long lines, full disks and
// refused command lines.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/CliShell.h"
#include "support/PrefsTestSupport.h"

namespace {

namespace fs = std::filesystem;
using rszorvik::prefs::test::readFile;
using rszorvik::prefs::test::TempDir;
using rszorvik::prefs::test::writeFile;
using rszorvik::test::CliRun;

// Every byte that cannot stand alone in UTF-8.
std::string highBytes() {
    std::string bytes;
    for (int b = 0x80; b <= 0xFF; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

// A shell word for any bytes.
std::string quoted(const std::string& text) {
    std::string word = "'";
    for (char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

bool validJson(const std::string& text) {
    return nlohmann::json::accept(text);
}

class CliInputTest : public ::testing::Test {
  protected:
    CliRun cli(const std::string& arguments, const std::string& prefix = "",
               const std::string& redirect = "") {
        // A hang is a failure too.
        return rszorvik::test::runCli(dir, arguments, prefix + " timeout 30", redirect);
    }
    TempDir dir;
};

TEST_F(CliInputTest, JsonOutputStaysValidForNamesThatAreNotUtf8) {
    const std::string bad = highBytes();
    struct Case {
        std::string arguments, prefix;
        std::vector<int> statuses;  // any of them
    };
    const Case cases[] = {
        {"--prefs " + quoted("p" + bad + ".txt") + " settings", "", {0}},
        {"--prefs p.txt settings --export " + quoted("e" + bad + ".xml"), "", {0}},
        {"ports --json", "SERIAL_PORT_LIST=" + quoted("/dev/tty" + bad + ";COM1"), {0}},
        {"--prefs p.txt detect --json " + quoted("/dev/tty" + bad), "", {1, 2}},
    };
    for (const auto& c : cases) {
        const CliRun run = cli(c.arguments, c.prefix);
        EXPECT_TRUE(std::find(c.statuses.begin(), c.statuses.end(), run.status) != c.statuses.end())
            << c.arguments << ": " << run.status << "\n"
            << run.err;
        EXPECT_TRUE(validJson(run.out)) << c.arguments << ": " << run.out;
        EXPECT_NE(run.out.find("\xEF\xBF\xBD"), std::string::npos) << c.arguments << ": shown as U+FFFD";
    }
}

TEST_F(CliInputTest, ASettingsFileThatCannotBeReadStopsEveryCommandUntilASaveKeepsACopy) {
    struct Case {
        std::string name, content, problem;
        bool directory = false;
    };
    const Case cases[] = {
        {"escape", "com.vexlune.zorvik.instrument=AND\ncom.vexlune.zorvik.delay=\\u12\n", "Malformed"},
        {"surrogate", "com.vexlune.zorvik.delay=\\uD800x\n", "surrogate"},
        {"folder", "", "it is a folder", true},
    };
    for (const auto& c : cases) {
        const auto file = dir / (c.name + ".txt");
        if (c.directory)
            fs::create_directory(file);
        else
            writeFile(file, c.content);
        const std::string prefs = "--prefs " + file.string() + " ";
        for (const std::string command : {"settings", "replay /dev/null", "run --output stdout /dev/null"}) {
            const CliRun run = cli(prefs + command);
            EXPECT_EQ(run.status, 1) << c.name << " " << command << ": " << run.err;
            EXPECT_NE(run.err.find(file.string()), std::string::npos)
                << c.name << " " << command << ": " << run.err;
            EXPECT_NE(run.err.find(c.problem), std::string::npos)
                << c.name << " " << command << ": " << run.err;
            EXPECT_EQ(run.out, "") << c.name << " " << command;
        }
        if (c.directory) continue;
        EXPECT_EQ(readFile(file), c.content) << c.name << ": nothing writes over it";

        const CliRun saved = cli(prefs + "settings --set delay=45 --save");
        ASSERT_EQ(saved.status, 0) << c.name << ": " << saved.err;
        const std::string copy = saved.json()["unreadableKeptAs"];
        EXPECT_TRUE(copy.starts_with(file.string() + ".unreadable-")) << copy;
        EXPECT_EQ(readFile(copy), c.content) << c.name << ": the copy keeps the operator's file";
        EXPECT_EQ(cli(prefs + "settings").json()["settings"]["delay"], "45") << c.name;
    }

    // A file the user may not read, in a folder the user may not change: not even a save touches it.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to read as another user";
    const auto secret = dir / "secret.txt";
    writeFile(secret, "com.vexlune.zorvik.delay=35\n");
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    for (const std::string command : {"settings", "settings --save"}) {
        const CliRun run = cli("--prefs " + secret.string() + " " + command,
                               "setpriv --reuid=65534 --regid=65534 --clear-groups");
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.err.find(secret.string() + ": Permission denied"), std::string::npos) << run.err;
    }
    EXPECT_EQ(readFile(secret), "com.vexlune.zorvik.delay=35\n");
}

TEST_F(CliInputTest, RepairedValuesAreNamedAndAByteOrderMarkIsSkipped) {
    struct Case {
        std::string content;
        bool repaired;
        nlohmann::json repairedValues;
        int bitRate;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBF"
         "com.vexlune.zorvik.bitRate=4\n",
         false, nullptr, 4},
        {"com.vexlune.zorvik.bitRate=99\ncom.vexlune.zorvik.instrument=NOPE\n",
         true,
         {{"instrument", "NOPE"}, {"bitRate", "99"}},
         7},
    };
    for (const auto& c : cases) {
        writeFile(dir / "p.txt", c.content);
        const CliRun run = cli("--prefs p.txt settings");
        ASSERT_EQ(run.status, 0) << run.err;
        const auto json = run.json();
        EXPECT_EQ(json["repaired"], c.repaired) << c.content;
        EXPECT_EQ(json.value("repairedValues", nlohmann::json()), c.repairedValues) << c.content;
        EXPECT_EQ(json["settings"]["bitRate"], c.bitRate) << c.content;
    }
    ASSERT_EQ(cli("--prefs p.txt settings --save").status, 0);
    EXPECT_EQ(readFile(dir / "p.txt").find("\xEF\xBB\xBF"), std::string::npos);
}

TEST_F(CliInputTest, OnlyRegularFilesAreReadAndReplaced) {
    const auto fifo = dir / "fifo", zero = dir / "zero", folder = dir / "folder", readOnly = dir / "ro.txt",
               big = dir / "big.txt", device = dir / "null-copy";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", zero);
    fs::create_directory(folder);
    writeFile(readOnly, "com.vexlune.zorvik.delay=35\n");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    writeFile(big, "#" + std::string(17 << 20, 'x') + "\n");
    const bool root = ::geteuid() == 0 && ::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
    struct Case {
        fs::path target;
        std::string readProblem, writeProblem;  // empty: that side is not tried
        bool regular = false;                   // an explicit save may then keep a copy and replace it
    };
    std::vector<Case> cases = {
        {fifo, "it is not a regular file", "it is a FIFO"},
        {zero, "it is not a regular file", "it is a character device"},
        {folder, "it is a folder", "it is a folder"},
        {big, "it is larger than 16 MiB", "", true},
        {readOnly, "", "the file is read-only", true},
    };
    if (root) cases.push_back({device, "it is not a regular file", "it is a character device"});
    for (const auto& c : cases) {
        const auto type = fs::symlink_status(c.target).type();
        std::vector<std::string> reads;
        if (!c.readProblem.empty()) reads.push_back("settings");
        if (!c.readProblem.empty() && !c.regular) reads.push_back("settings --set delay=9 --save");
        for (const auto& command : reads) {
            const CliRun run = cli("--prefs " + c.target.string() + " " + command);
            EXPECT_EQ(run.status, 1) << c.target << " " << command;
            EXPECT_NE(run.err.find(c.readProblem), std::string::npos) << c.target << ": " << run.err;
        }
        if (!c.writeProblem.empty()) {
            const CliRun run = cli("--prefs p.txt settings --export " + c.target.string());
            EXPECT_EQ(run.status, 1) << c.target;
            EXPECT_NE(run.err.find(c.writeProblem), std::string::npos) << c.target << ": " << run.err;
            EXPECT_NE(readFile(dir / "p.txt"), "") << "the save before the export stays";
        }
        EXPECT_EQ(fs::symlink_status(c.target).type(), type) << c.target << " is left as it was";
    }
    EXPECT_EQ(readFile(readOnly), "com.vexlune.zorvik.delay=35\n");

    // A dangling link is followed: its target is created, the link stays.
    fs::create_symlink(dir / "made.xml", dir / "link.xml");
    ASSERT_EQ(cli("--prefs p.txt settings --export link.xml").status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.xml"));
    EXPECT_TRUE(fs::is_regular_file(dir / "made.xml"));
}

TEST_F(CliInputTest, AnImportWithInvalidValuesOrUnknownKeysIsRefusedAndChangesNothing) {
    ASSERT_EQ(cli("--prefs source.txt settings --set delay=70 --export good.xml").status, 0);
    const std::string good = readFile(dir / "good.xml");
    const auto entry = [](const std::string& key, const std::string& value) {
        return "<entry key=\"" + key + "\" value=\"" + value + "\"/>";
    };
    struct Case {
        std::string from, to, message;
    };
    const Case cases[] = {
        {entry("bitRate", "7"), entry("bitRate", "99"),
         "invalid value \"99\" for bitRate: it accepts an index"},
        {entry("instrument", "GENERIC"), entry("instrument", "NOPE"), "for instrument: it accepts"},
        {entry("customRegEx", ""), entry("customRegEx", "(("), "for customRegEx: it does not compile"},
        {entry("delay", "70"), entry("delay", "70") + entry("a.b", "1"), "The key \"a.b\" cannot be stored"},
    };
    ASSERT_EQ(cli("--prefs p.txt settings --set delay=20 --save").status, 0);
    const std::string before = readFile(dir / "p.txt");
    for (const auto& c : cases) {
        std::string xml = good;
        const auto at = xml.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from << " in\n" << xml;
        writeFile(dir / "bad.xml", xml.replace(at, c.from.size(), c.to));
        const CliRun run = cli("--prefs p.txt settings --import bad.xml");
        EXPECT_EQ(run.status, 1) << c.to;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.to << ": " << run.err;
        EXPECT_EQ(readFile(dir / "p.txt"), before) << c.to;
    }

    // Keys that are no settings are kept (another version may use them) and
    // named.
    std::string xml = good;
    xml.replace(xml.find(entry("delay", "70")), entry("delay", "70").size(),
                entry("delay", "71") + entry("x=y:#", "1"));
    writeFile(dir / "unknown.xml", xml);
    const CliRun run = cli("--prefs p.txt settings --import unknown.xml");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.json()["importedUnknownKeys"], nlohmann::json::array({"x=y:#"}));
    EXPECT_EQ(run.json()["settings"]["delay"], "71");
    EXPECT_NE(run.err.find("1 Schl\u00fcssel, die keine Einstellungen sind"), std::string::npos) << run.err;
}

TEST_F(CliInputTest, PortNamesShowControlCharactersMadeVisible) {
    struct Case {
        std::string name, shown;
    };
    const Case cases[] = {
        {"/dev/tty\x1B[31mX", "/dev/tty<27>[31mX"},
        {"/dev/ttyA\xC2\x9B"
         "1m",
         "/dev/ttyA<155>1m"},
        {"/dev/ttyB\xFF", "/dev/ttyB\xEF\xBF\xBD"},
        {"/dev/ttyC\xC3\xA4", "/dev/ttyC\xC3\xA4"},
    };
    for (const auto& c : cases) {
        const CliRun run = cli("ports", "SERIAL_PORT_LIST=" + quoted(c.name));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, c.shown + "\n");
    }
}

TEST_F(CliInputTest, ExportsAreWellFormedXmlThatImportReadsBack) {
    const std::string control = "\x01\x1F\\x41\t";
    ASSERT_EQ(cli("--prefs a.txt settings --set " + quoted("removeCharacters=" + control) + " --export a.xml")
                  .status,
              0);
    const std::string xml = readFile(dir / "a.xml");
    EXPECT_EQ(xml.find("&#1;"), std::string::npos) << xml;
    EXPECT_EQ(xml.find('\x01'), std::string::npos) << xml;
    CliRun run = cli("--prefs b.txt settings --import a.xml");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.json()["settings"]["removeCharacters"], control);

    struct Case {
        std::string version;
        bool accepted;
    };
    const Case cases[] = {{"1.0", true},  {"0.9", true}, {"1", true},      {"09", false},
                          {"1.1", false}, {"-1", false}, {"1.0.0", false}, {"", false}};
    for (const auto& c : cases) {
        std::string document = xml;
        const std::string from = "EXTERNAL_XML_VERSION=\"1.0\"";
        document.replace(document.find(from), from.size(), "EXTERNAL_XML_VERSION=\"" + c.version + "\"");
        writeFile(dir / "v.xml", document);
        run = cli("--prefs c.txt settings --import v.xml");
        EXPECT_EQ(run.status, c.accepted ? 0 : 1) << c.version << ": " << run.err;
    }
}

TEST_F(CliInputTest, ReplayDropsALineWithoutTerminatorAfter64KiBAsARunDoes) {
    // The rest of the long line ends in "8": it must not come out as a reading of its own.
    writeFile(dir / "long.bin", "5.5" + std::string(70000, 'x') + "8\r7\r");
    const CliRun run =
        cli("--prefs p.txt replay --set instrument=GENERIC --set "
            "inputTerminator=13 long.bin");
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<nlohmann::json> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 2u) << run.out.substr(0, 2000);
    EXPECT_EQ(lines.front()["discarded"], 70005) << "every byte of the line, its terminator included";
    EXPECT_TRUE(lines.front()["start"].get<std::string>().starts_with("5.5xxx"));
    EXPECT_EQ(lines.back()["count"], 1);
    EXPECT_EQ(lines.back()["value"], "7");
}

TEST_F(CliInputTest, AFailedWriteOnStandardOutputIsAnError) {
    for (const std::string command : {"--prefs p.txt settings", "presets", "presets --json", "ports"}) {
        const CliRun run = cli(command, "SERIAL_PORT_LIST=COM1", ">/dev/full");
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.err.find("Die Ausgabe l\u00e4sst sich nicht schreiben: No space left on device"),
                  std::string::npos)
            << command << ": " << run.err;
    }
}

TEST_F(CliInputTest, EveryRefusedCommandLineExitsWithTwo) {
    struct Case {
        std::string arguments, message;
    };
    const Case cases[] = {
        {"nosuch", "unknown subcommand \"nosuch\""},
        {"--prefs p.txt nosuch --json", "unknown subcommand \"nosuch\""},
        {"settings --bogus", "--bogus"},
        {"replay --clock-step -5", "--clock-step"},
        {"presets extra", "extra"},
        {"", "A subcommand is required"},
        {"--prefs p.txt settings --set bitRate=99", "invalid value"},
        {"--prefs p.txt settings --set mathOperand=1E100000", "its exponent is outside -10000 to 10000"},
        {"--prefs p.txt settings --set port=" + std::string(9000, 'x'), "it is longer than 8192 characters"},
        {"--prefs p.txt settings --set " + quoted("removeCharacters=k\xFF"), "it is not valid text"},
    };
    for (const auto& c : cases) {
        const CliRun run = cli(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << ": " << run.err;
    }
    EXPECT_EQ(cli("--help").status, 0);
}

}  // namespace
