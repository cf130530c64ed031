#include "core/AssertionFailure.hpp"
#include "core/csv/CHCSVParser.hpp"
#include "core/io/MemoryInputStream.hpp"

#include "support/ChunkedInputStream.hpp"
#include "support/RecordingDelegate.hpp"
#include "support/TestSupport.hpp"

#include <initializer_list>

using plistable::CHCSVParser;
using plistable::MemoryInputStream;
using plistable::TextEncoding;
using plistable::test::ChunkedInputStream;
using plistable::test::RecordingDelegate;

namespace {

constexpr unsigned escapes = 1, sanitize = 2, comments = 4;
constexpr std::size_t whole = 1 << 20;

std::string logOf(std::initializer_list<std::string_view> lines)
{
    std::string out;
    for (std::string_view line : lines)
        out.append(line).push_back('\n');
    return out;
}

// Parses `bytes` fed `chunk` bytes per read with the encoding sniffed (or given) and returns the
// event log.
std::string parseLog(std::string bytes, unsigned options = 0, std::size_t chunk = whole, char16_t delimiter = u',',
                     TextEncoding* usedEncoding = nullptr)
{
    CHCSVParser parser(std::make_unique<ChunkedInputStream>(std::move(bytes), chunk), usedEncoding, delimiter);
    parser.setRecognizesBackslashesAsEscapes(options & escapes);
    parser.setSanitizesFields(options & sanitize);
    parser.setRecognizesComments(options & comments);
    RecordingDelegate recorder;
    parser.setDelegate(&recorder);
    parser.parse();
    return recorder.log();
}

struct GrammarCase {
    std::string_view name;
    std::string_view input;
    unsigned options;
    std::string expected;
    char16_t delimiter = u',';
};

const std::string quoteError = R"~(error 1 "Unexpected delimiter. Expected ',' (0x2C), but got '\"' (0x22)")~";

const GrammarCase grammarCases[] = {
    {"FirstWorkedExampleRaw", "id,name\n 7 , \"Oak, \"\"J\"\"\"\n", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "id")~", R"~(field 1 "name")~", "endLine 1", "beginLine 2",
            R"~(field 0 " 7 ")~", R"~(field 1 " \"Oak, \"\"J\"\"\"")~", "endLine 2", "beginLine 3", R"~(field 0 "")~",
            "endLine 3", "endDocument"})},
    {"FirstWorkedExampleSanitized", "id,name\n 7 , \"Oak, \"\"J\"\"\"\n", sanitize,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "id")~", R"~(field 1 "name")~", "endLine 1", "beginLine 2",
            R"~(field 0 "7")~", R"~(field 1 "Oak, \"J\"")~", "endLine 2", "beginLine 3", R"~(field 0 "")~", "endLine 3",
            "endDocument"})},
    {"SecondWorkedExample", "#note\na,\"b\"c\n", comments,
     logOf({"beginDocument", R"~(comment "note")~", "beginLine 1", R"~(field 0 "a")~", R"~(field 1 "\"b\"")~", "endLine 1",
            R"~(error 1 "Unexpected delimiter. Expected ',' (0x2C), but got 'c' (0x63)")~"})},
    {"UnexpectedCharacterBeyondTheBasicPlaneNamedWhole", "\"a\"\xF0\x9F\x98\x80", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "\"a\"")~", "endLine 1",
            "error 1 \"Unexpected delimiter. Expected ',' (0x2C), but got '\xF0\x9F\x98\x80' (0x1F600)\""})},
    {"EmptyInput", "", 0, logOf({"beginDocument", "beginLine 1", R"~(field 0 "")~", "endLine 1", "endDocument"})},
    {"NoFinalLineBreak", "a,b", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", R"~(field 1 "b")~", "endLine 1", "endDocument"})},
    {"EndsInDelimiter", "a,", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", R"~(field 1 "")~", "endLine 1", "endDocument"})},
    {"LineBreakRunsAndCrLf", "a\r\n\r\n\nb\u2028c", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", "endLine 1", "beginLine 2", R"~(field 0 "b")~",
            "endLine 2", "beginLine 3", R"~(field 0 "c")~", "endLine 3", "endDocument"})},
    {"OnlySpacesRaw", "   ", 0, logOf({"beginDocument", "beginLine 1", R"~(field 0 "   ")~", "endLine 1", "endDocument"})},
    {"OnlySpacesSanitized", "  \u3000", sanitize,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "")~", "endLine 1", "endDocument"})},
    {"QuotedDelimiterAndLineBreakCountOnce", "\"a,\nb\",c\nd", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "\"a,\nb\"")~", R"~(field 1 "c")~", "endLine 1", "beginLine 2",
            R"~(field 0 "d")~", "endLine 2", "endDocument"})},
    {"WhitespaceAroundQuotesSanitized", " \"a\" ,\" b \"", sanitize,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", R"~(field 1 "b")~", "endLine 1", "endDocument"})},
    {"QuotedLineBreaksTrimmedWhenSanitized", "\"\na\n\"", sanitize,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", "endLine 1", "endDocument"})},
    {"QuoteInsideUnquotedField", "x\nab\"c\nd", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "x")~", "endLine 1", "beginLine 2", R"~(field 0 "ab")~",
            "endLine 2", quoteError})},
    {"CharacterAfterClosingQuote", "\"a\"b", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "\"a\"")~", "endLine 1",
            R"~(error 1 "Unexpected delimiter. Expected ',' (0x2C), but got 'b' (0x62)")~"})},
    {"UnterminatedQuotedField", "a\nb,\"c,\nd", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", "endLine 1", "beginLine 2", R"~(field 0 "b")~",
            "endLine 2",
            R"~(error 2 "Unterminated quoted field. The field that begins on line 2 has no closing double quote before the end of the input")~"})},
    {"BackslashIsContentWithoutEscapes", "a\\,b", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a\\")~", R"~(field 1 "b")~", "endLine 1", "endDocument"})},
    {"EscapedDelimiterRaw", "a\\,b", escapes,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a\\,b")~", "endLine 1", "endDocument"})},
    {"EscapedDelimiterSanitized", "a\\,b", escapes | sanitize,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a,b")~", "endLine 1", "endDocument"})},
    {"EscapedQuoteInsideQuotes", "\"a\\\"b\",c", escapes | sanitize,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a\"b")~", R"~(field 1 "c")~", "endLine 1", "endDocument"})},
    {"TrailingBackslashAtEndSanitized", "ab\\", escapes | sanitize,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "ab")~", "endLine 1", "endDocument"})},
    {"TrailingBackslashAtEndRaw", "ab\\", escapes,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "ab\\")~", "endLine 1", "endDocument"})},
    {"HashIsContentWithoutComments", "#x,y", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "#x")~", R"~(field 1 "y")~", "endLine 1", "endDocument"})},
    {"CommentLinesAndBlankLinesBeforeALine", "#x,y\n\n#z\na", comments,
     logOf({"beginDocument", R"~(comment "x,y")~", R"~(comment "z")~", "beginLine 1", R"~(field 0 "a")~", "endLine 1",
            "endDocument"})},
    {"CommentOnlyAtTheVeryStartOfALine", " #x,#y", comments,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 " #x")~", R"~(field 1 "#y")~", "endLine 1", "endDocument"})},
    {"CommentAtEndOfInput", "a\n#c", comments,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", "endLine 1", R"~(comment "c")~", "beginLine 2",
            R"~(field 0 "")~", "endLine 2", "endDocument"})},
    {"EscapedLineBreakStaysInComment", "#a\\\nb\nc", comments | escapes,
     logOf({"beginDocument", R"~(comment "a\\\nb")~", "beginLine 1", R"~(field 0 "c")~", "endLine 1", "endDocument"})},
    {"DoubledQuoteSanitized", "\"x\"\"y\"", sanitize,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "x\"y")~", "endLine 1", "endDocument"})},
    {"TabDelimiterIsNotWhitespace", "a\t\tb", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", R"~(field 1 "")~", R"~(field 2 "b")~", "endLine 1",
            "endDocument"}),
     u'\t'},
    {"NulIsFieldContent", std::string_view("a\0b,c", 5), 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a\u0000b")~", R"~(field 1 "c")~", "endLine 1", "endDocument"})},
    {"NonAsciiAndSurrogatePairs", "é,日本\n😀", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "é")~", R"~(field 1 "日本")~", "endLine 1", "beginLine 2",
            R"~(field 0 "😀")~", "endLine 2", "endDocument"})},
    {"SemicolonDelimiterLeavesCommaAsContent", "a,b;c", 0,
     logOf({"beginDocument", "beginLine 1", R"~(field 0 "a,b")~", R"~(field 1 "c")~", "endLine 1", "endDocument"}),
     u';'},
};

