#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <thread>

#include "base/Properties.h"
#include "prefs/FilePreferences.h"
#include "prefs/FilePreferencesFactory.h"
#include "unit/prefs/PrefsTestSupport.h"

namespace rszorvik::prefs {
namespace {

using test::entryLines;
using test::LogCapture;
using test::readFile;
using test::writeFile;

const std::string kFileProperty(FilePreferencesFactory::SYSTEM_PROPERTY_FILE);

class FilePreferencesTest : public test::StoreTest {};

TEST_F(FilePreferencesTest, FileComesFromThePropertyOrTheHomeFolder) {
    test::TempDir home;
    base::SystemProperties::set("user.home", home.path().string());
    struct Case {
        std::optional<std::string> property;
        std::filesystem::path expected;
    };
    const Case cases[] = {
        {std::nullopt, home / ".fileprefs"},
        {"", home / ".fileprefs"},
        {(dir / "named.txt").string(), dir / "named.txt"},
        {"relative/p.txt", std::filesystem::current_path() / "relative/p.txt"},
    };
    for (const auto& c : cases) {
        if (c.property) {
            base::SystemProperties::set(kFileProperty, *c.property);
        } else {
            base::SystemProperties::clear(kFileProperty);
        }
        FilePreferencesFactory::reset();
        LogCapture log;
        EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), c.expected) << c.property.value_or("(unset)");
        EXPECT_TRUE(log.contains("Preferences file is " + c.expected.string())) << log.all();
    }
    // Resolved once: a later change of the property does not move the store.
    base::SystemProperties::set(kFileProperty, (dir / "other.txt").string());
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), cases[3].expected);
    FilePreferencesFactory::reset();
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), dir / "other.txt");
    base::SystemProperties::clear("user.home");
}

TEST_F(FilePreferencesTest, HomeFallsBackToTheEnvironmentThenThePasswordDatabase) {
    std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
    base::SystemProperties::set("user.home", "/from/property");
    EXPECT_EQ(FilePreferencesFactory::userHome(), "/from/property");
    base::SystemProperties::set("user.home", "");
    setenv("HOME", "/from/env", 1);
    EXPECT_EQ(FilePreferencesFactory::userHome(), "/from/env");
    setenv("HOME", "", 1);
    std::filesystem::path fromDatabase = FilePreferencesFactory::userHome();
    EXPECT_TRUE(fromDatabase.is_absolute());
    EXPECT_NE(fromDatabase, "/from/env");
    setenv("HOME", savedHome.c_str(), 1);
    base::SystemProperties::clear("user.home");
}

TEST_F(FilePreferencesTest, FirstPutCreatesTheFileWithHeaderAndOneEntry) {
    LogCapture log;
    node("/com/vexlune/zorvik")->putInt("bitRate", 7);
    std::string content = readFile(file);
    std::istringstream in(content);
    std::string first, second, third, rest;
    std::getline(in, first);
    std::getline(in, second);
    std::getline(in, third);
    std::getline(in, rest, '\0');
    EXPECT_EQ(first, "#FilePreferences");
    EXPECT_TRUE(
        std::regex_match(second, std::regex(R"(#[A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \S+ \d{4})")))
        << second;
    EXPECT_EQ(third, "com.vexlune.zorvik.bitRate=7");
    EXPECT_EQ(rest, "");
    for (const char* message : {"Instantiating root preferences", "Instantiating node com",
                                "Instantiating node vexlune", "Instantiating node zorvik"})
        EXPECT_TRUE(log.contains(message)) << message << "\n" << log.all();
}

