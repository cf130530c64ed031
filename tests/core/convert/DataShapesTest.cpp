// The data-shape options of the conversions: typed values, keyed tables, every key, unique header
// names and the binary and JSON output forms.
#include "core/convert/FileConverter.hpp"

#include "core/UserDefaults.hpp"
#include "core/convert/detail/CsvToPlistConversion.hpp"
#include "core/convert/detail/FieldTypes.hpp"
#include "support/TestSupport.hpp"

#include <nlohmann/json.hpp>
#include <plist/plist.h>

#include <cstdlib>
#include <optional>

using namespace plistable;
using plistable::test::TempDir;
using plistable::test::u;
using plistable::test::xmlPlist;
using plistable::test::xmlPlistDocument;

namespace {

plist_t libplistOf(const std::string& bytes)
{
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    return root;
}

// The binary form of a property list, made with libplist.
std::string binaryOf(const std::string& xml)
{
    plist_t root = libplistOf(xml);
    EXPECT_NE(root, nullptr);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    std::string result(bytes, length);
    free(bytes);
    plist_free(root);
    return result;
}

// A value as libplist read it, as one line of text: kinds, values and key order all show.
std::string describe(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        std::string result = "s:" + nlohmann::json(std::string(text)).dump();
        free(text);
        return result;
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return "i:" + std::to_string(static_cast<int64_t>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return "r:" + nlohmann::json(value).dump();
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value ? "true" : "false";
    }
    case PLIST_ARRAY: {
        // By iterator: a look-up by index walks the list from its start.
        std::string result = "[";
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
            plist_t item = nullptr;
            plist_array_next_item(node, it, &item);
            result += describe(item) + ",";
        }
        free(it);
        return result + "]";
    }
    case PLIST_DICT: {
        std::string result = "{";
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        while (true) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            result += nlohmann::json(std::string(key)).dump() + ":" + describe(value) + ",";
            free(key);
        }
        free(it);
        return result + "}";
    }
    default: return "?";
    }
}

std::string describeBytes(const std::string& bytes)
{
    plist_t root = libplistOf(bytes);
    if (!root)
        return "unreadable";
    std::string result = describe(root);
    plist_free(root);
    return result;
}

class DataShapesTest : public ::testing::Test {
protected:
    TempDir dir;
    UserDefaults defaults{dir.file("settings.json")};
    ConversionReport report;

    // Converts `bytes` of `kind` with `options` (and the header on) into dir/out and returns what was written.
    std::string convert(std::string bytes, InputKind kind, ConversionOptions options, bool header = true)
    {
        options.shape.header = header;
        options.output.path = dir.file("out");
        FileConverter converter(defaults, options);
        report = converter.convertBytes(std::move(bytes), "d", kind);
        return report.outputPath.empty() ? std::string() : dir.read("out");
    }
};

TEST(FieldTypesTest, RecognisesExactlyTheTypedSpellings)
{
    const struct {
        const char* field;
        std::optional<PlistValue> expected;
    } cases[] = {
        {"0", PlistValue::integer(0)},
        {"-12", PlistValue::integer(-12)},
        {"9223372036854775807", PlistValue::integer(INT64_MAX)},
        {"-9223372036854775808", PlistValue::integer(INT64_MIN)},
        {"9223372036854775808", std::nullopt},
        {"007", std::nullopt},
        {"-0", std::nullopt},
        {"-01", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"1.50", PlistValue::real(1.5)},
        {"0.0", PlistValue::real(0.0)},
        {"007.5", PlistValue::real(7.5)},
        {"1e3", PlistValue::real(1000.0)},
        {"1E-2", PlistValue::real(0.01)},
        {"-2.5e+3", PlistValue::real(-2500.0)},
        {"1.", std::nullopt},
        {".5", std::nullopt},
        {"1e", std::nullopt},
        {"1e+", std::nullopt},
        {"1.5.2", std::nullopt},
        {"1e400", std::nullopt},
        // A real only when its shortest round-trip form is the number the field writes.
        {"1.00000000000000000001", std::nullopt},
        {"123456789012345678901234567890.5", std::nullopt},
        {"0.30000000000000001", std::nullopt}, // the double is 0.3's
        {"0.30000000000000004", PlistValue::real(0.30000000000000004)},
        {"0.1", PlistValue::real(0.1)},
        {"100000000000000000000000000000.0", PlistValue::real(1e29)},
        {"0.000e5", PlistValue::real(0.0)},
        {"1500e-3", PlistValue::real(1.5)},
        {"5e-324", PlistValue::real(5e-324)},
        {"1e-400", std::nullopt},
        {"0x10", std::nullopt},
        {"inf", std::nullopt},
        {"true", PlistValue::boolean(true)},
        {"false", PlistValue::boolean(false)},
        {"TRUE", std::nullopt},
        {"True", std::nullopt},
        {"yes", std::nullopt},
        {"\xD9\xA1", std::nullopt}, // ARABIC-INDIC DIGIT ONE
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(detail::typedFieldValue(u(c.field)), c.expected);
    }
}

