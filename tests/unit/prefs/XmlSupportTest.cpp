#include <gtest/gtest.h>

#include <sstream>

#include "prefs/Preferences.h"
#include "prefs/XmlSupport.h"
#include "support/PrefsTestSupport.h"

namespace rszorvik::prefs {
namespace {

using test::readFile;

class XmlSupportTest : public test::StoreTest {
  protected:
    std::string exported(const std::string& path) {
        std::ostringstream out;
        node(path)->exportNode(out);
        return out.str();
    }
    void import(const std::string& document) {
        std::istringstream in(document);
        Preferences::importPreferences(in);
    }
};

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
    "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">\n";

// A document with the given map entries in node /com/vexlune/zorvik.
std::string settingsDocument(const std::string& entries) {
    return kHead +
           "<preferences EXTERNAL_XML_VERSION=\"1.0\">\n"
           "  <root type=\"user\">\n    <map/>\n    <node name=\"com\">\n      <map/>\n"
           "      <node name=\"vexlune\">\n        <map/>\n        <node name=\"zorvik\">\n          "
           "<map>\n" +
           entries +
           "          </map>\n        </node>\n      </node>\n    </node>\n  </root>\n</preferences>\n";
}

TEST_F(XmlSupportTest, ExportNamesThePathAndHoldsEveryKeyOfTheNode) {
    auto settings = node("/com/vexlune/zorvik");
    settings->put("bitRate", "7");
    settings->put("odd", "<&>\"'\n\t");
    node("/com/vexlune/zorvik/child")->put("notExported", "1");
    node("/com/vexlune")->put("notExportedEither", "1");
    EXPECT_EQ(exported("/com/vexlune/zorvik"),
              settingsDocument("            <entry key=\"bitRate\" value=\"7\"/>\n"
                               "            <entry key=\"odd\" value=\"&lt;&amp;&gt;&quot;'&#10;&#9;\"/>\n"));
}

TEST_F(XmlSupportTest, ImportIntoAnEmptyStoreRestoresEveryKey) {
    const std::pair<std::string, std::string> values[] = {
        {"plain", "7"},
        {"markup", "<entry key=\"x\"/> & &amp;"},
        {"blanks", "  leading and trailing  "},
        {"lines", "one\ntwo\r\nthree\ttab"},
        {"controls", "\x02STX\x03"},
        {"latin1", "Gr\xC3\xBC\xC3\x9F\x65"},
        {"beyond", "\xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"empty", ""},
        {"quote's", "it's \"quoted\""},
    };
    auto settings = node("/com/vexlune/zorvik");
    for (const auto& [key, value] : values)
        settings->put(key, value);
    std::string document = exported("/com/vexlune/zorvik");

    useFile(dir / "empty.txt");
    import(document);
    restart();  // what reached the file, not just memory
    settings = node("/com/vexlune/zorvik");
    for (const auto& [key, value] : values)
        EXPECT_EQ(settings->get(key), value) << key;
    EXPECT_EQ(settings->keys().size(), std::size(values));
}

TEST_F(XmlSupportTest, AcceptedVariantsOfTheFormat) {
    const std::string body =
        "<preferences EXTERNAL_XML_VERSION=\"1.0\"><root type=\"user\"><map/><node name=\"n\"><map>"
        "<entry key=\"k\" value=\"v\"/></map></node></root></preferences>";
    const std::pair<const char*, std::string> cases[] = {
        {"bare", body},
        {"byte order mark", "\xEF\xBB\xBF" + kHead + body},
        {"doctype on two lines",
         "<!DOCTYPE preferences\n  SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">" + body},
        {"comments",
         "<!-- exported --><preferences><!-- x --><root type=\"system\"><map/><node name=\"n\">"
         "<map><entry value=\"v\" key=\"k\"></entry></map></node></root></preferences>"},
        {"references",
         "<preferences><root type=\"user\"><map/><node name=\"n\"><map><entry key=\"k\" "
         "value=\"&#118;\"/></map></node></root></preferences>"},
    };
    for (const auto& [name, document] : cases) {
        node("/n")->remove("k");
        EXPECT_NO_THROW(import(document)) << name;
        EXPECT_EQ(node("/n")->get("k"), "v") << name;
    }
}

TEST_F(XmlSupportTest, RefusedDocumentsChangeNothing) {
    auto settings = node("/com/vexlune/zorvik");
    settings->put("bitRate", "3");
    const std::string before = readFile(file);
    const std::string valid =
        settingsDocument("<entry key=\"bitRate\" value=\"7\"/><entry key=\"new\" value=\"1\"/>");
    std::string deep = "<preferences><root type=\"user\"><map/>";
    for (std::size_t i = 0; i <= XmlSupport::MAX_DEPTH; ++i)
        deep += "<node name=\"d\"><map/>";
    for (std::size_t i = 0; i <= XmlSupport::MAX_DEPTH; ++i)
        deep += "</node>";
    deep += "</root></preferences>";
    auto entry = [](const std::string& attributes) {
        return "<preferences><root type=\"user\"><map/><node name=\"com\"><map><entry " + attributes +
               "/></map></node></root></preferences>";
    };
    struct Case {
        const char* name;
        std::string document;
        std::string message;  // part of the refusal's text
    };
    const Case cases[] = {
        {"empty", "", "empty"},
        {"not XML", "bitRate=7\n", "Not a well-formed XML document"},
        {"truncated", valid.substr(0, valid.size() / 2), "Not a well-formed XML document"},
        {"foreign root", "<properties><entry key=\"bitRate\">7</entry></properties>",
         "top element is <properties>"},
        {"no root", "<preferences/>", "exactly one <root>"},
        {"root without type", "<preferences><root><map/></root></preferences>", "lacks the attribute type"},
        {"root of odd type", "<preferences><root type=\"admin\"><map/></root></preferences>", "admin"},
        {"node without map", "<preferences><root type=\"user\"><node name=\"a\"/></root></preferences>",
         "must begin with a <map>"},
        {"node name with slash",
         "<preferences><root type=\"user\"><map/><node name=\"a/b\"><map/></node></root></preferences>",
         "Invalid node name"},
        {"entry without value", entry("key=\"k\""), "lacks the attribute value"},
        {"entry with an extra attribute", entry("key=\"k\" value=\"v\" type=\"int\""),
         "Unexpected attribute type"},
        {"key too long", entry("key=\"" + std::string(81, 'k') + "\" value=\"v\""), "Key too long"},
        {"value too long", entry("key=\"k\" value=\"" + std::string(8193, 'v') + "\""), "too long"},
        {"foreign element in map", settingsDocument("<entry key=\"a\" value=\"1\"/><script/>"), "<script>"},
        {"text in map", settingsDocument("bitRate=7"), "Unexpected text"},
        {"newer format",
         "<preferences EXTERNAL_XML_VERSION=\"2.0\"><root type=\"user\"><map/></root></preferences>",
         "version 2.0 is not supported"},
        {"internal subset",
         "<!DOCTYPE preferences [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>" +
             entry("key=\"k\" value=\"&b;\""),
         ""},
        {"known doctype with a subset",
         "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\" [<!ENTITY e SYSTEM "
         "\"file:///etc/passwd\">]>" +
             entry("key=\"k\" value=\"v\""),
         "DOCTYPE"},
        {"external entity",
         "<!DOCTYPE preferences SYSTEM \"file:///etc/passwd\">" + entry("key=\"k\" value=\"v\""), "DOCTYPE"},
        {"undefined entity", entry("key=\"k\" value=\"&xxe;\""), "&xxe"},
        {"reference to NUL", entry("key=\"k\" value=\"a&#0;b\""), "&#0"},
        {"NUL byte", entry("key=\"k\" value=\"a") + std::string(1, '\0') + "b\"/>", "NUL"},
        {"not UTF-8", entry("key=\"k\" value=\"Gr\xFC\xDF\x65\""), "not UTF-8"},
        {"other encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + entry("key=\"k\" value=\"v\""),
         "Unsupported document encoding"},
        {"nested too deeply", deep, "nested too deeply"},
        {"too large", valid + std::string(XmlSupport::MAX_DOCUMENT_SIZE, ' '), "larger than"},
    };
    for (const auto& c : cases) {
        try {
            import(c.document);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const InvalidPreferencesFormatException& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.name << ": " << e.what();
        }
        EXPECT_EQ(readFile(file), before) << c.name;
        EXPECT_EQ(settings->keys(), std::vector<std::string>{"bitRate"}) << c.name;
        EXPECT_EQ(node("/com")->keys(), std::vector<std::string>{}) << c.name;
    }
}

}  // namespace
}  // namespace rszorvik::prefs