// Every grammar case gives the same events however the stream cuts its bytes, with the encoding
// sniffed or given (then nothing is read ahead before the first character is asked for).
TEST(CHCSVParserTest, GrammarCasesGiveTheSameEventsAtEveryReadSize)
{
    using namespace plistable;
    for (const GrammarCase& c : grammarCases) {
        for (TextEncoding encoding :
             {TextEncoding{0}, NSUTF8StringEncoding, NSUTF16BigEndianStringEncoding, NSUTF32LittleEndianStringEncoding}) {
            const std::string bytes = *encodeText(test::u(c.input), encoding == 0 ? NSUTF8StringEncoding : encoding);
            for (std::size_t chunk : {whole, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                                      std::size_t{511}, std::size_t{512}}) {
                SCOPED_TRACE(std::string(c.name) + " encoding " + std::to_string(encoding) + " read size "
                             + std::to_string(chunk));
                TextEncoding used = encoding;
                EXPECT_EQ(parseLog(bytes, c.options, chunk, c.delimiter, &used), c.expected);
            }
        }
    }
}

// A long document puts fields across many 512-byte reads and compactions of the look-ahead.
TEST(CHCSVParserTest, LongDocumentGivesTheSameEventsAtEveryReadSize)
{
    std::string input;
    for (int i = 0; i < 400; ++i) {
        // Appended piece by piece: GCC 12 reports a false -Werror=restrict on `"literal" + std::string`.
        input.append("r").append(std::to_string(i)).append(", \"q,\"\"");
        input.append(std::to_string(i * 7)).append("\n日本\" ,é\r\n");
    }
    const std::string reference = parseLog(input, sanitize, whole);
    EXPECT_NE(reference.find(R"~(field 1 "q,\"2793\n日本")~"), std::string::npos);
    for (std::size_t chunk : {1, 2, 3, 7, 511, 512}) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(parseLog(input, sanitize, chunk), reference);
    }
}