TEST_F(FilePreferencesTest, PropertiesBelongToTheNodeOfTheirPrefix) {
    writeFile(file,
              "top=1\n"
              "com.vexlune.zorvik.bitRate=7\n"
              "com.vexlune.zorvik.sub.key=1\n"
              "com.vexlune.other=2\n"
              "com.vexlune.zorvikX.y=3\n");
    struct Case {
        std::string path;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"/", {"top"}},
        {"/com", {}},
        {"/com/vexlune", {"other"}},
        {"/com/vexlune/zorvik", {"bitRate"}},
        {"/com/vexlune/zorvik/sub", {"key"}},
        {"/com/vexlune/zorvikX", {"y"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(node(c.path)->keys(), c.keys) << c.path;
    EXPECT_EQ(node("/com/vexlune/zorvik")->get("sub.key"), std::nullopt);

    // Rewriting one node leaves every other property as it was.
    node("/com/vexlune/zorvik")->put("delay", "20");
    EXPECT_EQ(entryLines(readFile(file)),
              (std::vector<std::string>{"com.vexlune.other=2", "com.vexlune.zorvik.bitRate=7",
                                        "com.vexlune.zorvik.delay=20", "com.vexlune.zorvik.sub.key=1",
                                        "com.vexlune.zorvikX.y=3", "top=1"}));
}

TEST_F(FilePreferencesTest, FlushKeepsWhatOthersWroteToOtherNodesAndOverwritesItsOwn) {
    auto settings = node("/com/vexlune/zorvik");
    settings->put("bitRate", "7");
    // Another process writes meanwhile: a node of its own and a value of ours.
    writeFile(file, "com.other.k=v\ncom.vexlune.zorvik.bitRate=9\ncom.vexlune.zorvik.theirs=1\n");
    settings->put("delay", "20");
    EXPECT_EQ(entryLines(readFile(file)),
              (std::vector<std::string>{"com.other.k=v", "com.vexlune.zorvik.bitRate=7",
                                        "com.vexlune.zorvik.delay=20"}));
}

TEST_F(FilePreferencesTest, SyncReadsNewEntriesAndKeepsEntriesTheFileLacks) {
    auto settings = node("/com/vexlune/zorvik");
    settings->put("mine", "1");
    writeFile(file, "com.vexlune.zorvik.theirs=2\n");
    settings->sync();
    EXPECT_EQ(settings->keys(), (std::vector<std::string>{"mine", "theirs"}));
    EXPECT_EQ(settings->get("theirs", ""), "2");
}

TEST_F(FilePreferencesTest, RemovingANodeDeletesItsEntriesAndItsDescendantsOnly) {
    writeFile(file,
              "com.vexlune.parent=p\n"
              "com.vexlune.zorvik.a=1\n"
              "com.vexlune.zorvik.child.b=2\n"
              "com.vexlune.sibling.c=3\n");
    auto settings = node("/com/vexlune/zorvik");
    node("/com/vexlune/zorvik/child");
    settings->removeNode();
    EXPECT_EQ(entryLines(readFile(file)),
              (std::vector<std::string>{"com.vexlune.parent=p", "com.vexlune.sibling.c=3"}));
    EXPECT_THROW(settings->put("a", "1"), std::logic_error);
    EXPECT_THROW(settings->keys(), std::logic_error);
    EXPECT_FALSE(settings->nodeExists(""));
    EXPECT_FALSE(node("/com/vexlune")->nodeExists("zorvik"));
    EXPECT_EQ(node("/com/vexlune")->childrenNames(), std::vector<std::string>{});
    // The path can be used again: a new, empty node.
    EXPECT_EQ(node("/com/vexlune/zorvik")->keys(), std::vector<std::string>{});
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
    EXPECT_EQ(settings->get("bitRate"), std::nullopt);
    EXPECT_THROW(settings->flush(), BackingStoreException);
}

TEST_F(FilePreferencesTest, UnreadableFileIsLoggedAtNodeCreationAndTheNodeStillWorks) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
    };
    const Case cases[] = {
        {"folder in place of the file", [&] { std::filesystem::create_directory(file); }},
        {"broken escape", [&] { writeFile(file, "com.vexlune.zorvik.a=\\u12\n"); }},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(file);
        c.prepare();
        restart();
        LogCapture log;
        auto settings = node("/com/vexlune/zorvik");
        EXPECT_TRUE(log.contains("Unable to sync on creation of node zorvik")) << c.what << "\n" << log.all();
        settings->put("a", "1");
        EXPECT_EQ(settings->get("a", ""), "1") << c.what;
        EXPECT_THROW(settings->sync(), BackingStoreException) << c.what;
    }
}

TEST_F(FilePreferencesTest, AwkwardValuesReadBackUnchanged) {
    const std::pair<std::string, std::string> values[] = {
        {"equals", "a=b"},
        {"colon", "c:d"},
        {"hash", "#not a comment"},
        {"bang", "!not a comment"},
        {"leading", "   three blanks"},
        {"trailing", "blank at end "},
        {"backslash", "C:\\dir\\n\\"},
        {"empty", ""},
        {"latin1", "Gr\xC3\xBC\xC3\x9F\x65 \xC2\xB5m \xC3\xA9"},
        {"beyond", "\xE2\x82\xAC \xE6\xBC\xA2 \xF0\x9F\x98\x80"},
        {"controls", "tab\there\nnew line\r\f"},
        {"key with blanks", "and = in value"},
        {"k=:#!", "keys are escaped too"},
    };
    auto settings = node("/com/vexlune/zorvik");
    for (const auto& [key, value] : values)
        settings->put(key, value);
    std::string written = readFile(file);
    for (unsigned char c : written)
        EXPECT_LT(c, 0x80) << "the file is written with escapes, in ASCII";
    restart();
    settings = node("/com/vexlune/zorvik");
    for (const auto& [key, value] : values)
        EXPECT_EQ(settings->get(key), value) << key;
    EXPECT_EQ(settings->keys().size(), std::size(values));
}

