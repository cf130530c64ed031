#include "core/plist/PropertyListReader.hpp"

#include "core/plist/detail/PlistScalarText.hpp"
#include "core/plist/detail/XmlPropertyListReader.hpp"
#include "support/TestSupport.hpp"

#include <plist/plist.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <regex>

using namespace plistable;
using plistable::test::s;
using plistable::test::u;
using Status = PropertyListReadResult::Status;

namespace {

// Turns every event into one line, and keeps the delivered elements.
class Recorder : public PlistReaderDelegate {
public:
    std::vector<std::string> events;
    std::vector<PlistValue> elements;

    void parserDidStartDocument() override { events.push_back("start-document"); }
    void parserDidStartElement(std::u16string_view name) override { events.push_back("start " + s(name)); }
    void parserDidEndElement(std::u16string_view name) override { events.push_back("end " + s(name)); }
    void parserFoundCharacters(std::u16string_view text) override { events.push_back("chars \"" + s(text) + "\""); }
    void parserDidEndDocument() override { events.push_back("end-document"); }
    void readerDidReadRootArrayElement(PlistValue&& element) override
    {
        events.push_back("element " + s(element.description()));
        elements.push_back(std::move(element));
    }
};

struct Read {
    PropertyListReadResult result;
    Recorder recorder;
};

std::unique_ptr<Read> readBytes(std::string_view bytes)
{
    auto read = std::make_unique<Read>();
    read->result = PropertyListReader::readBytes(bytes, read->recorder);
    return read;
}

// Feeds an XML document `step` bytes at a time, as a file read in small chunks would.
std::unique_ptr<Read> readInPieces(std::string_view xml, std::size_t step)
{
    auto read = std::make_unique<Read>();
    detail::XmlPropertyListReader reader(read->recorder);
    reader.begin();
    for (std::size_t at = 0;; at += step) {
        const std::string_view piece = xml.substr(std::min(at, xml.size()), step);
        const bool last = at + step >= xml.size();
        if (!reader.feed(piece, last) || last)
            break;
    }
    read->result = reader.result();
    return read;
}

std::string plist(std::string_view body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + std::string(body) + "\n</plist>\n";
}

// The elements as one array description, so string "1" and integer 1 differ (["1"] vs [1]).
std::string describe(const std::vector<PlistValue>& elements)
{
    return s(PlistValue(PlistValue::Array(elements.begin(), elements.end())).description());
}

struct Case {
    const char* name;
    std::string xml;
    Status status;
    std::string elements;    // describe() of the delivered elements
    std::uint64_t line = 0;  // of the stop, for failures
    std::uint64_t column = 0;
};

const std::vector<Case>& xmlCases()
{
    static const std::vector<Case> cases = {
        {"array of arrays", plist("<array>\n\t<array><string>a</string><string>b</string></array>\n"
                                  "\t<array><string>1</string><string>2</string></array>\n</array>"),
         Status::Ok, R"([["a","b"],["1","2"]])"},
        {"array of dictionaries, keys in file order",
         plist("<array><dict><key>b</key><string>1</string><key>a</key><string>2</string></dict>"
               "<dict/></array>"),
         Status::Ok, R"([{"b":"1","a":"2"},{}])"},
        {"scalars of every kind",
         plist("<array><string></string><integer>-42</integer><integer> +7 </integer><integer>0x1F</integer>"
               "<real>1.5</real><real>-2.5e3</real><real>.5</real><true/><false/>"
               "<date>2001-01-02T03:04:05Z</date><data>TW\n  Fu</data><array/><dict></dict></array>"),
         Status::Ok, R"(["",-42,7,31,1.5,-2500,0.5,true,false,"2001-01-02T03:04:05Z","TWFu",[],{}])"},
        {"integers at the limits",
         plist("<array><integer>-9223372036854775808</integer><integer>9223372036854775807</integer>"
               "<integer>18446744073709551615</integer><integer>-0x8000000000000000</integer></array>"),
         Status::Ok, "[-9223372036854775808,9223372036854775807,18446744073709551615,-9223372036854775808]"},
        {"entity and character references",
         plist("<array><dict><key>a&amp;b</key><string>&lt;&#x41;&#66;&gt;&quot;&apos;</string></dict></array>"),
         Status::Ok, R"([{"a&b":"<AB>\"'"}])"},
        {"CDATA and comments inside text",
         plist("<array><string>x<![CDATA[<y>]]><!-- note -->z</string></array>"), Status::Ok, R"(["x<y>z"])"},
        {"nested dictionaries",
         plist("<array><dict><key>k</key><dict><key>in</key><array><integer>1</integer></array></dict>"
               "<key>m</key><string>v</string></dict></array>"),
         Status::Ok, R"([{"k":{"in":[1]},"m":"v"}])"},
        {"plain UTF-8 text", plist("<array><string>café 日本</string></array>"), Status::Ok, R"(["café 日本"])"},
        {"root element without plist", "<array><string>a</string></array>", Status::Ok, R"(["a"])"},
        {"Apple DOCTYPE accepted",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><array><true/></array></plist>",
         Status::Ok, "[true]"},
        {"root dictionary", plist("<dict><key>a</key><array><string>x</string></array></dict>"),
         Status::RootNotArray, "[]"},
        {"root string", plist("<string>a</string>"), Status::RootNotArray, "[]"},
        {"mismatched tag", plist("<array>\n<string>a</string>\n<string>b</strin>\n</array>"),
         Status::NotPropertyList, R"(["a"])", 5, 12},
        {"truncated document", "<plist><array><string>a</string><array><string>b",
         Status::NotPropertyList, R"(["a"])"},
        {"empty input", "", Status::NotPropertyList, "[]", 1, 1},
        {"unknown element", plist("<array><string>a</string>\n <foo/></array>"), Status::NotPropertyList,
         R"(["a"])", 4, 2},
        {"key outside a dictionary", plist("<array><key>a</key></array>"), Status::NotPropertyList, "[]", 3, 8},
        {"key without a value", plist("<array><dict><key>a</key></dict></array>"), Status::NotPropertyList, "[]",
         3, 26},
        {"two keys in a row", plist("<array><dict><key>a</key><key>b</key></dict></array>"),
         Status::NotPropertyList, "[]", 3, 26},
        {"value without a key", plist("<array><dict><string>a</string></dict></array>"), Status::NotPropertyList,
         "[]", 3, 14},
        {"element inside a string", plist("<array><string>a<b/></string></array>"), Status::NotPropertyList, "[]",
         3, 17},
        {"text between elements", plist("<array>x<true/></array>"), Status::NotPropertyList, "[]", 3, 9},
        {"bad integer", plist("<array><integer>12a</integer></array>"), Status::NotPropertyList, "[]", 3, 20},
        {"integer above the unsigned range", plist("<array><integer>18446744073709551616</integer></array>"),
         Status::NotPropertyList, "[]", 3, 37},
        {"bad real", plist("<array><real>1.5x</real></array>"), Status::NotPropertyList, "[]", 3, 18},
        {"bad date", plist("<array><date>2001-02-30T00:00:00Z</date></array>"), Status::NotPropertyList, "[]",
         3, 34},
        {"bad base64", plist("<array><data>TW*u</data></array>"), Status::NotPropertyList, "[]", 3, 18},
        {"plist with two values", plist("<true/><false/>"), Status::NotPropertyList, "[]", 3, 8},
        {"empty plist", plist(""), Status::NotPropertyList, "[]", 4, 1},
        {"internal entity refused",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n<!ENTITY a \"x\">\n]>\n<plist><array/></plist>",
         Status::NotPropertyList, "[]", 3, 12},
        {"undeclared entity behind an external DTD",
         "<!DOCTYPE plist SYSTEM \"plist.dtd\">\n<plist><array><string>&e;</string></array></plist>",
         Status::NotPropertyList, "[]", 2, 23},
    };
    return cases;
}