struct SniffCase {
    std::string_view name;
    std::string bytes;
    TextEncoding encoding;
    std::string firstLine; // the first field event
    std::uint64_t totalBytesRead;
    bool logsGuess = false;
};

TEST(CHCSVParserTest, SniffsTheEncodingFromMarkOrTrial)
{
    using namespace plistable;
    using plistable::test::bytes;
    const SniffCase cases[] = {
        {"Utf8Mark", bytes({0xEF, 0xBB, 0xBF, 0x61}), NSUTF8StringEncoding, R"~(field 0 "a")~", 4},
        {"Utf16LittleEndianMark", bytes({0xFF, 0xFE, 0x41, 0x00}), NSUTF16LittleEndianStringEncoding,
         R"~(field 0 "A")~", 4},
        {"Utf16BigEndianMark", bytes({0xFE, 0xFF, 0x00, 0x41}), NSUTF16BigEndianStringEncoding, R"~(field 0 "A")~", 4},
        {"Utf16BigEndianMarkOnly", bytes({0xFE, 0xFF}), NSUTF16BigEndianStringEncoding, R"~(field 0 "")~", 2},
        {"Utf32LittleEndianBeatsUtf16", bytes({0xFF, 0xFE, 0, 0, 0x41, 0, 0, 0}), NSUTF32LittleEndianStringEncoding,
         R"~(field 0 "A")~", 8},
        {"Utf32BigEndianMark", bytes({0, 0, 0xFE, 0xFF, 0, 0, 0, 0x41}), NSUTF32BigEndianStringEncoding,
         R"~(field 0 "A")~", 8},
        {"Iso2022KrAnnouncer", bytes({0x1B, 0x24, 0x29, 0x43, 0x61}), NSISO2022KRStringEncoding, R"~(field 0 "a")~", 5},
        {"OneAsciiByteIsUtf8", "a", NSUTF8StringEncoding, R"~(field 0 "a")~", 1},
        {"ValidUtf8WithoutMark", "h\xC3\xA9", NSUTF8StringEncoding, R"~(field 0 "hé")~", 3},
        {"InvalidUtf8IsMacRoman", "a\xE9z", NSMacOSRomanStringEncoding, R"~(field 0 "aÈz")~", 3, true},
        {"AsciiEndingInALeadByteIsMacRoman", "caf\xE9", NSMacOSRomanStringEncoding, R"~(field 0 "cafÈ")~", 4, true},
        {"EmptyStream", "", 0, R"~(field 0 "")~", 0},
    };
    for (const SniffCase& c : cases) {
        SCOPED_TRACE(c.name);
        plistable::test::LogCapture logs;
        TextEncoding used = 0;
        CHCSVParser parser(std::make_unique<MemoryInputStream>(c.bytes), &used, u',');
        EXPECT_EQ(used, c.encoding);
        EXPECT_EQ(parser.streamEncoding(), c.encoding);
        RecordingDelegate recorder;
        parser.setDelegate(&recorder);
        parser.parse();
        ASSERT_GE(recorder.lines().size(), 3u);
        EXPECT_EQ(recorder.lines()[2], c.firstLine);
        EXPECT_EQ(recorder.lines().back(), "endDocument");
        EXPECT_EQ(parser.totalBytesRead(), c.totalBytesRead);
        EXPECT_EQ(logs.lines(), c.logsGuess ? std::vector<std::string>{"unable to determine stream encoding; assuming MacOSRoman"}
                                            : std::vector<std::string>{});
    }
}

