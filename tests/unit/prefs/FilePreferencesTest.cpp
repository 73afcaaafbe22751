#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <regex>
#include <thread>

#include "base/Properties.h"
#include "prefs/FilePreferences.h"
#include "prefs/FilePreferencesFactory.h"
#include "support/Environment.h"
#include "support/PrefsTestSupport.h"

namespace rszorvik::prefs {
namespace {

using test::entryLines;
using test::LogCapture;
using test::readFile;
using test::writeFile;
using Lines = std::vector<std::string>;

const std::string kFileProperty(FilePreferencesFactory::SYSTEM_PROPERTY_FILE);

class FilePreferencesTest : public test::StoreTest {};

TEST_F(FilePreferencesTest, FileComesFromThePropertyOrTheHomeFolderAndIsResolvedOnce) {
    // Absolute on this host: "/" here, a drive under Windows.
    const std::filesystem::path root = std::filesystem::current_path().root_path();
    base::SystemProperties::set("user.home", (root / "home/op").string());
    const auto absolute = [](const std::filesystem::path& path) {
        return std::filesystem::absolute(path).make_preferred();
    };
    const std::pair<std::optional<std::string>, std::filesystem::path> cases[] = {
        {std::nullopt, absolute(root / "home/op/.fileprefs")},
        {"", absolute(root / "home/op/.fileprefs")},
        {(root / "x/named.txt").string(), absolute(root / "x/named.txt")},
        {"rel/p.txt", absolute(std::filesystem::current_path() / "rel/p.txt")},
    };
    for (const auto& [property, expected] : cases) {
        property ? base::SystemProperties::set(kFileProperty, *property)
                 : base::SystemProperties::clear(kFileProperty);
        FilePreferencesFactory::reset();
        LogCapture log;
        EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), expected);
        EXPECT_TRUE(log.contains("Preferences file is " + expected.string())) << log.all();
    }
    base::SystemProperties::set(kFileProperty, (root / "x/other.txt").string());
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), cases[3].second);
    // Without "user.home" the environment's home, then the password database's.
    base::SystemProperties::clear("user.home");
    const char* home = rszorvik::test::homeVariable();
    std::string savedHome = getenv(home) ? getenv(home) : "";
    rszorvik::test::setEnvironment(home, "/from/env");
    EXPECT_EQ(FilePreferencesFactory::userHome(), "/from/env");
    rszorvik::test::setEnvironment(home, "");
    EXPECT_TRUE(FilePreferencesFactory::userHome().is_absolute());
    rszorvik::test::setEnvironment(home, savedHome);
}

TEST_F(FilePreferencesTest, FirstPutCreatesTheFileWithHeaderAndOneEntry) {
    LogCapture log;
    node("/com/vexlune/zorvik")->putInt("bitRate", 7);
    std::smatch match;
    std::string content = readFile(file);
    EXPECT_TRUE(std::regex_match(
        content, match,
        std::regex("#FilePreferences\n#[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d "
                   "\\d\\d:\\d\\d:\\d\\d \\S+( \\S+)* \\d{4}\ncom.vexlune.zorvik.bitRate=7\n")))
        << content;
    for (const char* message : {"Instantiating root preferences", "Instantiating node com",
                                "Instantiating node vexlune", "Instantiating node zorvik"})
        EXPECT_TRUE(log.contains(message)) << message << "\n" << log.all();
}

TEST_F(FilePreferencesTest, PropertiesBelongToTheNodeOfTheirPrefix) {
    writeFile(file,
              "top=1\ncom.vexlune.zorvik.bitRate=7\ncom.vexlune.zorvik.sub.key=1\ncom.vexlune.other=2\n"
              "com.vexlune.zorvikX.y=3\n");
    const std::pair<std::string, Lines> cases[] = {
        {"/", {"top"}},
        {"/com", {}},
        {"/com/vexlune", {"other"}},
        {"/com/vexlune/zorvik", {"bitRate"}},
        {"/com/vexlune/zorvik/sub", {"key"}},
        {"/com/vexlune/zorvikX", {"y"}},
    };
    for (const auto& [path, keys] : cases)
        EXPECT_EQ(node(path)->keys(), keys) << path;
    // Rewriting one node leaves every other property as it was.
    node("/com/vexlune/zorvik")->put("delay", "20");
    EXPECT_EQ(entryLines(readFile(file)),
              (Lines{"com.vexlune.other=2", "com.vexlune.zorvik.bitRate=7", "com.vexlune.zorvik.delay=20",
                     "com.vexlune.zorvik.sub.key=1", "com.vexlune.zorvikX.y=3", "top=1"}));
}