TEST(PropertyListReaderTest, ReadsXmlListsAndStopsAtTheFirstError)
{
    for (const Case& c : xmlCases()) {
        SCOPED_TRACE(c.name);
        const auto read = readBytes(c.xml);
        EXPECT_EQ(read->result.status, c.status) << read->result.message;
        EXPECT_EQ(describe(read->recorder.elements), c.elements);
        EXPECT_FALSE(read->result.binary);
        const bool failed = c.status != Status::Ok && c.status != Status::RootNotArray;
        EXPECT_EQ(read->recorder.events.back() == "end-document", !failed);
        if (failed) {
            EXPECT_FALSE(read->result.message.empty());
            if (c.line != 0) {
                EXPECT_EQ(read->result.line, c.line);
                EXPECT_EQ(read->result.column, c.column);
            }
        }
    }
}

TEST(PropertyListReaderTest, EventsDoNotDependOnHowTheInputIsCut)
{
    for (const Case& c : xmlCases()) {
        SCOPED_TRACE(c.name);
        const auto whole = readBytes(c.xml);
        for (std::size_t step : {1, 2, 3, 7, 64}) {
            SCOPED_TRACE(step);
            const auto pieces = readInPieces(c.xml, step);
            EXPECT_EQ(pieces->recorder.events, whole->recorder.events);
            EXPECT_EQ(pieces->result.status, whole->result.status);
            EXPECT_EQ(pieces->result.line, whole->result.line);
            EXPECT_EQ(pieces->result.column, whole->result.column);
        }
    }
}

TEST(PropertyListReaderTest, ReportsEveryXmlEventWithTextRunsWhole)
{
    const auto read = readBytes("<plist>\n<array>\n <dict>\n  <key>a&amp;b</key>\n  <integer>1</integer>\n </dict>\n"
                                " <true/>\n <string>x&lt;y</string>\n <string></string>\n</array>\n</plist>");
    ASSERT_EQ(read->result.status, Status::Ok);
    const std::vector<std::string> expected = {
        "start-document", "start plist", "chars \"\n\"", "start array", "chars \"\n \"", "start dict",
        "chars \"\n  \"", "start key", "chars \"a&b\"", "end key", "chars \"\n  \"", "start integer",
        "chars \"1\"", "end integer", "chars \"\n \"", "end dict", R"(element {"a&b":1})", "chars \"\n \"",
        "start true", "end true", "element true", "chars \"\n \"", "start string", "chars \"x<y\"", "end string",
        "element x<y", "chars \"\n \"", "start string", "end string", "element ", "chars \"\n\"", "end array",
        "chars \"\n\"", "end plist", "end-document"};
    EXPECT_EQ(read->recorder.events, expected);
}