// A short UTF-8 text whose last character the end cuts off is read as UTF-8 (not Mac OS Roman) up to
// that character, which is then reported.
TEST(CHCSVParserTest, Utf8CutByTheEndOfTheInputIsUtf8AndTheCutIsReported)
{
    using namespace plistable;
    plistable::test::LogCapture logs;
    TextEncoding used = 0;
    CHCSVParser parser(std::make_unique<MemoryInputStream>("h\xC3\xA9\xE6\x97"), &used, u',');
    EXPECT_EQ(used, NSUTF8StringEncoding);
    RecordingDelegate recorder;
    parser.setDelegate(&recorder);
    parser.parse();
    ASSERT_GE(recorder.lines().size(), 3u);
    EXPECT_EQ(recorder.lines()[2], R"~(field 0 "hé")~");
    EXPECT_EQ(recorder.lines().back(),
              R"~(error 3 "Cannot decode the input as UTF-8: the character at byte offset 3 is cut off by the end of the input")~");
    EXPECT_TRUE(logs.lines().empty());
}

TEST(CHCSVParserTest, GivenEncodingKeepsTheMarkAsText)
{
    TextEncoding used = plistable::NSUTF8StringEncoding;
    EXPECT_EQ(parseLog("\xEF\xBB\xBF" "a", 0, whole, u',', &used),
              logOf({"beginDocument", "beginLine 1", "field 0 \"\xEF\xBB\xBF" "a\"", "endLine 1", "endDocument"}));
    EXPECT_EQ(used, plistable::NSUTF8StringEncoding);
}

