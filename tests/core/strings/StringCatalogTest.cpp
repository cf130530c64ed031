#include "core/strings/detail/StringCatalog.hpp"

#include <gtest/gtest.h>

namespace plistable::detail {
namespace {

TEST(StringCatalogTest, OrdersKeysAsXcodeDoes)
{
    struct Case {
        std::string_view a, b;
        bool less;
    };
    const Case cases[] = {
        {"X2", "x16", true},   {"x16", "X2", false},  {"apple", "Banana", true}, {"item 9", "item 10", true},
        {"a", "a", false},     {"A", "a", true},      {"file", "file2", true},   {"v007", "v7b", true},
        {"%lld", "Open", true}, {"Zoo", "zoo 1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " < " + std::string(c.b));
        EXPECT_EQ(catalogKeyLess(c.a, c.b), c.less);
    }
}

TEST(StringCatalogTest, WritesXcodeLayout)
{
    CatalogJson catalog = CatalogJson::object();
    catalog["sourceLanguage"] = "en";
    catalog["strings"] = CatalogJson::object();
    catalog["strings"]["tab\there / \"quoted\""] = CatalogJson::object();
    catalog["strings"]["n"]["shouldTranslate"] = false;
    catalog["strings"]["n"]["argNum"] = 2;
    catalog["version"] = "1.0";
    EXPECT_EQ(writeCatalog(catalog), "{\n  \"sourceLanguage\" : \"en\",\n  \"strings\" : {\n"
                                     "    \"tab\\there / \\\"quoted\\\"\" : {\n\n    },\n"
                                     "    \"n\" : {\n      \"shouldTranslate\" : false,\n      \"argNum\" : 2\n    }\n"
                                     "  },\n  \"version\" : \"1.0\"\n}");
    EXPECT_NE(writeCatalog(catalog, true).find("here \\/ "), std::string::npos);
}

TEST(StringCatalogTest, AddsMembersInOrder)
{
    CatalogJson strings = CatalogJson::object();
    for (const char* key : {"b", "x16", "X2", "a"})
        catalogMember(strings, key, true);
    std::vector<std::string> keys;
    for (auto it = strings.begin(); it != strings.end(); ++it)
        keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "b", "X2", "x16"}));
    CatalogJson object = CatalogJson::object();
    for (const char* key : {"value", "State", "state"})
        catalogMember(object, key);
    keys.clear();
    for (auto it = object.begin(); it != object.end(); ++it)
        keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"State", "state", "value"}));
}

TEST(StringCatalogTest, NamesEveryUnitAndSetsItBack)
{
    const CatalogJson localization = CatalogJson::parse(R"({
      "stringUnit" : { "state" : "translated", "value" : "%#@photos@" },
      "substitutions" : { "photos" : { "argNum" : 1, "formatSpecifier" : "lld",
        "variations" : { "plural" : { "one" : { "stringUnit" : { "state" : "translated", "value" : "a photo" } } } } } },
      "variations" : { "device" : { "mac" : { "variations" : { "plural" : {
        "other" : { "stringUnit" : { "state" : "new", "value" : "%lld on Mac" } } } } } } }
    })");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"", "%#@photos@"},
        {"substitutions.photos.argNum", "1"},
        {"substitutions.photos.formatSpecifier", "lld"},
        {"substitutions.photos.plural.one", "a photo"},
        {"device.mac.plural.other", "%lld on Mac"},
    };
    EXPECT_EQ(catalogVariants(localization), expected);

    // Set into an empty localization, the units come out the same, numbers as numbers.
    CatalogJson rebuilt = CatalogJson::object();
    bool invalid = false;
    for (const auto& [variant, value] : expected) {
        EXPECT_TRUE(setCatalogVariant(rebuilt, variant, value, invalid)) << variant;
        EXPECT_FALSE(invalid);
    }
    EXPECT_EQ(catalogVariants(rebuilt), expected);
    EXPECT_TRUE(rebuilt["substitutions"]["photos"]["argNum"].is_number());

    // An unchanged value changes nothing; a changed one is marked translated.
    CatalogJson changed = localization;
    EXPECT_FALSE(setCatalogVariant(changed, "device.mac.plural.other", "%lld on Mac", invalid));
    EXPECT_EQ(changed, localization);
    EXPECT_TRUE(setCatalogVariant(changed, "device.mac.plural.other", "%lld sur Mac", invalid));
    EXPECT_EQ(changed["variations"]["device"]["mac"]["variations"]["plural"]["other"]["stringUnit"]["state"], "translated");

    for (const char* bad : {"plural", "plural.", ".one", "substitutions.x"}) {
        CatalogJson scratch = CatalogJson::object();
        setCatalogVariant(scratch, bad, "v", invalid);
        EXPECT_TRUE(invalid) << bad;
    }
}

TEST(StringCatalogTest, ReportsTheLineOfBadJson)
{
    std::string error;
    std::uint64_t line = 0;
    EXPECT_FALSE(readCatalog("{\n  \"a\" : 1,\n  \"b\" 2\n}", error, line));
    EXPECT_EQ(line, 3u);
    EXPECT_FALSE(readCatalog("[1]", error, line));
}

} // namespace
} // namespace plistable::detail