TEST(FieldTypesTest, DedupedNamesKeepEveryColumn)
{
    const struct {
        std::vector<std::string> names;
        std::vector<std::string> expected;
    } cases[] = {
        {{"a", "a", ""}, {"a", "a_2", "column_3"}},
        {{"a", "a", "a"}, {"a", "a_2", "a_3"}},
        {{"a", "a", "a_2"}, {"a", "a_3", "a_2"}},
        {{"", ""}, {"column_1", "column_2"}},
        {{"x", "y"}, {"x", "y"}},
    };
    for (const auto& c : cases) {
        std::vector<Text> names, expected;
        for (const auto& name : c.names)
            names.push_back(u(name));
        for (const auto& name : c.expected)
            expected.push_back(u(name));
        EXPECT_EQ(detail::dedupedNames(names), expected);
    }
}

TEST_F(DataShapesTest, TypesWritesTypedElementsAndComesBack)
{
    ConversionOptions options;
    options.shape.types = true;
    const std::string xml = convert("id,n,r,b,s,e\n1,007,1.50,true,x,\n", InputKind::Csv, options);
    EXPECT_EQ(xml, xmlPlistDocument({"<array>", "\t<dict>", "\t\t<key>id</key>", "\t\t<integer>1</integer>",
                                     "\t\t<key>n</key>", "\t\t<string>007</string>", "\t\t<key>r</key>",
                                     "\t\t<real>1.5</real>", "\t\t<key>b</key>", "\t\t<true/>", "\t\t<key>s</key>",
                                     "\t\t<string>x</string>", "\t\t<key>e</key>", "\t\t<string></string>", "\t</dict>",
                                     "</array>", "</plist>"}));
    EXPECT_EQ(report.status, ConversionReport::Status::Converted);
    EXPECT_EQ(convert(xml, InputKind::PropertyList, {}), "id,n,r,b,s,e\n1,007,1.5,true,x,\n");
}

TEST_F(DataShapesTest, TypesWithoutHeaderTypesRowFields)
{
    ConversionOptions options;
    options.shape.types = true;
    const std::string xml = convert("-3,false,2e1\n", InputKind::Csv, options, false);
    EXPECT_EQ(xml, xmlPlistDocument({"<array>", "\t<array>", "\t\t<integer>-3</integer>", "\t\t<false/>",
                                     "\t\t<real>20</real>", "\t</array>", "</array>", "</plist>"}));
}

TEST_F(DataShapesTest, KeyedByNameGivesARootDictionaryInFileOrder)
{
    ConversionOptions options;
    options.shape.keyedColumn = "id";
    const std::string xml = convert("id,name\nb,2\na,1\n", InputKind::Csv, options);
    EXPECT_EQ(xml, xmlPlistDocument({"<dict>", "\t<key>b</key>", "\t<dict>", "\t\t<key>name</key>",
                                     "\t\t<string>2</string>", "\t</dict>", "\t<key>a</key>", "\t<dict>",
                                     "\t\t<key>name</key>", "\t\t<string>1</string>", "\t</dict>", "</dict>",
                                     "</plist>"}));
    EXPECT_EQ(report.status, ConversionReport::Status::Converted);
    EXPECT_EQ(report.records, 2u);
}

TEST_F(DataShapesTest, KeyedByPositionWithoutHeaderHoldsArrays)
{
    ConversionOptions options;
    options.shape.keyedColumn = "2";
    const std::string xml = convert("1,k,x\n2,j\n", InputKind::Csv, options, false);
    EXPECT_EQ(xml, xmlPlistDocument({"<dict>", "\t<key>k</key>", "\t<array>", "\t\t<string>1</string>",
                                     "\t\t<string>x</string>", "\t</array>", "\t<key>j</key>", "\t<array>",
                                     "\t\t<string>2</string>", "\t</array>", "</dict>", "</plist>"}));
}