// A UTF-8 stream whose first 512 bytes end inside a character is still UTF-8.
TEST(CHCSVParserTest, CharactersSplitBetweenReadsDecodeWhole)
{
    for (std::string_view character : {"é", "日", "😀"}) {
        for (std::size_t before : {510, 511, 1022, 1023}) {
            SCOPED_TRACE(std::string(character) + " after " + std::to_string(before));
            const std::string input = std::string(before, 'a') + std::string(character) + ",b";
            plistable::test::LogCapture logs;
            EXPECT_EQ(parseLog(input), logOf({"beginDocument", "beginLine 1",
                                              "field 0 \"" + std::string(before, 'a') + std::string(character) + "\"",
                                              R"~(field 1 "b")~", "endLine 1", "endDocument"}));
            EXPECT_TRUE(logs.lines().empty());
        }
    }
}

// A sample that ends in the start of a sequence the next bytes do not complete is not UTF-8.
TEST(CHCSVParserTest, ASampleCutInsideWhatIsNoUtf8CharacterIsMacRoman)
{
    for (std::string_view after : {"z", "", "\xA9"}) {
        for (std::size_t chunk : {whole, std::size_t{1}, std::size_t{512}}) {
            SCOPED_TRACE(std::string("after: ") + std::string(after) + ", chunk " + std::to_string(chunk));
            // Latin-1 é at offset 511, then a letter, the end, or one continuation byte and the end.
            const std::string input = std::string(511, 'a') + "\xE9" + std::string(after);
            TextEncoding used = 0;
            plistable::test::LogCapture logs;
            const std::string log = parseLog(input, 0, chunk, u',', &used);
            EXPECT_EQ(used, plistable::NSMacOSRomanStringEncoding);
            EXPECT_EQ(log.find("error"), std::string::npos) << log;
        }
    }
}

TEST(CHCSVParserTest, ReadsAtMost512BytesAtATime)
{
    auto stream = std::make_unique<ChunkedInputStream>(std::string(5000, 'x'), whole);
    ChunkedInputStream& seen = *stream;
    CHCSVParser parser(std::move(stream), nullptr, u',');
    parser.parse();
    EXPECT_EQ(seen.largestRequest, 512u);
    EXPECT_EQ(parser.totalBytesRead(), 5000u);
}

struct FailureCase {
    std::string_view name;
    std::string bytes;
    TextEncoding encoding; // 0: sniffed
    std::size_t failAfter;
    std::string expected;
};

