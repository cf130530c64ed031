#include "core/plist/PlistValue.hpp"

#include "support/TestSupport.hpp"

using namespace plistable;
using plistable::test::s;

namespace {

TEST(PlistValueTest, DescriptionIsTheTextAUserSeesInTheXmlForm)
{
    const std::pair<PlistValue, const char*> cases[] = {
        {PlistValue(u"text, as is"), "text, as is"},
        {PlistValue::integer(-42), "-42"},
        {PlistValue::integer(INT64_MIN), "-9223372036854775808"},
        {PlistValue::unsignedInteger(UINT64_MAX), "18446744073709551615"},
        {PlistValue::real(1.5), "1.5"},
        {PlistValue::real(0.1), "0.1"},
        {PlistValue::real(1.0), "1"},
        {PlistValue::real(1e100), "1e+100"},
        {PlistValue::real(-1.0 / 0.0), "-inf"},
        {PlistValue::boolean(true), "true"},
        {PlistValue::boolean(false), "false"},
        {PlistValue::date(0), "2001-01-01T00:00:00Z"},
        {PlistValue::date(-978307200), "1970-01-01T00:00:00Z"},
        {PlistValue::date(784111777.9), "2025-11-06T08:49:37Z"},
        {PlistValue::data("Man"), "TWFu"},
        {PlistValue::data("Ma"), "TWE="},
        {PlistValue::data(""), ""},
        {PlistValue(PlistValue::Array{PlistValue(u"a\"b"), PlistValue::integer(1), PlistValue::boolean(true)}),
         "[\"a\\\"b\",1,true]"},
        {PlistValue(PlistValue::Dictionary{{u"k", PlistValue(u"v")},
                                           {u"n", PlistValue(PlistValue::Array{PlistValue::real(0.0 / 0.0)})}}),
         "{\"k\":\"v\",\"n\":[null]}"},
    };
    for (const auto& [value, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(s(value.description()), expected);
    }
}

TEST(PlistValueTest, DictionaryLookupTakesTheLastEqualKey)
{
    const PlistValue dictionary(PlistValue::Dictionary{{u"a", PlistValue(u"1")}, {u"a", PlistValue(u"2")}});
    ASSERT_NE(dictionary.objectForKey(u"a"), nullptr);
    EXPECT_EQ(dictionary.objectForKey(u"a")->string(), u"2");
    EXPECT_EQ(dictionary.objectForKey(u"b"), nullptr);
    EXPECT_EQ(PlistValue(u"x").objectForKey(u"a"), nullptr);
}

} // namespace
