#include "core/CHCSVAdditions.hpp"

#include "support/TestSupport.hpp"

using namespace plistable;
using plistable::test::s;

namespace {

TEST(CHCSVAdditionsTest, CSVStringWritesOneLinePerCollection)
{
    using Array = PlistValue::Array;
    struct Case {
        const char* name;
        Array rows;
        Text expected;
    };
    const Case cases[] = {
        {"no rows", {}, u""},
        {"one empty row", {PlistValue(Array{})}, u"\n"},
        {"elements that are no collection are skipped",
         {PlistValue(Array{u"a", u"b"}), PlistValue(u"plain string"), PlistValue::integer(3), PlistValue(Array{u"c"})},
         u"a,b\nc\n"},
        {"a dictionary gives its keys",
         {PlistValue(PlistValue::Dictionary{{u"name", PlistValue(u"x")}, {u"age", PlistValue::integer(3)}})},
         u"name,age\n"},
        {"quoting and non-text fields",
         {PlistValue(Array{u"a,b", u"say \"hi\"", u"l1\nl2", PlistValue::boolean(false), u"\u00E9"})},
         u"\"a,b\",\"say \"\"hi\"\"\",\"l1\nl2\",false,\u00E9\n"},
        {"a lone surrogate vanishes from its field", {PlistValue(Array{u"a", Text(1, char16_t(0xDBFF)), u"b"})},
         u"a,,b\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(s(CSVString(c.rows)), s(c.expected));
    }
}

} // namespace