TEST(CHCSVParserTest, InputFailuresEndTheLineThenReportTheError)
{
    using namespace plistable;
    const std::string many(600, 'a');
    const FailureCase cases[] = {
        {"InvalidByteAfterFirstRead", many + "\xE9,b\nc", 0, std::string::npos,
         logOf({"beginDocument", "beginLine 1", "field 0 \"" + many + "\"", "endLine 1",
                R"~(error 3 "Cannot decode the input as UTF-8: invalid bytes at byte offset 600")~"})},
        {"CutOffUtf8AtEnd", "ab\n\xE6\x97", NSUTF8StringEncoding, std::string::npos,
         logOf({"beginDocument", "beginLine 1", R"~(field 0 "ab")~", "endLine 1", "beginLine 2", R"~(field 0 "")~",
                "endLine 2",
                R"~(error 3 "Cannot decode the input as UTF-8: the character at byte offset 3 is cut off by the end of the input")~"})},
        {"OddByteInUtf16", std::string("a\0,\0b", 5), NSUTF16LittleEndianStringEncoding, std::string::npos,
         logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", R"~(field 1 "")~", "endLine 1",
                R"~(error 3 "Cannot decode the input as UTF-16LE: the character at byte offset 4 is cut off by the end of the input")~"})},
        {"InvalidUtf32", plistable::test::bytes({0x41, 0, 0, 0, 0, 0, 0x11, 0}), NSUTF32LittleEndianStringEncoding, std::string::npos,
         logOf({"beginDocument", "beginLine 1", R"~(field 0 "A")~", "endLine 1",
                R"~(error 3 "Cannot decode the input as UTF-32LE: invalid bytes at byte offset 4")~"})},
        {"QuotedFieldCutShortByBadBytesReportsTheBytes", "\"a\xFF\"", NSUTF8StringEncoding, std::string::npos,
         logOf({"beginDocument", "beginLine 1", "endLine 1",
                R"~(error 3 "Cannot decode the input as UTF-8: invalid bytes at byte offset 2")~"})},
        {"ReadFailure", many + ",b", 0, 600,
         logOf({"beginDocument", "beginLine 1", "field 0 \"" + many + "\"", "endLine 1",
                R"~(error 4 "cannot read chunks: Input/output error")~"})},
        {"UnsupportedEncoding", "a", 12345, std::string::npos,
         logOf({"beginDocument", "beginLine 1", R"~(field 0 "")~", "endLine 1",
                R"~(error 3 "Cannot decode the input: encoding 12345 is not supported")~"})},
    };
    for (const FailureCase& c : cases) {
        for (std::size_t chunk : {whole, std::size_t{1}, std::size_t{7}}) {
            SCOPED_TRACE(std::string(c.name) + " read size " + std::to_string(chunk));
            TextEncoding used = c.encoding;
            CHCSVParser parser(std::make_unique<ChunkedInputStream>(c.bytes, chunk, c.failAfter), &used, u',');
            RecordingDelegate recorder;
            parser.setDelegate(&recorder);
            parser.parse();
            EXPECT_EQ(recorder.log(), c.expected);
        }
    }
}

TEST(CHCSVParserTest, MissingFileReportsTheSystemReasonWithoutLines)
{
    plistable::test::TempDir dir;
    const std::string path = dir.file("data.csv");
    CHCSVParser parser(path);
    RecordingDelegate recorder;
    parser.setDelegate(&recorder);
    parser.parse();
    EXPECT_EQ(recorder.log(),
              logOf({"beginDocument", "error 4 \"cannot read " + path + ": No such file or directory\""}));
    ASSERT_TRUE(parser.error());
    EXPECT_EQ(parser.error()->domain, "org.plistable.csv");
}

TEST(CHCSVParserTest, ErrorCarriesLineAndPosition)
{
    CHCSVParser parser(plistable::test::u("a\nbc,\"d\"e"));
    parser.parse();
    ASSERT_TRUE(parser.error());
    EXPECT_EQ(parser.error()->code, 1);
    EXPECT_EQ(parser.error()->line, 2u);
    EXPECT_EQ(parser.error()->offset, 8u);
}

struct CancelCase {
    std::string_view name;
    std::string_view input;
    std::string cancelAt; // the event line after which the delegate cancels
    std::string expected;
};

