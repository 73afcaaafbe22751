#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/EmbeddedResources.h"
#include "base/MessageCatalog.h"

using rszorvik::base::MessageCatalog;
using rszorvik::base::MissingResourceError;

namespace {

const MessageCatalog& testCatalog() {
    return MessageCatalog::get("rszorvik.test.TestBundle");
}

TEST(MessageCatalogTest, GermanTextsOverBaseTexts) {
    const std::pair<const char*, const char*> cases[] = {
        {"greeting", "Hallo"},                     // both files: German wins
        {"only.base", "Base only"},                // falls back per key
        {"only.german", "Nur deutsch"},            //
        {"emptied.in.german", ""},                 // an empty German text is still a text
        {"port.opened", "Port %s opened"},         //
        {"umlauts", "Gr\u00f6\u00dfe: 5 \u20ac"},  // UTF-8 file
        {"escaped", "Ma\u00df und Gewicht"},       // \u escape and continuation line
    };
    for (const auto& [key, text] : cases) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(testCatalog().containsKey(key));
        EXPECT_EQ(testCatalog().getString(key), text);
    }
    EXPECT_EQ(testCatalog().name(), "rszorvik.test.TestBundle");
    EXPECT_EQ(testCatalog().keys(),
              (std::vector<std::string>{"emptied.in.german", "escaped", "greeting", "only.base",
                                        "only.german", "port.opened", "umlauts"}));
}

TEST(MessageCatalogTest, Latin1FilesAreReadAsLatin1) {
    EXPECT_EQ(MessageCatalog::get("rszorvik.test.Latin1Bundle").getString("size"), "Gr\u00f6\u00dfe");
}

TEST(MessageCatalogTest, MissingKeys) {
    EXPECT_FALSE(testCatalog().containsKey("no.such.key"));
    try {
        testCatalog().getString("no.such.key");
        FAIL() << "no error";
    } catch (const MissingResourceError& e) {
        EXPECT_EQ(e.key(), "no.such.key");
        EXPECT_NE(std::string(e.what()).find("rszorvik.test.TestBundle"), std::string::npos);
    }
    EXPECT_EQ(testCatalog().missingKeys({"z.missing", "greeting", "a.missing", "only.base", "z.missing"}),
              (std::vector<std::string>{"z.missing", "a.missing", "z.missing"}));
    EXPECT_TRUE(testCatalog().missingKeys({}).empty());
}

TEST(MessageCatalogTest, ProgramCataloguesAreEmbedded) {
    namespace catalogues = rszorvik::base::catalogues;
    for (const std::string_view catalogue :
         {catalogues::kProgram, catalogues::kWorker, catalogues::kConfig}) {
        const std::string name(catalogue);
        SCOPED_TRACE(name);
        EXPECT_TRUE(rszorvik::base::embeddedResource(name + ".properties"));
        EXPECT_TRUE(rszorvik::base::embeddedResource(name + "_de.properties"));
        EXPECT_EQ(MessageCatalog::get(name).name(), name);
    }
    EXPECT_THROW(MessageCatalog::get("rszorvik.NoSuchBundle"), std::invalid_argument);
    EXPECT_THROW(MessageCatalog::get(""), std::invalid_argument);
}

TEST(MessageCatalogTest, LoadedOnceForAllThreads) {
    std::vector<const MessageCatalog*> seen(8);
    std::vector<std::thread> threads;
    for (auto& slot : seen)
        threads.emplace_back([&slot] { slot = &MessageCatalog::get("rszorvik.test.TestBundle"); });
    for (auto& t : threads)
        t.join();
    for (const auto* catalog : seen)
        EXPECT_EQ(catalog, &testCatalog());
}

}  // namespace
