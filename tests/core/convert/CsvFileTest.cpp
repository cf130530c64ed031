// readCsvFile and writeCsvFile: the one-call reading and writing of CSV files in UTF-8 strings.
#include "core/convert/CsvFile.hpp"

#include "core/text/TextEncoding.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

using namespace plistable;
using plistable::test::TempDir;
using plistable::test::u;

namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string encoded(std::string_view utf8, TextEncoding encoding)
{
    std::optional<std::string> bytes = encodeText(u(utf8), encoding);
    EXPECT_TRUE(bytes);
    return bytes.value_or("");
}

struct ReadCase {
    std::string_view name;
    std::string bytes;
    CsvFileOptions options;
    std::vector<std::string> header;
    Rows rows;
    std::string encoding;           // expected encoding name, when decoded
    std::size_t errorLine = 0;
    std::string errorReason;        // empty: the whole file is read
};

TEST(CsvFileTest, ReadsFiles)
{
    const std::vector<ReadCase> cases = {
        {"plain", "a,b\nc,d\n", {}, {}, {{"a", "b"}, {"c", "d"}}, "UTF-8", 0, ""},
        {"quoted fields keep delimiters and quotes", "\"a,b\",\"say \"\"hi\"\"\"\n", {}, {},
         {{"a,b", "say \"hi\""}}, "UTF-8", 0, ""},
        {"header names are apart from the rows", "name,age\nAda,36\nAlan,41", {",", "", true}, {"name", "age"},
         {{"Ada", "36"}, {"Alan", "41"}}, "UTF-8", 0, ""},
        {"equal header names are all kept", "x,x\n1,2\n", {",", "", true}, {"x", "x"}, {{"1", "2"}}, "UTF-8", 0, ""},
        {"byte-order mark dropped", "\xEF\xBB\xBF" "a,b\n", {}, {}, {{"a", "b"}}, "UTF-8", 0, ""},
        {"Shift_JIS detected", encoded("駅,東京\n", NSShiftJISStringEncoding), {}, {}, {{"駅", "東京"}}, "Shift_JIS", 0, ""},
        {"EUC-JP detected", encoded("駅,大阪\n", NSJapaneseEUCStringEncoding), {}, {}, {{"駅", "大阪"}}, "EUC-JP", 0, ""},
        {"encoding given by name", encoded("駅,京都\n", NSShiftJISStringEncoding), {",", "cp932", false}, {},
         {{"駅", "京都"}}, "", 0, ""},
        {"tab delimiter", "a\tb,c\n", {"\t", "", false}, {}, {{"a", "b,c"}}, "UTF-8", 0, ""},
        {"several-character delimiter", "a::b\n", {"::", "", false}, {}, {{"a", "b"}}, "UTF-8", 0, ""},
        {"empty file", "", {}, {}, {}, "UTF-8", 0, ""},
        {"stray quote keeps what was read up to it", "a,b\nc,d\"e\nf,g\n", {}, {}, {{"a", "b"}, {"c", "d"}}, "UTF-8", 2,
         "unexpected double quote"},
        {"unclosed quote loses the quoted content", "a\n\"b,c\n", {}, {}, {{"a"}, {""}}, "UTF-8", 2,
         "quoted field is never closed"},
        {"UTF-8 cut off at the end keeps every row", "駅,東京\n駅,\xE5\xA4", {}, {}, {{"駅", "東京"}, {"駅", "\xEF\xBF\xBD"}},
         "UTF-8", 0, "the character at byte offset 15 is cut off by the end of the file; read as U+FFFD"},
        {"unknown encoding name", "a\n", {",", "no-such-encoding", false}, {}, {}, "", 0,
         "unknown encoding: no-such-encoding"},
        {"bytes invalid in the named encoding", "\xFF\xFE\xFD", {",", "utf-8", false}, {}, {}, "", 0,
         "cannot be decoded as UTF-8 at byte offset 0"},
        {"empty delimiter", "a\n", {"", "", false}, {}, {}, "", 0, "the delimiter is empty"},
        {"delimiter with a quote", "a\n", {"\"", "", false}, {}, {}, "", 0,
         "the delimiter holds a double quote or a line break"},
    };
    TempDir dir;
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CsvFileResult result = readCsvFile(dir.write("in.csv", c.bytes), c.options);
        EXPECT_EQ(result.header, c.header);
        EXPECT_EQ(result.rows, c.rows);
        if (!c.encoding.empty()) {
            EXPECT_EQ(result.encoding, c.encoding);
        }
        if (c.errorReason.empty()) {
            EXPECT_TRUE(result) << result.error->reason;
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error->line, c.errorLine);
            EXPECT_EQ(result.error->reason, c.errorReason);
        }
    }
}

TEST(CsvFileTest, MissingFileIsAnErrorWithoutALine)
{
    TempDir dir;
    const CsvFileResult result = readCsvFile(dir.file("absent.csv"));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error->line, 0u);
    EXPECT_EQ(result.error->reason.rfind("cannot read: ", 0), 0u) << result.error->reason;
}

struct WriteCase {
    std::string_view name;
    Rows rows;
    std::string delimiter;
    std::string bytes;
};

TEST(CsvFileTest, WritesFilesThatReadBack)
{
    const std::vector<WriteCase> cases = {
        {"plain", {{"a", "b"}, {"c", "d"}}, ",", "a,b\nc,d\n"},
        {"quotes only where needed", {{"a,b", "say \"hi\"", "two\nlines", "x"}}, ",",
         "\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",x\n"},
        {"Japanese text as UTF-8", {{"駅", "東京"}}, ",", "駅,東京\n"},
        {"semicolon delimiter quotes a semicolon, not a comma", {{"a;b", "c,d"}}, ";", "\"a;b\";c,d\n"},
        {"no rows", {}, ",", ""},
    };
    TempDir dir;
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("out.csv");
        const std::optional<CsvFileError> error = writeCsvFile(path, c.rows, {c.delimiter, "", false});
        ASSERT_FALSE(error) << error->reason;
        EXPECT_EQ(dir.read("out.csv"), c.bytes);
        if (!c.rows.empty()) {
            const CsvFileResult back = readCsvFile(path, {c.delimiter, "", false});
            EXPECT_TRUE(back);
            EXPECT_EQ(back.rows, c.rows);
        }
    }
}

TEST(CsvFileTest, FailedWriteLeavesTheOldFile)
{
    TempDir dir;
    const std::string path = dir.write("out.csv", "old\n");
    const std::optional<CsvFileError> error = writeCsvFile(path, {{"new"}}, {"::", "", false});
    ASSERT_TRUE(error);
    EXPECT_EQ(error->reason, "the delimiter must be one character");
    EXPECT_EQ(dir.read("out.csv"), "old\n");

    const std::optional<CsvFileError> missingFolder = writeCsvFile(dir.file("no/such/folder/out.csv"), {{"x"}});
    ASSERT_TRUE(missingFolder);
    EXPECT_FALSE(missingFolder->reason.empty());
}

} // namespace
