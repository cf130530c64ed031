// Hostile property lists at the level of the conversion to CSV: whatever the reader refuses must
// end in a report that says where, with nothing written and an existing output left as it was.
// (How the reader itself refuses each of them is tested in PropertyListReaderTest.)
#include "core/convert/FileConverter.hpp"
#include "core/UserDefaults.hpp"

#include "support/TestSupport.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace plistable;
using plistable::test::TempDir;

namespace {

const std::string prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// A binary property list: the objects in order, then an offset table of `offsetSize`-byte entries
// and the trailer; references inside objects are `referenceSize` bytes.
std::string binaryList(const std::vector<std::string>& objects, unsigned offsetSize, unsigned referenceSize)
{
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    auto bigEndian = [&](std::uint64_t value, unsigned size) {
        for (unsigned i = size; i-- > 0;)
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const std::uint64_t table = out.size();
    for (std::uint64_t offset : offsets)
        bigEndian(offset, offsetSize);
    out.append(6, '\0');
    out.push_back(static_cast<char>(offsetSize));
    out.push_back(static_cast<char>(referenceSize));
    bigEndian(objects.size(), 8);
    bigEndian(0, 8);
    bigEndian(table, 8);
    return out;
}

// An array holding the references `refs`, each `size` bytes (fewer than 15 of them).
std::string arrayObject(std::initializer_list<std::uint64_t> refs, unsigned size)
{
    std::string out(1, static_cast<char>(0xA0 | refs.size()));
    for (std::uint64_t ref : refs)
        for (unsigned i = size; i-- > 0;)
            out.push_back(static_cast<char>((ref >> (8 * i)) & 0xFF));
    return out;
}

// Watches files for being opened or read, to show that a conversion never touched them.
class OpenWatch {
public:
    explicit OpenWatch(const std::vector<std::string>& paths) : _fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        for (const std::string& path : paths)
            ::inotify_add_watch(_fd, path.c_str(), IN_OPEN | IN_ACCESS);
    }
    ~OpenWatch() { ::close(_fd); }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    bool valid() const { return _fd >= 0; }
    /// True when any watched file was opened or read since the watch began.
    bool touched() const
    {
        alignas(inotify_event) char buffer[4096];
        return ::read(_fd, buffer, sizeof buffer) > 0;
    }

private:
    int _fd;
};

class PlistToCsvHostileInputTest : public ::testing::Test {
protected:
    TempDir dir;
    UserDefaults defaults{dir.file("settings.json")};

    void SetUp() override { ::mkdir(dir.file("out").c_str(), 0700); }

    // Converts `bytes` saved as list.plist into dir/out, over an existing list.csv.
    ConversionReport convert(std::string_view bytes, bool header = false)
    {
        defaults.setBool("header", header);
        dir.write("out/list.csv", "old output\n");
        const std::string source = dir.write("list.plist", bytes);
        FileConverter converter(defaults);
        return converter.convertDroppedFiles({source}, dir.file("out")).at(0);
    }

    // The report of a refused list: failed, saying `where` and `why`, with the old output untouched.
    void expectRefused(const ConversionReport& report, std::string_view where, std::string_view why)
    {
        EXPECT_EQ(report.status, ConversionReport::Status::Failed);
        EXPECT_TRUE(report.outputPath.empty());
        ASSERT_EQ(report.problems.size(), 1u);
        EXPECT_NE(report.problems[0].find(where), std::string::npos) << report.problems[0];
        EXPECT_NE(report.problems[0].find(why), std::string::npos) << report.problems[0];
        EXPECT_EQ(dir.read("out/list.csv"), "old output\n");
        EXPECT_EQ(outNames(), std::vector<std::string>{"list.csv"}); // and no temporary file left
    }

