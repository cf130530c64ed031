// CSV files larger than the pieces and windows the conversion reads them in: every record and
// every reported position is what a whole-file reading gives, whichever encoding wins, and an
// encoding that fails late leaves nothing behind.
#include "core/convert/FileConverter.hpp"
#include "core/UserDefaults.hpp"
#include "core/text/TextEncoding.hpp"

#include "support/TestSupport.hpp"

#include <string>
#include <vector>

using namespace plistable;
using plistable::test::LogCapture;
using plistable::test::TempDir;

namespace {

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

std::string repeated(const std::string& line, std::size_t times)
{
    std::string text;
    text.reserve(line.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        text += line;
    return text;
}

struct Case {
    const char* name;
    std::string bytes;
    bool header;
    std::optional<std::string> encoding; // --encoding, when given
    std::string expectedEncoding;
    std::string value;                   // a part of the document
    std::size_t records;                 // records written
    std::size_t count;                   // occurrences of `value`
    std::vector<std::string> problems;
    std::optional<std::string> keyed = {}; // --keyed, when given
};

TEST(CsvToPlistStreamingTest, LargeFilesGiveWhatAWholeReadingGives)
{
    // Lines of 3 + 1 + 9 + 1 bytes in UTF-8 ("駅,東京都\n" with a Japanese name): 3 MB crosses
    // several pieces, with characters cut at their boundaries.
    const std::string utf8Line = "駅,東京都\n";
    const std::size_t utf8Lines = (3u << 20) / utf8Line.size();
    const std::string sjisLine = encodeText(u"駅,東京都\n", NSShiftJISStringEncoding).value();
    const std::size_t sjisLines = (3u << 20) / sjisLine.size();
    const std::string longField(3u << 20, 'x');
    const std::string jisLine = encodeText(u"駅,東京都\n", NSISO2022JPStringEncoding).value();

    const std::vector<Case> cases = {
        {"UTF-8", repeated(utf8Line, utf8Lines), false, {}, "UTF-8", "<string>東京都</string>", utf8Lines, utf8Lines,
         {}},
        {"UTF-8 with a header", "station,city\n" + repeated(utf8Line, utf8Lines), true, {}, "UTF-8",
         "<key>city</key>\n\t\t<string>東京都</string>", utf8Lines, utf8Lines, {}},
        {"Shift_JIS", repeated(sjisLine, sjisLines), false, {}, "Shift_JIS", "<string>東京都</string>", sjisLines,
         sjisLines, {}},
        // 0x85 is no Shift_JIS character on its own, and a C1 byte EUC-JP never holds: both trials
        // fail at the last byte, long after they began writing.
        {"Shift_JIS with a stray byte at the end", repeated(sjisLine, sjisLines) + "\x85", false, {},
         "Mac OS Roman", "\t<array>\n", sjisLines + 1, sjisLines + 1, {}},
        {"named encoding that fails at the end", repeated(sjisLine, sjisLines) + "\x85", false, "shift_jis",
         "shift_jis", "", 0, 0,
         {"cannot be decoded as shift_jis at byte offset " + std::to_string(sjisLines * sjisLine.size())}},
        {"UTF-8 cut off at the end", repeated(utf8Line, utf8Lines) + "\xE6\x9D", false, {}, "UTF-8",
         "<string>東京都</string>", utf8Lines + 1, utf8Lines,
         {"the character at byte offset " + std::to_string(utf8Lines * utf8Line.size())
          + " is cut off by the end of the file; written as U+FFFD"}},
        // Both read as UTF-8 for megabytes before the byte that rules it out.
        {"ASCII, then Shift_JIS", repeated("a,b\n", 1u << 20) + repeated(sjisLine, 16), false, {}, "Shift_JIS",
         "<string>東京都</string>", (1u << 20) + 16, 16, {}},
        {"ASCII, then an escape sequence", repeated("a,b\n", 1u << 20) + jisLine, false, {},
         std::string(encodingName(NSISO2022JPStringEncoding)), "<string>東京都</string>", (1u << 20) + 1, 1, {}},
        {"quoted fields longer than a window", "a,\"" + longField + "\"\nb,\"" + longField + "\"\n", false, {},
         "UTF-8", "<string>" + longField + "</string>", 2, 2, {}},
        // Each record is one element written at once: here one far larger than the file's buffer.
        {"a header and fields longer than a window", "k,v\n1,\"" + longField + "\"\n2,\"" + longField + "\"\n", true, {},
         "UTF-8", "<key>v</key>\n\t\t<string>" + longField + "</string>", 2, 2, {}},
        {"a fault in the last piece names its line", repeated("a,b\n", 1u << 20) + "c\"d\n", false, {}, "UTF-8",
         "<string>a</string>", (1u << 20) + 1, 1u << 20, {"line " + std::to_string((1u << 20) + 1) + ": unexpected double quote; "
          + std::to_string(1u << 20) + " records converted and the " + std::to_string((1u << 20) + 1)
          + "th cut short at the fault; the rest was not read"}},
        // A fault ends the records, not the reading: the bytes after it still decide the encoding.
        {"a fault in the first window", "a,b\na,b\nc\"d\n" + repeated("e,f\n", 1u << 20), false, {}, "UTF-8",
         "<string>a</string>", 3, 2,
         {"line 3: unexpected double quote; 2 records converted and the third cut short at the fault; the rest was "
          "not read"}},
        {"a fault in the first window, Shift_JIS further on",
         "a,b\na,b\nc\"d\n" + repeated("e,f\n", 1u << 20) + sjisLine, false, {}, "Shift_JIS", "<string>a</string>", 3,
         2,
         {"line 3: unexpected double quote; 2 records converted and the third cut short at the fault; the rest was "
          "not read"}},
        {"a column that is not there, in a large file", "k,v\n" + repeated("1,2\n", 1u << 20), true, {}, "UTF-8", "", 0,
         0, {"--keyed x: no such column in the header"}, "x"},
        {"surplus fields counted from the header on", "k\n" + repeated("v\n", 1u << 20) + "v,w\n", true, {},
         "UTF-8", "<string>v</string>", (1u << 20) + 1, (1u << 20) + 1,
         {"line " + std::to_string((1u << 20) + 2)
          + ": 1 record has more fields than the header has names; the extra fields were left out"}},
    };

    LogCapture logs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        UserDefaults defaults(dir.file("settings.json"));
        ConversionOptions options;
        options.shape.header = c.header;
        options.csvRead.encodingName = c.encoding;
        options.shape.keyedColumn = c.keyed;
        FileConverter converter(defaults, options);
        const std::string source = dir.write("in.csv", c.bytes);
        const ConversionReport report = converter.convertDroppedFiles({source}, dir.path()).at(0);
        EXPECT_EQ(report.encodingName, c.expectedEncoding);
        EXPECT_EQ(report.problems, c.problems);
        if (c.records == 0) {
            EXPECT_EQ(report.status, ConversionReport::Status::Failed);
            EXPECT_EQ(dir.names(), std::vector<std::string>{"in.csv"});
            continue;
        }
        EXPECT_EQ(report.records, c.records);
        // Nothing is left of the encodings tried before the one that read the file.
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.csv", "in.plist"}));
        const std::string document = dir.read("in.plist");
        EXPECT_EQ(occurrences(document, c.value), c.count);
        EXPECT_TRUE(document.ends_with("</array>\n</plist>"));
    }
}

} // namespace