TEST(PropertyListReaderTest, ParsesScalarTextsExactly)
{
    const double infinity = std::numeric_limits<double>::infinity();
    const std::pair<const char*, std::optional<PlistValue>> integers[] = {
        {"0", PlistValue::integer(0)}, {"-0", PlistValue::integer(0)}, {"0x0", PlistValue::integer(0)},
        {"9223372036854775808", PlistValue::unsignedInteger(9223372036854775808ULL)},
        {"0xFFFFFFFFFFFFFFFF", PlistValue::unsignedInteger(UINT64_MAX)},
        {"-9223372036854775809", std::nullopt}, {"", std::nullopt}, {"0x", std::nullopt}, {"1 2", std::nullopt},
        {"--1", std::nullopt}, {"1.0", std::nullopt}};
    for (const auto& [text, expected] : integers) {
        SCOPED_TRACE(text);
        EXPECT_EQ(detail::parseIntegerText(text), expected);
    }
    const std::pair<const char*, std::optional<PlistValue>> reals[] = {
        {"1e400", PlistValue::real(infinity)}, {"-1e400", PlistValue::real(-infinity)},
        {"4.9e-324", PlistValue::real(4.9e-324)}, {"+INF", PlistValue::real(infinity)},
        {"-Infinity", PlistValue::real(-infinity)}, {"5.", PlistValue::real(5)}, {"0x10", std::nullopt},
        {"nan(1)", std::nullopt}, {"", std::nullopt}, {"e5", std::nullopt}, {"1,5", std::nullopt}};
    for (const auto& [text, expected] : reals) {
        SCOPED_TRACE(text);
        EXPECT_EQ(detail::parseRealText(text), expected);
    }
    EXPECT_TRUE(std::isnan(detail::parseRealText("NaN")->realValue()));
    const std::pair<const char*, std::optional<PlistValue>> dates[] = {
        {"2001-01-01T00:00:00Z", PlistValue::date(0)}, {"2000-02-29T23:59:59Z", PlistValue::date(-26438401)},
        {"1970-01-01T00:00:00.5Z", PlistValue::date(-978307199.5)}, {"2100-01-01T00:00:00Z", PlistValue::date(3124137600)},
        {"1900-02-29T00:00:00Z", std::nullopt}, {"2001-13-01T00:00:00Z", std::nullopt},
        {"2001-01-01 00:00:00Z", std::nullopt}, {"2001-01-01T00:00:00", std::nullopt}, {"01-01-01T00:00:00Z", std::nullopt}};
    for (const auto& [text, expected] : dates) {
        SCOPED_TRACE(text);
        EXPECT_EQ(detail::parseDateText(text), expected);
    }
    const std::pair<const char*, std::optional<std::string>> data[] = {
        {"", ""}, {"TQ==", "M"}, {"TQ", "M"}, {"TWE=", "Ma"}, {" T W\nF u ", "Man"}, {"T", std::nullopt},
        {"TQ===", std::nullopt}, {"TQ=x", std::nullopt}, {"T=Q=", std::nullopt}, {"TW-u", std::nullopt}};
    for (const auto& [text, expected] : data) {
        SCOPED_TRACE(text);
        EXPECT_EQ(detail::decodeBase64Text(text), expected);
    }
}

TEST(PropertyListReaderTest, RefusesEntityExpansionBombs)
{
    std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n<!ENTITY a0 \"lol\">\n";
    for (int i = 1; i < 10; ++i)
        bomb += "<!ENTITY a" + std::to_string(i) + " \"" + [&] {
            std::string refs;
            for (int j = 0; j < 10; ++j)
                refs += "&a" + std::to_string(i - 1) + ";";
            return refs;
        }() + "\">\n";
    bomb += "]>\n<plist><array><string>&a9;</string></array></plist>";
    const auto read = readBytes(bomb);
    EXPECT_EQ(read->result.status, Status::NotPropertyList);
    EXPECT_NE(read->result.message.find("entity"), std::string::npos) << read->result.message;
    EXPECT_EQ(read->result.line, 3u);
    EXPECT_EQ(read->recorder.events, std::vector<std::string>{"start-document"});
}