TEST_F(DataShapesTest, KeyedRefusesRepeatedEmptyAndUnknownKeys)
{
    const struct {
        const char* name;
        const char* csv;
        const char* column;
        bool header;
        const char* problem;
    } cases[] = {
        {"repeated", "id,v\na,1\nb,2\n\na,3\n", "id", true,
         "lines 2 and 5: the key \"a\" repeats; nothing was written"},
        {"repeated after a quoted line break", "\"x\ny\",1\nb,2\n\"x\ny\",3\n", "1", false,
         "lines 1 and 4: the key \"x\ny\" repeats; nothing was written"},
        {"empty", "id,v\na,1\n,2\n", "id", true, "line 3: the key is empty; nothing was written"},
        {"short record", "id,v\na,1\nb\n", "v", true, "line 3: the key is empty; nothing was written"},
        {"unknown name", "id,v\na,1\n", "x", true, "--keyed x: no such column in the header"},
        {"position past the header", "id,v\na,1\n", "3", true,
         "--keyed 3: no such column in the header, which has 2 columns"},
        {"position past a record", "id,v\na\n", "2", false,
         "line 2: --keyed 2 is past the 1 column of the record; nothing was written"},
        {"name without header", "id,v\n", "id", false, "--keyed id: no such column"},
        {"position 0", "id,v\n", "0", false, "--keyed 0: no such column"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("out", "keep me");
        ConversionOptions options;
        options.shape.keyedColumn = c.column;
        convert(c.csv, InputKind::Csv, options, c.header);
        EXPECT_EQ(report.status, ConversionReport::Status::Failed);
        EXPECT_EQ(report.problems, std::vector<std::string>{c.problem});
        EXPECT_EQ(dir.read("out"), "keep me");
        EXPECT_EQ(dir.names(), std::vector<std::string>{"out"});
    }
}

TEST_F(DataShapesTest, DedupeKeysKeepsEveryValueWhereRepeatsLoseOne)
{
    const std::string csv = "a,a,\n1,2,3\n";
    const std::string repeated = convert(csv, InputKind::Csv, {});
    EXPECT_EQ(report.status, ConversionReport::Status::Partial);
    ConversionOptions options;
    options.shape.dedupeKeys = true;
    const std::string deduped = convert(csv, InputKind::Csv, options);
    EXPECT_EQ(report.status, ConversionReport::Status::Converted);
    EXPECT_EQ(deduped, xmlPlistDocument({"<array>", "\t<dict>", "\t\t<key>a</key>", "\t\t<string>1</string>",
                                         "\t\t<key>a_2</key>", "\t\t<string>2</string>", "\t\t<key>column_3</key>",
                                         "\t\t<string>3</string>", "\t</dict>", "</array>", "</plist>"}));
}

TEST_F(DataShapesTest, ShapedPathWritesWhatThePlainPathWrites)
{
    // Repeated names, short and long records and a bad line: the general path must agree with the
    // plain one byte for byte, and in its problems, when no shape changes the values.
    const char* inputs[] = {"a,a\n1,2\n", "a,b\n1\n1,2,3\n4,5,6\n", "a,b,a\n1,2\n1,2,3\n1\n", "a,b\n1,2\n3,\"x\"y\n", "", "a,b\n"};
    for (const char* csv : inputs) {
        SCOPED_TRACE(csv);
        for (const bool header : {true, false}) {
            const std::string plain = convert(csv, InputKind::Csv, {}, header);
            const ConversionReport plainReport = report;
            detail::CsvToPlistShape shape;
            shape.format = OutputFormat::Binary; // not plain, so the general path runs ...
            std::string bytes = csv;
            const ConversionReport shaped =
                detail::convertCsvToPlist("d", dir.file("shaped"), header, &bytes, {}, shape);
            EXPECT_EQ(shaped.problems, plainReport.problems);
            EXPECT_EQ(shaped.records, plainReport.records);
            EXPECT_EQ(shaped.status, plainReport.status);
            // ... and its binary form reads back as the same table.
            EXPECT_EQ(convert(dir.read("shaped"), InputKind::PropertyList, {}, header),
                      convert(plain, InputKind::PropertyList, {}, header));
        }
    }
}

TEST_F(DataShapesTest, RootDictionaryEntriesBecomeLinesKeyFirst)
{
    const std::string info = "<dict><key>CFBundleName</key><string>App</string><key>CFBundleVersion</key>"
                             "<string>1.0</string><key>LSRequiresIPhoneOS</key><true/>"
                             "<key>UIRequiredDeviceCapabilities</key><array><string>armv7</string>"
                             "<string>gps</string></array></dict>";
    const std::string tables = "<dict><key>b</key><dict><key>name</key><string>2</string><key>n</key>"
                               "<integer>5</integer></dict><key>a</key><dict><key>n</key><integer>6</integer>"
                               "<key>name</key><string>1</string></dict></dict>";
    const std::string mixed = "<dict><key>s</key><string>x</string><key>t</key><dict><key>k</key>"
                              "<string>v</string></dict></dict>";
    const std::string uneven = "<dict><key>p</key><dict><key>x</key><string>1</string></dict><key>q</key>"
                               "<dict><key>y</key><string>3</string><key>x</key><string>2</string></dict></dict>";
    const struct {
        const char* name;
        std::string body;
        bool header;
        bool allKeys;
        const char* keyColumn;
        const char* csv;
        std::vector<std::string> problems;
    } cases[] = {
        {"an Info-style dictionary", info, false, false, nullptr,
         "CFBundleName,App\nCFBundleVersion,1.0\nLSRequiresIPhoneOS,true\nUIRequiredDeviceCapabilities,armv7,gps\n",
         {}},
        {"no header line without dictionary values", info, true, false, nullptr,
         "CFBundleName,App\nCFBundleVersion,1.0\nLSRequiresIPhoneOS,true\nUIRequiredDeviceCapabilities,armv7,gps\n",
         {}},
        {"a dictionary of dictionaries", tables, true, false, nullptr, "key,name,n\nb,2,5\na,1,6\n", {}},
        {"without header", tables, false, false, nullptr, "b,2,5\na,1,6\n", {}},
        {"the key column named", tables, true, false, "id", "id,name,n\nb,2,5\na,1,6\n", {}},
        {"header just before the first dictionary line", mixed, true, false, nullptr, "s,x\nkey,k\nt,v\n", {}},
        {"keys left out", uneven, true, false, nullptr, "key,x\np,1\nq,2\n",
         {"keys not in the first dictionary were left out: entry \"q\" (y)"}},
        {"every key", uneven, true, true, nullptr, "key,x,y\np,1,\nq,2,3\n", {}},
        {"empty", "<dict/>", true, false, nullptr, "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConversionOptions options;
        options.shape.allKeys = c.allKeys;
        if (c.keyColumn)
            options.shape.keyedColumn = c.keyColumn;
        for (const bool binary : {false, true}) {
            SCOPED_TRACE(binary ? "binary" : "XML");
            const std::string list = binary ? binaryOf(xmlPlist(c.body)) : xmlPlist(c.body);
            EXPECT_EQ(convert(list, InputKind::PropertyList, options, c.header), c.csv);
            EXPECT_EQ(report.problems, c.problems);
            EXPECT_EQ(report.status,
                      c.problems.empty() ? ConversionReport::Status::Converted : ConversionReport::Status::Partial);
            EXPECT_EQ(report.notes.size(), c.problems.size());
        }
    }
}

TEST_F(DataShapesTest, KeyedTableComesBackUnchanged)
{
    const struct {
        const char* csv;
        bool header;
        const char* column;
    } cases[] = {
        {"id,name\nb,2\na,1\n", true, "id"},
        {"name,id,n\nx,b,2\ny,a,1\n", true, "id"},
        {"b,2,x\na,1,y\n", false, "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.csv);
        ConversionOptions options;
        options.shape.keyedColumn = c.column;
        for (const OutputFormat format : {OutputFormat::Xml, OutputFormat::Binary}) {
            options.output.format = format;
            const std::string list = convert(c.csv, InputKind::Csv, options, c.header);
            const std::string back = convert(list, InputKind::PropertyList, options, c.header);
            if (std::string(c.csv).starts_with("name"))
                EXPECT_EQ(back, "id,name,n\nb,x,2\na,y,1\n"); // the key column comes first
            else
                EXPECT_EQ(back, c.csv);
        }
    }
}

TEST_F(DataShapesTest, AllKeysWritesEveryKeyInFirstSeenOrder)
{
    const std::string list =
        xmlPlist("<array><dict><key>b</key><string>1</string><key>a</key><string>2</string></dict>"
              "<dict><key>a</key><string>3</string><key>c</key><string>4</string></dict></array>");
    EXPECT_EQ(convert(list, InputKind::PropertyList, {}), "b,a\n1,2\n,3\n");
    EXPECT_EQ(report.status, ConversionReport::Status::Partial);
    EXPECT_EQ(report.notes, std::vector<std::string>{"--all-keys writes a column for every key"});
    ConversionOptions options;
    options.shape.allKeys = true;
    for (const bool binary : {false, true}) {
        EXPECT_EQ(convert(binary ? binaryOf(list) : list, InputKind::PropertyList, options), "b,a,c\n1,2,\n,3,4\n");
        EXPECT_EQ(report.status, ConversionReport::Status::Converted);
        EXPECT_TRUE(report.notes.empty());
    }
}

TEST_F(DataShapesTest, RepeatedHeaderNoteNamesTheOption)
{
    convert("a,a\n1,2\n", InputKind::Csv, {});
    EXPECT_EQ(report.problems,
              std::vector<std::string>{"header repeats \"a\" (columns 1 and 2); the later value is kept"});
    EXPECT_EQ(report.notes,
              std::vector<std::string>{"--dedupe-keys renames repeated header names so that every value is kept"});
}

// Tables whose binary form is checked against libplist and against our own reader.
const struct BinaryCase {
    const char* name;
    std::string csv;
    bool header;
    bool types;
    const char* keyed;
} binaryCases[] = {
    {"rows", "a,b\n1,2\n", false, false, nullptr},
    {"records", "a,b\n1,2\n3,4\n", true, false, nullptr},
    {"typed", "i,r,t,f,s,n\n1,1.5,true,false,x,-7\n300,-2e-3,true,false,,9223372036854775807\n", true, true,
     nullptr},
    {"keyed", "id,v\nb,1\na,2\n", true, true, "id"},
    {"unicode and long strings", "k\ncaf\xC3\xA9 \xF0\x9F\x98\x80\n" + std::string(300, 'x') + "\n", true,
     false, nullptr},
    {"shared strings", "x,x,x\nx,y,x\n", false, false, nullptr},
    {"empty", "", true, false, nullptr},
    {"many objects", [] {
         std::string csv = "a,b,c\n";
         for (int i = 0; i < 20000; ++i)
             csv += std::to_string(i) + "," + std::to_string(i * 7) + ",v" + std::to_string(i % 300) + "\n";
         return csv;
     }(),
     true, true, nullptr},
    {"more distinct strings than are shared", [] {
         std::string csv = "k,v\n";
         for (int i = 0; i < 70000; ++i)
             csv += "s" + std::to_string(i) + ",k\n";
         return csv;
     }(),
     true, false, nullptr},
};

TEST_F(DataShapesTest, BinaryOutputReadsAsTheXmlOutput)
{
    for (const BinaryCase& c : binaryCases) {
        SCOPED_TRACE(c.name);
        ConversionOptions options;
        options.shape.types = c.types;
        if (c.keyed)
            options.shape.keyedColumn = c.keyed;
        const std::string xml = convert(c.csv, InputKind::Csv, options, c.header);
        options.output.format = OutputFormat::Binary;
        const std::string binary = convert(c.csv, InputKind::Csv, options, c.header);
        EXPECT_EQ(report.status, ConversionReport::Status::Converted);
        ASSERT_TRUE(binary.starts_with("bplist00"));
        // libplist reads both as the same values, key order included ...
        EXPECT_EQ(describeBytes(binary), describeBytes(xml));
        EXPECT_NE(describeBytes(binary), "unreadable");
        // ... and so does our reader, back to the same table.
        EXPECT_EQ(convert(binary, InputKind::PropertyList, options, c.header),
                  convert(xml, InputKind::PropertyList, options, c.header));
    }
}

TEST_F(DataShapesTest, BinaryOutputSharesEqualStringsOnly)
{
    ConversionOptions options;
    options.output.format = OutputFormat::Binary;
    options.shape.types = true;
    // Objects: the root, two rows, "x" once, two integers 1 (numbers are not shared).
    const std::string binary = convert("x,1\nx,1\n", InputKind::Csv, options, false);
    ASSERT_GE(binary.size(), 32u);
    std::uint64_t objects = 0;
    for (std::size_t i = binary.size() - 24; i < binary.size() - 16; ++i)
        objects = objects << 8 | static_cast<unsigned char>(binary[i]);
    EXPECT_EQ(objects, 6u);
}

// A lone surrogate (here from CESU-8) is no character: every output form writes U+FFFD for it and
// reports it; a whole pair stays the character it makes.
TEST_F(DataShapesTest, EveryFormWritesALoneSurrogateAsReplacementAndReportsIt)
{
    const std::string csv = "a\xED\xA0\x80" "b,\xED\xA0\xBD\xED\xB8\x80,\xED\xB8\x80\n";
    const std::string expected = "a\xEF\xBF\xBD" "b|\xF0\x9F\x98\x80|\xEF\xBF\xBD";
    const struct {
        OutputFormat format;
        const char* problem;
    } cases[] = {
        {OutputFormat::Xml, "2 characters that XML does not allow written as U+FFFD"},
        {OutputFormat::Binary, "2 lone surrogates written as U+FFFD"},
        {OutputFormat::Json, "2 lone surrogates written as U+FFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        ConversionOptions options;
        options.csvRead.encodingName = "CESU-8";
        options.output.format = c.format;
        const std::string written = convert(csv, InputKind::Csv, options, false);
        EXPECT_EQ(report.status, ConversionReport::Status::Partial);
        EXPECT_EQ(report.problems, std::vector<std::string>{c.problem});
        std::string fields;
        if (c.format == OutputFormat::Json) {
            const nlohmann::json parsed = nlohmann::json::parse(written);
            for (const auto& field : parsed.at(0))
                fields += (fields.empty() ? "" : "|") + field.get<std::string>();
        } else {
            plist_t root = libplistOf(written);
            ASSERT_NE(root, nullptr);
            plist_t row = plist_array_get_item(root, 0);
            for (uint32_t i = 0; i < plist_array_get_size(row); ++i) {
                char* text = nullptr;
                plist_get_string_val(plist_array_get_item(row, i), &text);
                fields += (i == 0 ? "" : "|") + std::string(text);
                free(text);
            }
            plist_free(root);
        }
        EXPECT_EQ(fields, expected);
    }
}

TEST_F(DataShapesTest, JsonOutputHoldsTheRecords)
{
    const struct {
        const char* name;
        const char* csv;
        bool header;
        bool types;
        const char* keyed;
        const char* expected;
    } cases[] = {
        {"rows", "a,b\n1,\"x,y\"\n", false, false, nullptr, R"([["a","b"],["1","x,y"]])"},
        {"records keep key order", "z,a\n1,2\n", true, false, nullptr, R"([{"z":"1","a":"2"}])"},
        {"typed", "i,r,b,s\n-1,2.0,true,007\n", true, true, nullptr, R"([{"i":-1,"r":2.0,"b":true,"s":"007"}])"},
        {"keyed", "id,v\nb,1\na,2\n", true, false, "id", R"({"b":{"v":"1"},"a":{"v":"2"}})"},
        {"escapes", "\"q\"\"\\\n\t\x01\xC3\xA9\"\n", false, false, nullptr, "[[\"q\\\"\\\\\\n\\t\\u0001\xC3\xA9\"]]"},
        {"empty", "", false, false, nullptr, "[]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConversionOptions options;
        options.output.format = OutputFormat::Json;
        options.shape.types = c.types;
        if (c.keyed)
            options.shape.keyedColumn = c.keyed;
        const std::string json = convert(c.csv, InputKind::Csv, options, c.header);
        EXPECT_EQ(report.status, ConversionReport::Status::Converted);
        const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(json, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << json;
        EXPECT_EQ(parsed, nlohmann::ordered_json::parse(c.expected)) << json;
        EXPECT_EQ(parsed.dump(), nlohmann::ordered_json::parse(c.expected).dump()); // types and order too
    }
}

} // namespace