TEST(CHCSVParserTest, CancellingStopsEventsAndEndsTheDocument)
{
    const CancelCase cases[] = {
        {"InFirstFieldOfTwo", "a,b\nc", R"~(field 0 "a")~",
         logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", "endDocument"})},
        {"InBeginDocument", "a,b", "beginDocument", logOf({"beginDocument", "endDocument"})},
        {"InEndLine", "a\nb", "endLine 1", logOf({"beginDocument", "beginLine 1", R"~(field 0 "a")~", "endLine 1",
                                                  "endDocument"})},
        {"InComment", "#x\n#y\na", R"~(comment "x")~", logOf({"beginDocument", R"~(comment "x")~", "endDocument"})},
        {"ErrorWhileWindingDownSuppressesBothEnds", "\"a\"b,c", R"~(field 0 "\"a\"")~",
         logOf({"beginDocument", "beginLine 1", R"~(field 0 "\"a\"")~"})},
    };
    for (const CancelCase& c : cases) {
        SCOPED_TRACE(c.name);
        CHCSVParser parser(plistable::test::u(c.input));
        parser.setRecognizesComments(true);
        RecordingDelegate recorder;
        recorder.onEvent = [&](CHCSVParser& p, const std::string& line) {
            if (line == c.cancelAt)
                p.cancelParsing();
        };
        parser.setDelegate(&recorder);
        parser.parse();
        EXPECT_EQ(recorder.log(), c.expected);
    }
}

TEST(CHCSVParserTest, OnlyImplementedOperationsAreSent)
{
    CHCSVParser parser(plistable::test::u("#c\na,b"));
    parser.setRecognizesComments(true);
    RecordingDelegate recorder;
    recorder.operations = RecordingDelegate::ReadField | RecordingDelegate::EndDocument;
    parser.setDelegate(&recorder);
    parser.parse();
    EXPECT_EQ(recorder.log(), logOf({R"~(field 0 "a")~", R"~(field 1 "b")~", "endDocument"}));
}

TEST(CHCSVParserTest, RefusesBadConstructionArgumentsInOrder)
{
    struct Case {
        std::string_view name;
        bool withStream;
        char16_t delimiter;
        std::string_view message;
    };
    const Case cases[] = {
        {"NoStreamIsCheckedFirst", false, u'"', "Invalid parameter not satisfying: stream"},
        {"ZeroDelimiter", true, 0, "Invalid parameter not satisfying: delimiter"},
        {"LineFeed", true, u'\n', "The field delimiter may not be a newline"},
        {"CarriageReturn", true, u'\r', "The field delimiter may not be a newline"},
        {"LineSeparator", true, u'\u2028', "The field delimiter may not be a newline"},
        {"DoubleQuote", true, u'"', "The field delimiter may not be a double quote"},
        {"Octothorpe", true, u'#', "The field delimiter may not be an octothorpe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plistable::test::expectThrowMessage<plistable::AssertionFailure>(
            [&] {
                std::unique_ptr<plistable::InputStream> stream;
                if (c.withStream)
                    stream = std::make_unique<MemoryInputStream>("a");
                CHCSVParser parser(std::move(stream), nullptr, c.delimiter);
            },
            c.message);
    }
}

TEST(CHCSVParserTest, AcceptsEveryDelimiterButTheReservedUnits)
{
    struct Case {
        std::string_view name;
        char16_t delimiter;
        bool accepted;
    };
    const Case cases[] = {
        {"Comma", u',', true},          {"Tab", u'\t', true},           {"Space", u' ', true},
        {"Semicolon", u';', true},      {"Replacement", u'\uFFFD', true}, {"LoneSurrogate", u'\xD800', true},
        {"Zero", 0, false},             {"LineFeed", u'\n', false},     {"VerticalTab", u'\v', false},
        {"FormFeed", u'\f', false},     {"CarriageReturn", u'\r', false}, {"NextLine", u'\x85', false},
        {"LineSeparator", u'\u2028', false}, {"ParagraphSeparator", u'\u2029', false},
        {"DoubleQuote", u'"', false},   {"Octothorpe", u'#', false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CHCSVParser::acceptsDelimiter(c.delimiter), c.accepted);
        if (c.accepted) {
            EXPECT_NO_THROW(CHCSVParser(std::make_unique<MemoryInputStream>("a"), nullptr, c.delimiter));
        } else {
            EXPECT_THROW(CHCSVParser(std::make_unique<MemoryInputStream>("a"), nullptr, c.delimiter),
                         plistable::AssertionFailure);
        }
    }
}

} // namespace