TEST(PropertyListReaderTest, NeverReadsExternalFiles)
{
    test::TempDir dir;
    const std::string secret = dir.write("secret.txt", "TOP-SECRET");
    const std::string dtd = dir.write("plist.dtd", "<!ENTITY e \"TOP-SECRET\">");
    const std::string documents[] = {
        "<!DOCTYPE plist [<!ENTITY e SYSTEM \"file://" + secret + "\">]>\n<plist><array><string>&e;</string></array></plist>",
        "<!DOCTYPE plist SYSTEM \"file://" + dtd + "\">\n<plist><array><string>&e;</string></array></plist>",
        "<!DOCTYPE plist [<!ENTITY % p SYSTEM \"file://" + dtd + "\"> %p;]>\n<plist><array><string>&e;</string></array></plist>",
    };
    for (const std::string& document : documents) {
        SCOPED_TRACE(document);
        const std::string path = dir.write("list.plist", document);
        Read read;
        read.result = PropertyListReader::readFile(path, read.recorder);
        EXPECT_EQ(read.result.status, Status::NotPropertyList);
        for (const std::string& event : read.recorder.events)
            EXPECT_EQ(event.find("SECRET"), std::string::npos);
        EXPECT_EQ(read.result.message.find("SECRET"), std::string::npos);
    }
}

TEST(PropertyListReaderTest, CapsNestingDepthInXml)
{
    std::string deep;
    for (int i = 0; i < 1'000'000; ++i)
        deep += "<array>";
    const auto read = readBytes(deep);
    EXPECT_EQ(read->result.status, Status::TooDeep);
    EXPECT_EQ(read->result.line, 1u);
    EXPECT_EQ(read->result.column, 512u * 7 + 1);

    std::string deepest; // exactly at the cap: the root array and 511 arrays inside it
    for (std::size_t i = 0; i < PropertyListReader::maxDepth; ++i)
        deepest += "<array>";
    for (std::size_t i = 0; i < PropertyListReader::maxDepth; ++i)
        deepest += "</array>";
    const auto atCap = readBytes(deepest);
    EXPECT_EQ(atCap->result.status, Status::Ok);
    ASSERT_EQ(atCap->recorder.elements.size(), 1u);
}

TEST(PropertyListReaderTest, ReadsFilesInChunksLikeBytes)
{
    std::string body = "<array>";
    for (int i = 0; i < 6000; ++i)
        body += "<dict><key>n</key><integer>" + std::to_string(i) + "</integer><key>t</key><string>row &amp; "
                + std::to_string(i) + "</string></dict>\n";
    const std::string xml = plist(body + "</array>");
    ASSERT_GT(xml.size(), 5u * 64 * 1024);
    test::TempDir dir;
    Read fromFile;
    fromFile.result = PropertyListReader::readFile(dir.write("big.plist", xml), fromFile.recorder);
    const auto fromBytes = readBytes(xml);
    EXPECT_EQ(fromFile.result.status, Status::Ok);
    EXPECT_EQ(fromFile.recorder.events, fromBytes->recorder.events);
    EXPECT_EQ(fromFile.recorder.elements.size(), 6000u);

    Read missing;
    missing.result = PropertyListReader::readFile(dir.file("missing.plist"), missing.recorder);
    EXPECT_EQ(missing.result.status, Status::Unreadable);
    EXPECT_TRUE(missing.recorder.events.empty());
}

// ---- Binary lists ----

struct PlistFree {
    void operator()(void* node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

PlistPtr fromXml(const std::string& xml)
{
    plist_t node = nullptr;
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &node);
    return PlistPtr(node);
}

std::string toBinary(plist_t node)
{
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    std::string out(bytes, length);
    plist_to_bin_free(bytes);
    return out;
}

// libplist's tree as a value (recursive: test inputs are shallow). Its integers carry no sign,
// so the ones above the signed range are compared by their bits (see sameBits below).
PlistValue fromLibplist(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return PlistValue::boolean(b != 0);
    }
    case PLIST_UINT: {
        std::uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return PlistValue::unsignedInteger(v);
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return PlistValue::real(v);
    }
    case PLIST_DATE: {
        std::int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return PlistValue::date(sec + usec / 1e6);
    }
    case PLIST_STRING: {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        PlistValue value(u(text));
        free(text);
        return value;
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        std::uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        PlistValue value = PlistValue::data(std::string(bytes, length));
        free(bytes);
        return value;
    }
    case PLIST_ARRAY: {
        PlistValue::Array array;
        for (std::uint32_t i = 0; i < plist_array_get_size(node); ++i)
            array.push_back(fromLibplist(plist_array_get_item(node, i)));
        return PlistValue(std::move(array));
    }
    case PLIST_DICT: {
        PlistValue::Dictionary dictionary;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        while (true) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value)
                break;
            dictionary.emplace_back(u(key), fromLibplist(value));
            free(key);
        }
        free(it);
        return PlistValue(std::move(dictionary));
    }
    default: return PlistValue(u"<unsupported>");
    }
}