// A file written by someone else: comments of both kinds, blank lines, other separators, continuation
// lines, escapes, CR LF line ends, Latin-1 bytes.
TEST_F(FilePreferencesTest, FilesOfOtherWritersLoad) {
    writeFile(file,
              "# written by hand\r\n"
              "! another comment\r\n"
              "\r\n"
              "   com.vexlune.zorvik.indented = value\r\n"
              "com.vexlune.zorvik.colon:with colon\r\n"
              "com.vexlune.zorvik.space with blank\r\n"
              "com.vexlune.zorvik.long = first, \\\r\n"
              "      second, \\\n"
              "      third\n"
              "com.vexlune.zorvik.escaped = \\u20AC\\t\\\\ \\= \\:\n"
              "com.vexlune.zorvik.latin1 = Gr\xFC\xDF\x65\n"
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

// java.util.Properties reads what the store writes: the values arrive as the same code points.
TEST_F(FilePreferencesTest, JavaPropertiesReadsTheFile) {
    if (std::system("java -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no java on this machine";
    const std::pair<std::string, std::string> values[] = {
        {"plain", "7"},
        {"special", " =:#!\\ x"},
        {"latin1", "\xC3\xBC\xC3\x9F"},
        {"beyond", "\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"empty", ""},
    };
    auto settings = node("/com/vexlune/zorvik");
    for (const auto& [key, value] : values)
        settings->put(key, value);
    writeFile(
        dir / "Dump.java",
        "import java.io.*; import java.util.*;\n"
        "public class Dump { public static void main(String[] a) throws Exception {\n"
        "  Properties p = new Properties(); try (InputStream in = new FileInputStream(a[0])) { p.load(in); "
        "}\n"
        "  for (String k : new TreeSet<>(p.stringPropertyNames())) {\n"
        "    StringBuilder b = new StringBuilder(k).append(' ');\n"
        "    p.getProperty(k).codePoints().forEach(c -> b.append(Integer.toHexString(c)).append(','));\n"
        "    System.out.println(b); } } }\n");
    std::string command = "java " + (dir / "Dump.java").string() + " " + file.string() + " > " +
                          (dir / "dump.txt").string() + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << readFile(dir / "dump.txt");
    std::string expected;
    std::map<std::string, std::string> sorted;
    for (const auto& [key, value] : values) {
        std::string codes;
        for (std::size_t i = 0; i < value.size();) {
            auto b = static_cast<unsigned char>(value[i]);
            std::size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
            char32_t cp = n == 1 ? b : b & (0x7F >> n);
            for (std::size_t k = 1; k < n; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(value[i + k]) & 0x3F);
            std::ostringstream hex;
            hex << std::hex << static_cast<unsigned long>(cp) << ',';
            codes += hex.str();
            i += n;
        }
        sorted["com.vexlune.zorvik." + key] = codes;
    }
    for (const auto& [key, codes] : sorted)
        expected += key + " " + codes + "\n";
    EXPECT_EQ(readFile(dir / "dump.txt"), expected);
}

TEST_F(FilePreferencesTest, ChildrenAreThoseCreatedInThisProcess) {
    writeFile(file, "com.vexlune.zorvik.a=1\n");
    auto vexlune = node("/com/vexlune");
    EXPECT_EQ(vexlune->childrenNames(), std::vector<std::string>{});
    EXPECT_FALSE(vexlune->nodeExists("zorvik"));
    node("/com/vexlune/zorvik");
    node("/com/vexlune/alpha");
    EXPECT_EQ(vexlune->childrenNames(), (std::vector<std::string>{"alpha", "zorvik"}));
    EXPECT_TRUE(Preferences::userRoot()->nodeExists("/com/vexlune/zorvik"));
    EXPECT_EQ(Preferences::systemRoot(), Preferences::userRoot());
}

// Nodes of one process rewrite the one file in turn; no write may lose another's entries.
TEST_F(FilePreferencesTest, ConcurrentPutsOnDifferentNodesAllReachTheFile) {
    auto first = node("/a");
    auto second = node("/b");
    auto writer = [](std::shared_ptr<Preferences> n) {
        for (int i = 0; i < 40; ++i)
            n->putInt("k" + std::to_string(i), i);
    };
    std::thread one(writer, first), two(writer, second);
    one.join();
    two.join();
    auto stored = base::Properties::parse(readFile(file));
    EXPECT_EQ(stored.size(), 80u);
}

}  // namespace
}  // namespace rszorvik::prefs
