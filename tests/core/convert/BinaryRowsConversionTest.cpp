#include "core/convert/detail/BinaryRowsConversion.hpp"

#include "core/UserDefaults.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/PlistToCsvConversion.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/io/detail/FileDescriptor.hpp"
#include "core/plist/detail/BinaryPlistWriter.hpp"
#include "support/TestSupport.hpp"

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <unistd.h>
#include <utility>

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
    // Blocks of the reader's size, and tiny ones, so that objects, lengths, references and the
    // trailer straddle blocks, and the cache evicts what it goes back to.
    const std::pair<std::size_t, std::size_t> blockSizes[] = {
        {BlockReader::defaultBlockSize, BlockReader::defaultBlockCount}, {64, 8}, {5, 8}, {1, 8}};
    UserDefaults defaults(dir.file("settings.json"));
    for (const Case& c : cases)
        for (const bool header : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (header ? ", header" : ""));
            for (const char* output : {"general.csv", "chosen.csv", "memory.csv"})
                std::filesystem::remove(dir.file(output));
            const std::string path = dir.write("in.plist", c.bytes);
            FileConverter general(defaults), file(defaults), memory(defaults);
            const ConversionReport expected =
                convertPlistToCsv(path, dir.file("general.csv"), header, general, &c.bytes);
            // Through the conversion's own choice of path, from the file.
            const ConversionReport chosen = convertPlistToCsv(path, dir.file("chosen.csv"), header, file, nullptr);
            EXPECT_EQ(chosen.status, expected.status);
            EXPECT_EQ(chosen.problems, expected.problems);
            EXPECT_EQ(chosen.records, expected.records);
            EXPECT_EQ(file.keys(), general.keys());
            const std::string lines = expected.outputPath.empty() ? "" : dir.read("general.csv");
            if (!expected.outputPath.empty()) {
                EXPECT_EQ(dir.read("chosen.csv"), lines);
            }
            // The straight path from the bytes in memory.
            BlockReader bytes(c.bytes);
            std::optional<CHCSVWriter> writer(std::in_place, dir.file("memory.csv"));
            const auto status = BinaryRowsConversion(bytes, *writer, header, memory).run();
            writer.reset();
            EXPECT_EQ(status == BinaryRowsConversion::Status::Finished, c.taken);
            if (c.taken && !expected.outputPath.empty()) {
                EXPECT_EQ(dir.read("memory.csv"), lines);
                EXPECT_EQ(memory.keys(), general.keys());
            }
            // And from the file, read in blocks of each size.
            for (const auto& [blockSize, blockCount] : blockSizes) {
                SCOPED_TRACE("blocks of " + std::to_string(blockSize));
                std::filesystem::remove(dir.file("straight.csv"));
                FileConverter straight(defaults);
                ConversionMonitor monitor;
                const auto report = convertBinaryRows(path, dir.file("straight.csv"), header, straight, {}, monitor,
                                                      blockSize, blockCount);
                ASSERT_EQ(report.has_value(), c.taken);
                if (!report)
                    continue;
                EXPECT_EQ(report->status, expected.status);
                EXPECT_EQ(report->problems, expected.problems);
                EXPECT_EQ(report->records, expected.records);
                if (!expected.outputPath.empty()) {
                    EXPECT_EQ(dir.read("straight.csv"), lines);
                    EXPECT_EQ(straight.keys(), general.keys());
                }
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

// A list that changes while read is left to the general reader, with nothing written: a read that
// comes short, or a size or time of change other than at the start, gives up.
TEST(BinaryRowsConversionTest, GivesUpOnAListChangedWhileRead)
{
    TempDir dir;
    UserDefaults defaults(dir.file("settings.json"));
    // Over a megabyte, so that progress is told while the rows are read.
    Array rows;
    for (int i = 0; i < 20000; ++i)
        rows.push_back(Array{fromUtf8Lossy(std::to_string(i) + std::string(100, 'x'))});
    const std::string bytes = written(dir, rows);
    struct Case {
        const char* name;
        std::function<void(int fd)> change;
    };
    const Case cases[] = {
        {"cut short", [&](int fd) { ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(bytes.size() / 2)), 0); }},
        {"grown", [&](int fd) { ASSERT_EQ(::pwrite(fd, "x", 1, static_cast<off_t>(bytes.size())), 1); }},
        {"rewritten", [&](int fd) { ASSERT_EQ(::pwrite(fd, "\x11", 1, static_cast<off_t>(bytes.size() / 4)), 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.file("out.csv"));
        const std::string path = dir.write("in.plist", bytes);
        FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_TRUE(file.valid());
        bool changed = false;
        ConversionOptions options;
        options.run.progress = [&](std::uint64_t, std::uint64_t) {
            if (!std::exchange(changed, true))
                c.change(file.get());
        };
        ConversionMonitor monitor(options);
        monitor.setTotal(bytes.size());
        FileConverter pass(defaults);
        EXPECT_FALSE(convertBinaryRows(path, dir.file("out.csv"), false, pass, {}, monitor, 64, 8));
        EXPECT_TRUE(changed);
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.csv")));
    }
}