// Equal values, reading integers as 64-bit patterns and letting NaN equal NaN.
bool sameBits(const PlistValue& a, const PlistValue& b)
{
    auto bits = [](const PlistValue& v) {
        return v.kind() == PlistValue::Kind::Integer ? static_cast<std::uint64_t>(v.integerValue()) : v.unsignedValue();
    };
    const auto isInteger = [](const PlistValue& v) {
        return v.kind() == PlistValue::Kind::Integer || v.kind() == PlistValue::Kind::Unsigned;
    };
    if (isInteger(a) && isInteger(b))
        return bits(a) == bits(b);
    if (a.kind() != b.kind())
        return false;
    if (a.kind() == PlistValue::Kind::Real && std::isnan(a.realValue()))
        return std::isnan(b.realValue());
    if (a.isArray()) {
        if (a.array().size() != b.array().size())
            return false;
        for (std::size_t i = 0; i < a.array().size(); ++i)
            if (!sameBits(a.array()[i], b.array()[i]))
                return false;
        return true;
    }
    if (a.isDictionary()) {
        if (a.dictionary().size() != b.dictionary().size())
            return false;
        for (std::size_t i = 0; i < a.dictionary().size(); ++i)
            if (a.dictionary()[i].first != b.dictionary()[i].first
                || !sameBits(a.dictionary()[i].second, b.dictionary()[i].second))
                return false;
        return true;
    }
    return a == b;
}

TEST(PropertyListReaderTest, StreamingElementsEqualLibplistsTreeForEveryAcceptedXmlInput)
{
    std::size_t compared = 0;
    // libplist is lenient with malformed values (it takes "12a" as an integer, a key in an array as
    // a string); those inputs are refused on purpose, as the table says, and are not compared.
    for (const Case& c : xmlCases()) {
        const PlistPtr tree = fromXml(c.xml);
        if (c.status != Status::Ok || !tree || plist_get_node_type(tree.get()) != PLIST_ARRAY)
            continue;
        SCOPED_TRACE(c.name);
        const auto read = readBytes(c.xml);
        const PlistValue expected = fromLibplist(tree.get());
        ASSERT_EQ(expected.array().size(), read->recorder.elements.size());
        for (std::size_t i = 0; i < read->recorder.elements.size(); ++i)
            EXPECT_TRUE(sameBits(read->recorder.elements[i], expected.array()[i]))
                << s(read->recorder.elements[i].description()) << " vs " << s(expected.array()[i].description());
        ++compared;
    }
    EXPECT_GE(compared, 8u);
}

// The binary form libplist writes for an XML list, and the events of that list written compactly.
TEST(PropertyListReaderTest, BinaryListGivesTheElementsAndEventsOfItsXmlForm)
{
    const std::string xml = plist(
        "<array>\n\t<array><string>a</string><string>日本</string><integer>-5</integer></array>\n"
        "\t<dict><key>b</key><integer>18446744073709551615</integer><key>a&amp;</key><real>0.25</real>"
        "<key></key><data>AAEC</data><key>d</key><date>2020-05-06T07:08:09Z</date><key>n</key><dict><key>x</key>"
        "<array><true/><false/><string></string></array></dict></dict>\n\t<string>last</string>\n</array>");
    const PlistPtr tree = fromXml(xml);
    ASSERT_TRUE(tree);
    const std::string binary = toBinary(tree.get());
    const std::string compactXml = std::regex_replace(xml, std::regex(">\\s+<"), "><");

    const auto fromBinary = readBytes(binary);
    const auto xmlRead = readBytes(compactXml);
    ASSERT_EQ(fromBinary->result.status, Status::Ok) << fromBinary->result.message;
    EXPECT_TRUE(fromBinary->result.binary);
    EXPECT_EQ(fromBinary->recorder.elements, xmlRead->recorder.elements);
    EXPECT_EQ(fromBinary->recorder.events, xmlRead->recorder.events);
    EXPECT_EQ(fromBinary->recorder.elements[1].objectForKey(u"b")->kind(), PlistValue::Kind::Unsigned);
    EXPECT_EQ(fromBinary->recorder.elements[0].array()[2], PlistValue::integer(-5));

    const auto rootDict = readBytes(toBinary(fromXml(plist("<dict><key>k</key><string>v</string></dict>")).get()));
    EXPECT_EQ(rootDict->result.status, Status::RootNotArray);
    EXPECT_TRUE(rootDict->recorder.elements.empty());
}

// The entries of a root dictionary, each handed over whole and in order, after its events.
TEST(PropertyListReaderTest, RootDictionaryHandsOverEachEntry)
{
    struct EntryRecorder : Recorder {
        void readerDidReadRootDictionaryEntry(Text&& key, PlistValue&& value) override
        {
            events.push_back("entry " + s(key) + " " + s(value.description()));
        }
    };
    const std::string xml = plist("<dict><key>b</key><dict><key>x</key><string>1</string></dict>"
                                  "<key>a</key><array><string>2</string></array><key></key><string>3</string></dict>");
    const std::vector<std::string> entries{"entry b {\"x\":\"1\"}", "entry a [\"2\"]", "entry  3"};
    const PlistPtr tree = fromXml(xml);
    ASSERT_TRUE(tree);
    for (const std::string& bytes : {std::regex_replace(xml, std::regex(">\\s+<"), "><"), toBinary(tree.get())}) {
        EntryRecorder recorder;
        const PropertyListReadResult result = PropertyListReader::readBytes(bytes, recorder);
        SCOPED_TRACE(result.binary ? "binary" : "XML");
        EXPECT_EQ(result.status, Status::RootNotArray);
        EXPECT_TRUE(result.rootIsDictionary);
        std::vector<std::string> handed;
        for (const std::string& event : recorder.events)
            if (event.starts_with("entry "))
                handed.push_back(event);
        EXPECT_EQ(handed, entries);
        // Each entry right after the end of its value.
        const auto first = std::find(recorder.events.begin(), recorder.events.end(), entries[0]);
        ASSERT_NE(first, recorder.events.begin());
        EXPECT_EQ(*(first - 1), "end dict");
    }
    for (const std::string& other : {plist("<array><dict><key>k</key><string>v</string></dict></array>"),
                                     plist("<string>x</string>")}) {
        EntryRecorder recorder;
        const PropertyListReadResult result = PropertyListReader::readBytes(other, recorder);
        EXPECT_FALSE(result.rootIsDictionary);
        for (const std::string& event : recorder.events)
            EXPECT_FALSE(event.starts_with("entry ")) << event;
    }
}

