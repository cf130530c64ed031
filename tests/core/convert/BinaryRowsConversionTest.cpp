#include "core/convert/detail/BinaryRowsConversion.hpp"

#include "core/UserDefaults.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/PlistToCsvConversion.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/plist/detail/BinaryPlistWriter.hpp"
#include "support/TestSupport.hpp"

#include <filesystem>

using namespace plistable;
using namespace plistable::detail;
using plistable::test::TempDir;

namespace {

using Dict = PlistValue::Dictionary;
using Array = PlistValue::Array;

// The list the project's writer makes of a root array of `rows`.
std::string written(const TempDir& dir, const Array& rows)
{
    AtomicFile file(dir.file("written.plist"));
    BinaryPlistWriter writer(file);
    writer.beginValues(false);
    for (const PlistValue& row : rows)
        writer.writeValue(row);
    writer.endValues();
    EXPECT_FALSE(file.commit());
    return dir.read("written.plist");
}

// A list of `objects` (each one object's bytes; offsets and references one byte), top object 0.
std::string made(const std::vector<std::string>& objects)
{
    std::string bytes = "bplist00";
    std::string table;
    for (const std::string& object : objects) {
        table.push_back(static_cast<char>(bytes.size()));
        bytes += object;
    }
    const std::size_t tableAt = bytes.size();
    bytes += table;
    std::string trailer(32, '\0');
    trailer[6] = trailer[7] = 1;
    trailer[15] = static_cast<char>(objects.size());
    trailer[31] = static_cast<char>(tableAt);
    return bytes + trailer;
}

// `bytes` with the byte at `at` (from the end when negative) set to `value`.
std::string patched(std::string bytes, std::ptrdiff_t at, char value)
{
    bytes[static_cast<std::size_t>(at < 0 ? static_cast<std::ptrdiff_t>(bytes.size()) + at : at)] = value;
    return bytes;
}

} // namespace