    std::vector<std::string> outNames()
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.file("out")))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(PlistToCsvHostileInputTest, NestingAMillionDeepIsRefusedWithItsPlace)
{
    std::string xml = prolog + "<plist>";
    for (int i = 0; i < 1'000'000; ++i)
        xml += "<array>";
    // The 513th array is one too many; it starts after the prolog line, "<plist>" and 512 arrays.
    expectRefused(convert(xml), "line 2, column " + std::to_string(7 + 512 * 7 + 1), "deeper");

    std::vector<std::string> objects;
    constexpr std::uint64_t count = 1'000'000;
    for (std::uint64_t i = 0; i + 1 < count; ++i)
        objects.push_back(arrayObject({i + 1}, 3));
    objects.push_back(arrayObject({}, 3));
    expectRefused(convert(binaryList(objects, 3, 3)), "byte ", "deeper");
}

TEST_F(PlistToCsvHostileInputTest, DamagedBinaryListsAreRefusedWithTheirPlace)
{
    const std::string good = binaryList({arrayObject({1}, 1), arrayObject({2}, 1), "\x51x"}, 1, 1);
    ASSERT_EQ(convert(good).status, ConversionReport::Status::Converted);
    EXPECT_EQ(dir.read("out/list.csv"), "x\n");

    std::string offsetOutside = good;
    offsetOutside[good.size() - 32 - 1] = static_cast<char>(0xF0); // the last object's offset
    const struct {
        const char* name;
        std::string bytes;
        const char* why;
    } cases[] = {
        {"cycle", binaryList({arrayObject({1}, 1), arrayObject({0}, 1)}, 1, 1), "cycle"},
        {"offset outside the file", offsetOutside, "outside"},
        {"reference to no object", binaryList({arrayObject({7}, 1)}, 1, 1), "out of range"},
        {"cut short", good.substr(0, good.size() - 1), "byte "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRefused(convert(c.bytes), "byte ", c.why);
    }
}

// A date object (0x33) holding the big-endian bits of `seconds`.
std::string dateObject(double seconds)
{
    std::uint64_t bits;
    std::memcpy(&bits, &seconds, sizeof bits);
    std::string out(1, '\x33');
    for (int i = 7; i >= 0; --i)
        out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    return out;
}

// A date with no calendar form keeps its value as seconds since 2001-01-01 and makes the result partial.
TEST_F(PlistToCsvHostileInputTest, DatesWithoutACalendarDateAreWrittenAsSecondsAndReported)
{
    const struct {
        const char* name;
        double seconds;
        const char* field;
    } cases[] = {
        {"not a number", std::numeric_limits<double>::quiet_NaN(), "nan"},
        {"infinite", -std::numeric_limits<double>::infinity(), "-inf"},
        {"out of range", 1e300, "1e+300"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // [[2001-01-01, DATE], [[DATE]]]: a plain one, and one nested in an array (written as JSON).
        const std::string list = binaryList({arrayObject({1, 4}, 1), arrayObject({2, 3}, 1), dateObject(0),
                                             dateObject(c.seconds), arrayObject({5}, 1), arrayObject({3}, 1)},
                                            1, 1);
        const ConversionReport report = convert(list);
        EXPECT_EQ(report.status, ConversionReport::Status::Partial);
        EXPECT_EQ(dir.read("out/list.csv"),
                  "2001-01-01T00:00:00Z," + std::string(c.field) + "\n\"[\"\"" + c.field + "\"\"]\"\n");
        ASSERT_EQ(report.problems.size(), 1u);
        EXPECT_EQ(report.problems[0], "2 dates (the first in element 1) cannot be written as a calendar date; written "
                                      "as seconds since 2001-01-01");
    }
    const ConversionReport fine = convert(binaryList({arrayObject({1}, 1), arrayObject({2}, 1), dateObject(-1e9)}, 1, 1));
    EXPECT_EQ(fine.status, ConversionReport::Status::Converted);
    EXPECT_EQ(dir.read("out/list.csv"), "1969-04-24T22:13:20Z\n");
}

TEST_F(PlistToCsvHostileInputTest, EntitiesAreRefusedAndLocalFilesNeverRead)
{
    std::string bomb = prolog + "<!DOCTYPE plist [\n<!ENTITY a \"aaaaaaaaaa\">\n";
    for (char level = 'b'; level <= 'j'; ++level) {
        bomb += std::string("<!ENTITY ") + level + " \"";
        for (int i = 0; i < 10; ++i)
            bomb += std::string("&") + static_cast<char>(level - 1) + ";";
        bomb += "\">\n";
    }
    bomb += "]>\n<plist><array><string>&j;</string></array></plist>\n";
    expectRefused(convert(bomb), "line 3, column ", "entity");

    const std::string secret = dir.write("secret.txt", "TOP-SECRET");
    const std::string dtd = dir.write("list.dtd", "<!ENTITY e \"TOP-SECRET\">");
    OpenWatch watch({secret, dtd});
    ASSERT_TRUE(watch.valid());
    expectRefused(convert(prolog + "<!DOCTYPE plist [<!ENTITY e SYSTEM \"file://" + secret
                          + "\">]>\n<plist><array><string>&e;</string></array></plist>\n"),
                  "line ", "entity");
    expectRefused(convert(prolog + "<!DOCTYPE plist SYSTEM \"file://" + dtd
                          + "\">\n<plist><array><string>&e;</string></array></plist>\n"),
                  "line 3, column ", "entity");

    // A document type naming a local file, with nothing in the document depending on it: the list
    // converts and the file is not read.
    const ConversionReport plain = convert(prolog + "<!DOCTYPE plist SYSTEM \"file://" + dtd
                                           + "\">\n<plist><array><array><string>a</string></array></array></plist>\n");
    EXPECT_EQ(plain.status, ConversionReport::Status::Converted);
    EXPECT_EQ(dir.read("out/list.csv"), "a\n");
    EXPECT_FALSE(watch.touched());
}

TEST_F(PlistToCsvHostileInputTest, ADictionaryOfAHundredThousandKeysConverts)
{
    constexpr int count = 100'000;
    std::string xml = prolog + "<plist><array><dict>";
    std::string names, values;
    for (int i = 0; i < count; ++i) {
        xml += "<key>k" + std::to_string(i) + "</key><string>v" + std::to_string(i) + "</string>";
        names += (i ? ",k" : "k") + std::to_string(i);
        values += (i ? ",v" : "v") + std::to_string(i);
    }
    // A second dictionary with the keys in reverse order, half of them missing and one not in the list.
    xml += "</dict><dict><key>extra</key><string>e</string>";
    std::string second;
    for (int i = count - 1; i >= 0; --i)
        if (i % 2 == 0)
            xml += "<key>k" + std::to_string(i) + "</key><string>w" + std::to_string(i) + "</string>";
    // Appended piece by piece: GCC 12 reports a false -Werror=restrict on `"literal" + std::string`.
    for (int i = 0; i < count; ++i) {
        if (i)
            second += ',';
        if (i % 2 == 0)
            second.append("w").append(std::to_string(i));
    }
    // A third with a key given twice, among enough others to be looked up by index: the later wins.
    xml += "</dict><dict><key>k1</key><string>first</string><key>k1</key><string>later</string>";
    std::string third = ",later";
    for (int i = 2; i < 40; ++i) {
        xml += "<key>k" + std::to_string(i) + "</key><string>x</string>";
        third += ",x";
    }
    third += std::string(count - 40, ',');
    xml += "</dict></array></plist>\n";

    const ConversionReport report = convert(xml, true);
    EXPECT_EQ(report.status, ConversionReport::Status::Partial);
    EXPECT_EQ(report.records, 4u);
    EXPECT_EQ(dir.read("out/list.csv"), names + "\n" + values + "\n" + second + "\n" + third + "\n");
    ASSERT_EQ(report.problems.size(), 2u);
    EXPECT_TRUE(report.problems[0].ends_with(": dictionary repeats key \"k1\"; the later value is kept"))
        << report.problems[0];
    EXPECT_EQ(report.problems[1], "keys not in the first dictionary were left out: element 2 (extra)");
}

} // namespace