TEST_F(FilePreferencesTest, AnotherWritersEntriesAreKeptForOtherNodesAndReadBySync) {
    auto settings = node("/com/vexlune/zorvik");
    settings->put("bitRate", "7");
    writeFile(file, "com.other.k=v\ncom.vexlune.zorvik.bitRate=9\ncom.vexlune.zorvik.theirs=1\n");
    settings->put("delay", "20");  // the last writer wins for its own node
    EXPECT_EQ(entryLines(readFile(file)),
              (Lines{"com.other.k=v", "com.vexlune.zorvik.bitRate=7", "com.vexlune.zorvik.delay=20"}));
    writeFile(file, "com.vexlune.zorvik.theirs=2\n");
    settings->sync();  // adds what the file has, keeps what it lacks
    EXPECT_EQ(settings->keys(), (Lines{"bitRate", "delay", "theirs"}));
}

TEST_F(FilePreferencesTest, RemovingANodeDeletesItsEntriesAndItsDescendantsOnly) {
    writeFile(file,
              "com.vexlune.parent=p\ncom.vexlune.zorvik.a=1\ncom.vexlune.zorvik.child.b=2\n"
              "com.vexlune.sibling.c=3\n");
    auto settings = node("/com/vexlune/zorvik");
    node("/com/vexlune/zorvik/child");
    settings->removeNode();
    EXPECT_EQ(entryLines(readFile(file)), (Lines{"com.vexlune.parent=p", "com.vexlune.sibling.c=3"}));
    EXPECT_THROW(settings->put("a", "1"), std::logic_error);
    EXPECT_FALSE(node("/com/vexlune")->nodeExists("zorvik"));
    EXPECT_EQ(node("/com/vexlune")->childrenNames(), Lines{});
    EXPECT_THROW(Preferences::userRoot()->removeNode(), std::logic_error);
}

TEST_F(FilePreferencesTest, WriteFailuresOfPutAndRemoveAreLoggedAndKeptInMemory) {
    writeFile(dir / "blocker", "a file where a folder should be");
    useFile(dir / "blocker" / "prefs.txt");
    LogCapture log;
    auto settings = node("/com/vexlune/zorvik");
    settings->putInt("bitRate", 7);
    EXPECT_TRUE(log.contains("Unable to flush after putting bitRate")) << log.all();
    EXPECT_EQ(settings->getInt("bitRate", 0), 7);
    settings->remove("bitRate");
    EXPECT_TRUE(log.contains("Unable to flush after removing bitRate")) << log.all();
    EXPECT_THROW(settings->flush(), BackingStoreException);
}

TEST_F(FilePreferencesTest, UnreadableFileIsLoggedAtNodeCreationAndTheNodeStillWorks) {
    for (bool folder : {true, false}) {
        std::filesystem::remove_all(file);
        folder ? (void)std::filesystem::create_directory(file)
               : writeFile(file, "com.vexlune.zorvik.a=\\u12\n");
        restart();
        LogCapture log;
        auto settings = node("/com/vexlune/zorvik");
        EXPECT_TRUE(log.contains("Unable to sync on creation of node zorvik")) << log.all();
        settings->put("a", "1");
        EXPECT_EQ(settings->get("a", ""), "1");
        EXPECT_THROW(settings->sync(), BackingStoreException);
    }
}