// The straight path takes exactly the lists of its shape and then writes, reports and counts what
// the general reader does; on everything else it gives up and the general reader answers.
TEST(BinaryRowsConversionTest, WritesTheGeneralLinesOrGivesUp)
{
    TempDir dir;
    const Dict row{{u"id", u"1"}, {u"name", u"caf\u00E9, \"x\"\n"}};
    // Root [row, row]: one dictionary of keys "k", "l" (objects 2, 3) and values "v", 7 (4, 5).
    const std::vector<std::string> twoRows{"\xA2\x01\x01", "\xD2\x02\x03\x04\x05", "\x51k", "\x51l", "\x51v",
                                           "\x10\x07"};
    // Root of `count` references to one dictionary of 15 keys, each with the same value.
    auto sharedRows = [](char count) {
        std::vector<std::string> objects{"\xAF\x10" + std::string(1, count) + std::string(static_cast<std::size_t>(count), 1),
                                         "\xDF\x10\x0F"};
        for (char k = 0; k < 15; ++k) {
            objects[1].push_back(static_cast<char>(2 + k));
            objects.push_back(std::string("\x51") + static_cast<char>('a' + k));
        }
        objects[1] += std::string(15, 17);
        objects.push_back("\x08");
        return made(objects);
    };
    struct Case {
        const char* name;
        std::string bytes;
        bool taken;
    };
    const Case cases[] = {
        {"strings", written(dir, {row, Dict{{u"id", u""}, {u"name", u"\u6771\U0001F600;"}}}), true},
        {"numbers, booleans, dates",
         written(dir, {Dict{{u"i", PlistValue::integer(-5)}, {u"u", PlistValue::unsignedInteger(18446744073709551615u)},
                            {u"r", PlistValue::real(-1.5e300)}, {u"b", PlistValue::boolean(true)},
                            {u"d", PlistValue::date(-1e9)}},
                       Dict{{u"i", PlistValue::integer(INT64_MIN)}, {u"u", PlistValue::integer(300)},
                            {u"r", PlistValue::real(0.1)}, {u"b", PlistValue::boolean(false)},
                            {u"d", PlistValue::date(0.5)}}}),
         true},
        {"arrays of arrays", written(dir, {Array{u"a", PlistValue::real(1.0 / 0.0)}, Array{}, Array{u""}}), true},
        {"an empty root array", written(dir, {}), true},
        {"a float and a 16-byte integer",
         made({"\xA1\x01", "\xA2\x02\x03", "\x22\x3F\xC0\x00\x00",
               std::string("\x14\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x07", 17)}),
         true},
        {"a lone surrogate", made({"\xA1\x01", "\xA1\x02", std::string("\x62\xD8\x00\x00\x41", 5)}), true},
        {"a lone surrogate in a key", made({"\xA1\x01", "\xD1\x02\x03", std::string("\x61\xDC\x00", 3), "\x50"}),
         true},
        {"one key object as ASCII, one as UTF-16",
         made({"\xA2\x01\x02", "\xD1\x03\x04", "\xD1\x05\x04", "\x51k", "\x09", std::string("\x61\0k", 3)}), true},
        {"equal keys in objects of their own", made({"\xA2\x01\x02", "\xD1\x03\x04", "\xD1\x05\x04", "\x51k", "\x08", "\x51k"}),
         true},
        {"keys in another order", written(dir, {row, Dict{{u"name", u"a"}, {u"id", u"1"}}}), false},
        {"a key left out", written(dir, {row, Dict{{u"id", u"1"}}}), false},
        {"a key more", written(dir, {row, Dict{{u"id", u"1"}, {u"name", u"a"}, {u"x", u"b"}}}), false},
        {"a repeated key", written(dir, {Dict{{u"a", u"1"}, {u"a", u"2"}}}), false},
        {"an empty dictionary", written(dir, {Dict{}, Dict{}}), false},
        {"dictionaries and arrays", written(dir, {row, Array{u"a"}}), false},
        {"a single value", written(dir, {row, PlistValue(u"x")}), false},
        {"a nested array", written(dir, {PlistValue(Array{PlistValue(Array{u"a"})})}), false},
        {"data", written(dir, {PlistValue(Array{PlistValue::data("\x01")})}), false},
        {"a date without a calendar date", written(dir, {PlistValue(Array{PlistValue::date(1e300)})}), false},
        {"a root dictionary", made({"\xD1\x01\x02", "\x51k", "\x51v"}), false},
        {"shared rows", made(twoRows), true},
        {"shared rows within the expanded size", sharedRows(30), true},
        {"shared rows beyond the expanded size", sharedRows(50), false},
        {"a row that is the root", made({std::string("\xA2\0\0", 3)}), false},
        {"a row holding the root", made({"\xA1\x01", std::string("\xA1\0", 2)}), false},
        {"a reference out of range", patched(made(twoRows), 9, 0x09), false},
        {"an offset outside the objects", patched(made(twoRows), -32 - 5, 0x60), false},
        {"a key that is a number", patched(made(twoRows), 12, 0x05), false},
        {"a malformed ASCII string", patched(made(twoRows), 21, '\xC3'), false},
        {"a null", patched(made(twoRows), 20, 0x00), false},
        {"an integer of 32 bytes", patched(made(twoRows), 22, 0x15), false},
        {"a length past the offsets", patched(made(twoRows), 20, 0x5E), false},
        {"a malformed length", patched(made(twoRows), 18, 0x5F), false},
        {"another version", patched(made(twoRows), 7, '1'), false},
        {"a reference size of 0", patched(made(twoRows), -25, 0), false},
        {"the top object past the count", patched(made(twoRows), -9, 0x07), false},
        {"the offset table in the trailer", patched(made(twoRows), -1, 0x40), false},
        {"cut off", made(twoRows).substr(0, 40), false},
    };
    UserDefaults defaults(dir.file("settings.json"));
    for (const Case& c : cases)
        for (const bool header : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (header ? ", header" : ""));
            for (const char* output : {"general.csv", "straight.csv", "chosen.csv"})
                std::filesystem::remove(dir.file(output));
            const std::string path = dir.write("in.plist", c.bytes);
            FileConverter general(defaults), straight(defaults), file(defaults);
            const ConversionReport expected = convertPlistToCsv(path, dir.file("general.csv"), header, general, &c.bytes);
            ConversionMonitor monitor;
            const auto report = convertBinaryRows(path, dir.file("straight.csv"), header, straight, {}, monitor);
            ASSERT_EQ(report.has_value(), c.taken);
            // Through the conversion's own choice of path, from the file.
            const ConversionReport chosen = convertPlistToCsv(path, dir.file("chosen.csv"), header, file, nullptr);
            for (const ConversionReport* r : {report ? &*report : &chosen, &chosen}) {
                EXPECT_EQ(r->status, expected.status);
                EXPECT_EQ(r->problems, expected.problems);
                EXPECT_EQ(r->records, expected.records);
            }
            EXPECT_EQ(file.keys(), general.keys());
            if (expected.outputPath.empty())
                continue;
            EXPECT_EQ(dir.read("chosen.csv"), dir.read("general.csv"));
            if (report) {
                EXPECT_EQ(dir.read("straight.csv"), dir.read("general.csv"));
                EXPECT_EQ(straight.keys(), general.keys());
            }
        }
}

// Progress ends at the file's size; a cancel flag stops the run with nothing written.
TEST(BinaryRowsConversionTest, ReportsProgressAndStopsWhenCancelled)
{
    TempDir dir;
    UserDefaults defaults(dir.file("settings.json"));
    const std::string path = dir.write("in.plist", written(dir, Array(5000, PlistValue(Array{u"a", u"b"}))));
    const auto size = static_cast<std::uint64_t>(dir.read("in.plist").size());
    for (const bool cancelled : {false, true}) {
        SCOPED_TRACE(cancelled ? "cancelled" : "not cancelled");
        std::filesystem::remove(dir.file("out.csv"));
        std::atomic<bool> cancel{cancelled};
        std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
        ConversionOptions options;
        options.run.progress = [&](std::uint64_t done, std::uint64_t total) { calls.emplace_back(done, total); };
        options.run.cancel = &cancel;
        ConversionMonitor monitor(options);
        monitor.setTotal(size);
        FileConverter pass(defaults);
        const auto report = convertBinaryRows(path, dir.file("out.csv"), false, pass, {}, monitor);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->status, cancelled ? ConversionReport::Status::Cancelled : ConversionReport::Status::Converted);
        EXPECT_EQ(std::filesystem::exists(dir.file("out.csv")), !cancelled);
        if (!cancelled) {
            ASSERT_FALSE(calls.empty());
            EXPECT_EQ(calls.back(), std::make_pair(size, size));
        }
    }
}