// An old-style text gives the events and hand-overs of its values in XML without white space, and the
// syntax is told by content alone.
TEST(PropertyListReaderTest, OldStyleTextGivesTheEventsOfItsXmlForm)
{
    const struct {
        const char* name;
        std::string openStep;
        std::string xmlBody;
    } cases[] = {
        {"array", "( { a = 1; b = (x, <0f>); }, (\"y z\") ) // end",
         "<array><dict><key>a</key><string>1</string><key>b</key><array><string>x</string><data>Dw==</data></array>"
         "</dict><array><string>y z</string></array></array>"},
        {"strings form with a mark", "\xEF\xBB\xBF\"k\" = \"v\";\n\"e\" = \"\";",
         "<dict><key>k</key><string>v</string><key>e</key><string></string></dict>"},
        {"typed scalars", "(<*I-3>, <*BN>)", "<array><integer>-3</integer><false/></array>"},
        {"root string", "\"just\"", "<string>just</string>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto openStep = readBytes(c.openStep);
        const auto xml = readBytes(std::regex_replace(plist(c.xmlBody), std::regex(">\\s+<"), "><"));
        EXPECT_TRUE(openStep->result.openStep);
        EXPECT_EQ(openStep->result.status, xml->result.status);
        EXPECT_EQ(openStep->result.rootKind, xml->result.rootKind);
        // The XML document's white space before <plist> gives no event in the old-style text.
        std::vector<std::string> xmlEvents;
        for (const std::string& event : xml->recorder.events)
            if (!event.starts_with("chars \"\n"))
                xmlEvents.push_back(event);
        EXPECT_EQ(openStep->recorder.events, xmlEvents);
    }
    const std::pair<std::string, bool> sniffed[] = {
        {"  \n<plist><array/></plist>", false}, {"\xEF\xBB\xBF<plist><array/></plist>", false},
        {"", false}, {" \n\t", false}, {"()", true}, {"bp = 1;", true}, {std::string("\xFF\xFE(\0)\0", 6), true}};
    for (const auto& [bytes, openStep] : sniffed)
        EXPECT_EQ(readBytes(bytes)->result.openStep, openStep) << bytes;
}

// An old-style text is read a piece at a time: a file and its bytes give the same events, a fault
// beyond the first piece keeps its line (and bytes that are no text, however far on, come first),
// and a stop between pieces is heard.
TEST(PropertyListReaderTest, OldStyleTextIsReadInPiecesAndStops)
{
    std::string text = "( // rows\n";
    for (int i = 0; i < 8000; ++i)
        text += "{ n = " + std::to_string(i) + "; t = \"row\\n " + std::to_string(i) + "\"; },\n";
    ASSERT_GT(text.size(), 3u * 64 * 1024);
    test::TempDir dir;
    const std::string whole = text + ")";
    Read fromFile;
    fromFile.result = PropertyListReader::readFile(dir.write("big.plist", whole), fromFile.recorder);
    EXPECT_EQ(fromFile.result.status, Status::Ok);
    EXPECT_EQ(fromFile.recorder.events, readBytes(whole)->recorder.events);
    EXPECT_EQ(fromFile.recorder.elements.size(), 8000u);

    const struct {
        const char* name;
        std::string text;
        std::string message;
        std::uint64_t line;
    } faults[] = {
        {"string never closed", text + "\n\n \"open", "unterminated string", 8004},
        {"no text behind a grammar fault", "(a b" + text + "\xFF)", "byte " + std::to_string(4 + text.size()) + " (0xFF) is not UTF-8, and the text has no UTF-16 byte-order mark",
         8002},
    };
    for (const auto& c : faults) {
        SCOPED_TRACE(c.name);
        Read read;
        read.result = PropertyListReader::readFile(dir.write("fault.plist", c.text), read.recorder);
        EXPECT_EQ(read.result.status, Status::NotPropertyList);
        EXPECT_EQ(read.result.message, c.message);
        EXPECT_EQ(read.result.line, c.line);
    }

    std::atomic<bool> stop{false};
    const struct {
        const char* name;
        bool fromFile;
        bool flag; // else pieceRead says no
    } stops[] = {{"bytes, monitor", false, false}, {"file, monitor", true, false}, {"file, flag", true, true}};
    for (const auto& c : stops) {
        SCOPED_TRACE(c.name);
        std::uint64_t calls = 0;
        PropertyListReadMonitor monitor;
        monitor.stop = &stop;
        monitor.pieceRead = [&](std::uint64_t, std::uint64_t) {
            stop = c.flag && ++calls == 2;
            return c.flag || ++calls < 2;
        };
        stop = false;
        Read read;
        read.result = c.fromFile ? PropertyListReader::readFile(dir.file("big.plist"), read.recorder, monitor)
                                 : PropertyListReader::readBytes(whole, read.recorder, monitor);
        EXPECT_EQ(read.result.status, Status::Stopped);
        EXPECT_GT(read.recorder.elements.size(), 0u);
        EXPECT_LT(read.recorder.elements.size(), 8000u);
    }
}

// A binary list assembled by hand: objects in order, two-byte offsets, one-byte references.
std::string binaryList(const std::vector<std::string>& objects, std::uint64_t top = 0, unsigned referenceSize = 1)
{
    std::string out = "bplist00";
    std::vector<std::size_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const std::size_t table = out.size();
    for (std::size_t offset : offsets) {
        out.push_back(static_cast<char>(offset >> 8));
        out.push_back(static_cast<char>(offset & 0xFF));
    }
    auto be64 = [&](std::uint64_t v) {
        for (int shift = 56; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>((v >> shift) & 0xFF));
    };
    out.append(6, '\0');
    out.push_back(2);
    out.push_back(static_cast<char>(referenceSize));
    be64(objects.size());
    be64(top);
    be64(table);
    return out;
}

std::string arrayOf(std::initializer_list<int> references)
{
    std::string out(1, static_cast<char>(0xA0 | references.size()));
    for (int r : references)
        out.push_back(static_cast<char>(r));
    return out;
}

// A UID reads as the dictionary its XML form writes, so both forms give the same elements and events.
TEST(PropertyListReaderTest, BinaryUidsReadAsTheirXmlDictionary)
{
    auto uid = [](std::uint64_t n) {
        return "<dict><key>CF$UID</key><integer>" + std::to_string(n) + "</integer></dict>";
    };
    const struct {
        const char* name;
        std::string binary;
        std::string xml;
    } cases[] = {
        {"UIDs of one, two and eight bytes in an array",
         binaryList({arrayOf({1}), arrayOf({2, 3, 4}), std::string("\x80\x00", 2), "\x81\x12\x34",
                     std::string("\x87\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 9)}),
         "<array><array>" + uid(0) + uid(0x1234) + uid(18446744073709551615u) + "</array></array>"},
        {"a keyed-archive-like list",
         binaryList({arrayOf({1, 5}), "\xD2\x02\x03\x04\x06", "\x56$class", "\x54name", "\x80\x01", arrayOf({7}),
                     "\x51x", "\x80\xC8"}),
         "<array><dict><key>$class</key>" + uid(1) + "<key>name</key><string>x</string></dict><array>" + uid(200)
             + "</array></array>"},
        {"a UID as a root array element", binaryList({arrayOf({1}), "\x80\x05"}), "<array>" + uid(5) + "</array>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto fromBinary = readBytes(c.binary);
        const auto fromXml = readBytes("<plist version=\"1.0\">" + c.xml + "</plist>"); // no text runs
        ASSERT_EQ(fromBinary->result.status, Status::Ok) << fromBinary->result.message;
        ASSERT_EQ(fromXml->result.status, Status::Ok) << fromXml->result.message;
        EXPECT_EQ(fromBinary->recorder.elements, fromXml->recorder.elements);
        EXPECT_EQ(fromBinary->recorder.events, fromXml->recorder.events);
    }
    const auto tooLong = readBytes(binaryList({arrayOf({1}), std::string("\x88") + std::string(9, '\x01')}));
    EXPECT_EQ(tooLong->result.status, Status::NotPropertyList);
    EXPECT_NE(tooLong->result.message.find("UID"), std::string::npos) << tooLong->result.message;
}

TEST(PropertyListReaderTest, RefusesDamagedAndHostileBinaryLists)
{
    const std::string good = binaryList({arrayOf({1, 2}), "\x51x", std::string("\x10\x07", 2)});
    ASSERT_EQ(readBytes(good)->result.status, Status::Ok);

    std::string offsetOutside = good;
    offsetOutside[offsetOutside.size() - 32 - 6 + 1] = static_cast<char>(0xF0); // first offset -> 0x..F0
    std::string tableOutside = good;
    tableOutside[tableOutside.size() - 1] = static_cast<char>(0xFF);

    std::vector<std::string> deep; // 600 arrays, each holding the next
    for (int i = 0; i < 600; ++i)
        deep.push_back(i < 599 ? std::string{static_cast<char>(0xA1), static_cast<char>((i + 1) >> 8),
                                             static_cast<char>((i + 1) & 0xFF)}
                               : std::string(1, static_cast<char>(0xA0)));
    std::vector<std::string> shared; // each array holds the next one twice: 2^40 values expanded
    for (int i = 0; i < 40; ++i)
        shared.push_back(arrayOf({i + 1, i + 1}));
    shared.push_back("\x51x");

    const struct {
        const char* name;
        std::string bytes;
        Status status;
        const char* message;
    } cases[] = {
        {"reference cycle", binaryList({arrayOf({1}), arrayOf({0})}), Status::NotPropertyList, "cycle"},
        {"array holding itself", binaryList({arrayOf({0})}), Status::NotPropertyList, "cycle"},
        {"reference out of range", binaryList({arrayOf({5})}), Status::NotPropertyList, "out of range"},
        {"object offset outside", offsetOutside, Status::NotPropertyList, "offset outside"},
        {"offset table outside", tableOutside, Status::NotPropertyList, "table outside"},
        {"object cut off", binaryList({"\x55" "ab"}), Status::NotPropertyList, "cut off"},
        {"dictionary key not a string", binaryList({"\xD1\x01\x02", std::string("\x10\x01", 2), "\x51v"}),
         Status::NotPropertyList, "key is not a string"},
        {"unknown object type", binaryList({arrayOf({1}), "\x70"}), Status::NotPropertyList, "unsupported"},
        {"too deep", binaryList(deep, 0, 2), Status::TooDeep, "nested deeper"},
        {"shared arrays expanding", binaryList(shared), Status::NotPropertyList, "expand"},
        {"other binary version", "bplist15" + good.substr(8), Status::NotPropertyList, "version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = readBytes(c.bytes);
        EXPECT_EQ(read->result.status, c.status) << read->result.message;
        EXPECT_NE(read->result.message.find(c.message), std::string::npos) << read->result.message;
        EXPECT_TRUE(read->result.binary);
        EXPECT_EQ(read->recorder.events, std::vector<std::string>{"start-document"});
    }
    for (std::size_t length = 0; length < good.size(); ++length) {
        SCOPED_TRACE(length);
        const auto read = readBytes(std::string_view(good).substr(0, length));
        EXPECT_NE(read->result.status, Status::Ok);
        EXPECT_TRUE(read->recorder.elements.empty());
    }
}

// The description carries the stop's position: line and column for XML, bytes for binary lists.
TEST(PropertyListReaderTest, DescribesEachOutcomeWithItsPosition)
{
    const struct {
        const char* name;
        std::string bytes;
        std::string description;
    } cases[] = {
        {"ok", "<plist><array/></plist>", "read completely"},
        {"xml error", "<plist>\n  <array>\n  </dict>", "line 3, column 5: mismatched tag"},
        {"xml root not array", "<plist><dict/></plist>", "the root value is not an array"},
        {"binary root not array", binaryList({"\x51x"}), "the root value is not an array"},
        {"binary cut off", binaryList({"\x55" "ab"}).substr(0, 12), "byte 12: binary property list cut off"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string description = readBytes(c.bytes)->result.description();
        EXPECT_EQ(description.substr(0, c.description.size()), c.description);
    }
}

} // namespace

namespace {

// Binary lists are decoded by our own reader because libplist's binary reader loses values: it keeps
// dates as 32-bit seconds. This list holds one date, 2100-01-01 (3,124,137,600 s after 2001), made
// by hand: the header, an array of one reference, the date, the offset table and the trailer.
TEST(PropertyListReaderTest, BinaryDatesBeyondThirtyTwoBitSecondsKeepTheirValue)
{
    std::string list = "bplist00";
    list += std::string("\xA1\x01", 2); // object 0: array of one element, object 1
    list += '\x33';                      // object 1: date, an 8-byte big-endian double
    const double seconds = 3124137600.0;
    std::uint64_t bits;
    std::memcpy(&bits, &seconds, sizeof bits);
    for (int shift = 56; shift >= 0; shift -= 8)
        list += static_cast<char>((bits >> shift) & 0xFF);
    const char offsetTable[] = {8, 10};
    list.append(offsetTable, 2);
    std::string trailer(32, '\0');
    trailer[6] = 1;  // offsets are one byte
    trailer[7] = 1;  // references are one byte
    trailer[15] = 2; // two objects
    trailer[23] = 0; // the root is object 0
    trailer[31] = 19; // the offset table starts at byte 19
    list += trailer;

    auto read = readBytes(list);
    ASSERT_TRUE(read->result.ok()) << read->result.message;
    ASSERT_EQ(read->recorder.elements.size(), 1u);
    EXPECT_EQ(s(read->recorder.elements[0].description()), "2100-01-01T00:00:00Z");

    // What libplist 2.2 gives for the same bytes: a date that no longer is 2100.
    plist_t root = nullptr;
    plist_from_bin(list.data(), static_cast<uint32_t>(list.size()), &root);
    ASSERT_NE(root, nullptr);
    int32_t sec = 0, usec = 0;
    plist_get_date_val(plist_array_get_item(root, 0), &sec, &usec);
    EXPECT_NE(static_cast<double>(sec), seconds);
    plist_free(root);
}

} // namespace