// Read back by this store, and written as exactly these lines: java.util.Properties.load (JDK 17) read
// them into the same values, so a change of the written form needs that comparison again.
TEST_F(FilePreferencesTest, AwkwardValuesReadBackUnchanged) {
    struct Awkward {
        std::string key, value, line;
    };
    const Awkward values[] = {
        {"equals", "a=b", "com.vexlune.zorvik.equals=a\\=b"},
        {"colon", "c:d", "com.vexlune.zorvik.colon=c\\:d"},
        {"hash", "#not a comment", "com.vexlune.zorvik.hash=\\#not a comment"},
        {"bang", "!not either", "com.vexlune.zorvik.bang=\\!not either"},
        {"leading", "   blanks", "com.vexlune.zorvik.leading=\\   blanks"},
        {"backslash", "C:\\dir\\n\\", "com.vexlune.zorvik.backslash=C\\:\\\\dir\\\\n\\\\"},
        {"empty", "", "com.vexlune.zorvik.empty="},
        {"controls", "tab\tnl\n", "com.vexlune.zorvik.controls=tab\\tnl\\n"},
        {"latin1", "Gr\xC3\xBC\xC3\x9F\x65 \xC2\xB5", "com.vexlune.zorvik.latin1=Gr\\u00FC\\u00DFe \\u00B5"},
        {"k=:#! x", "odd key", "com.vexlune.zorvik.k\\=\\:\\#\\!\\ x=odd key"},
        {"beyond", "\xE2\x82\xAC \xE6\xBC\xA2 \xF0\x9F\x98\x80",
         "com.vexlune.zorvik.beyond=\\u20AC \\u6F22 \\uD83D\\uDE00"},
    };
    auto settings = node("/com/vexlune/zorvik");
    for (const auto& v : values)
        settings->put(v.key, v.value);
    restart();
    settings = node("/com/vexlune/zorvik");
    Lines expected;
    for (const auto& v : values) {
        EXPECT_EQ(settings->get(v.key), v.value) << v.key;
        expected.push_back(v.line);
    }
    Lines written = entryLines(readFile(file));
    std::sort(expected.begin(), expected.end());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, expected);
}

// A file written by someone else: comments of both kinds, blank lines, other separators, continuation
// lines, escapes, CR LF line ends, Latin-1 bytes.
TEST_F(FilePreferencesTest, FilesOfOtherWritersLoad) {
    writeFile(
        file,
        "# by hand\r\n! another comment\r\n\r\n   com.vexlune.zorvik.indented = value\r\n"
        "com.vexlune.zorvik.colon:with colon\r\ncom.vexlune.zorvik.space with blank\r\n"
        "com.vexlune.zorvik.long = first, \\\r\n      second, \\\n      third\n"
        "com.vexlune.zorvik.escaped = \\u20AC\\t\\\\ \\= \\:\ncom.vexlune.zorvik.latin1 = Gr\xFC\xDF\x65\n"
        "com.vexlune.zorvik.empty\n");
    auto settings = node("/com/vexlune/zorvik");
    const std::pair<std::string, std::string> expected[] = {
        {"indented", "value"},
        {"colon", "with colon"},
        {"space", "with blank"},
        {"long", "first, second, third"},
        {"escaped", "\xE2\x82\xAC\t\\ = :"},
        {"latin1", "Gr\xC3\xBC\xC3\x9F\x65"},
        {"empty", ""},
    };
    for (const auto& [key, value] : expected)
        EXPECT_EQ(settings->get(key), value) << key;
    EXPECT_EQ(settings->keys().size(), std::size(expected));
}

// Nodes of one process rewrite the one file in turn; no write may lose another's entries.
TEST_F(FilePreferencesTest, ConcurrentPutsOnDifferentNodesAllReachTheFile) {
    auto writer = [](std::shared_ptr<Preferences> n) {
        for (int i = 0; i < 30; ++i)
            n->putInt("k" + std::to_string(i), i);
    };
    std::thread one(writer, node("/a")), two(writer, node("/b"));
    one.join();
    two.join();
    EXPECT_EQ(base::Properties::parse(readFile(file)).size(), 60u);
}

}  // namespace
}  // namespace rszorvik::prefs
