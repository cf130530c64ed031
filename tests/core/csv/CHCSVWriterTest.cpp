#include "core/csv/CHCSVWriter.hpp"

#include "core/io/FileOutputStream.hpp"
#include "core/io/MemoryOutputStream.hpp"
#include "support/TestSupport.hpp"

#include <algorithm>
#include <functional>
#include <limits>

using namespace plistable;
using plistable::test::hex;
using plistable::test::TempDir;
using plistable::test::u;

namespace {

// Records every write as its own piece, so tests see how the writer cut its output.
class RecordingStream : public OutputStream {
public:
    std::vector<std::string> writes;
    int opens = 0;
    std::size_t mostPerWrite = std::numeric_limits<std::size_t>::max();

    // The pieces in hex, separated by " | ".
    std::string pieces() const
    {
        std::string result;
        for (const std::string& piece : writes)
            result += (result.empty() ? "" : " | ") + hex(piece);
        return result;
    }

protected:
    std::error_code openSink() override
    {
        ++opens;
        return {};
    }
    std::ptrdiff_t writeSink(const char* bytes, std::size_t length) override
    {
        length = std::min(length, mostPerWrite);
        writes.emplace_back(bytes, length);
        return static_cast<std::ptrdiff_t>(length);
    }
    std::error_code closeSink() override { return {}; }
};

std::vector<Text> texts(std::initializer_list<const char*> fields)
{
    std::vector<Text> result;
    for (const char* field : fields)
        result.push_back(u(field));
    return result;
}

TEST(CHCSVWriterTest, WritesTheWorkedExamplePieceByPiece)
{
    auto stream = std::make_shared<RecordingStream>();
    CHCSVWriter writer(stream, NSUTF8StringEncoding, u',');
    writer.writeLineOfFields(texts({"a", "b\"c", "d,e\nf"}));
    EXPECT_EQ(stream->pieces(), "61 | 2C | 22 62 22 22 63 22 | 2C | 22 64 2C 65 0A 66 22 | 0A");
    std::size_t total = 0;
    for (const std::string& piece : stream->writes)
        total += piece.size();
    EXPECT_EQ(total, 17u);

    stream->writes.clear();
    writer.writeComment(u"one\r\ntwo");
    EXPECT_EQ(stream->pieces(), "23 6F 6E 65 0A | 23 0A | 23 74 77 6F 0A");
    EXPECT_FALSE(writer.hasFailed());
}

TEST(CHCSVWriterTest, QuotesExactlyTheFieldsThatNeedIt)
{
    struct Case {
        const char* name;
        Text field;
        const char* expected;
    };
    const Case cases[] = {
        {"carriage return alone", u"\r", "22 0D 22 | 0A"},
        {"line feed", u"\n", "22 0A 22 | 0A"},
        {"vertical tab", u"\v", "22 0B 22 | 0A"},
        {"form feed", u"\f", "22 0C 22 | 0A"},
        {"next line", u"\u0085", "22 C2 85 22 | 0A"},
        {"line separator", u"\u2028", "22 E2 80 A8 22 | 0A"},
        {"paragraph separator", u"\u2029", "22 E2 80 A9 22 | 0A"},
        {"a lone double quote", u"\"", "22 22 22 22 | 0A"},
        {"the delimiter", u",", "22 2C 22 | 0A"},
        {"spaces around", u" a ", "20 61 20 | 0A"},
        {"number sign first", u"#a", "23 61 | 0A"},
        {"backslash", u"a\\b", "61 5C 62 | 0A"},
        {"tab", u"\t", "09 | 0A"},
        {"empty, alone on its line", u"", "22 22 | 0A"},
        {"beyond the basic plane", u"\U0001F600,", "22 F0 9F 98 80 2C 22 | 0A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto stream = std::make_shared<RecordingStream>();
        CHCSVWriter writer(stream, NSUTF8StringEncoding, u',');
        writer.writeLineOfFields(std::vector<Text>{c.field});
        EXPECT_EQ(stream->pieces(), c.expected);
    }
}

// Every character that is or nearly is in the quoting set, at every position of a field long
// enough to be scanned several units (or bytes) at a time, against the rule written out plainly;
// given as UTF-16 and as UTF-8.
TEST(CHCSVWriterTest, QuotesByTheSameRuleAtEveryPosition)
{
    const char16_t probes[] = {0x0A, 0x0B, 0x0C, 0x0D, 0x08, 0x09, 0x0E, 0x0F, u'"', u'#', u',', u';', 0x7F,
                               0x80, 0x85, 0xA7, 0xE9, 0x2027, 0x2028, 0x2029, 0x4E00, 0x0A0A, 0x2222};
    for (const char16_t delimiter : {u',', u';', u'\u00A7'}) {
        for (const char16_t probe : probes) {
            for (std::size_t cell = 0; cell < 3 + 6 + 10 + 36; ++cell) {
                // Fields of 2, 5, 9 and 35 letters with the unit inserted at each place.
                const std::size_t length = cell < 3 ? 2 : cell < 9 ? 5 : cell < 19 ? 9 : 35;
                const std::size_t position = cell - (cell < 3 ? 0 : cell < 9 ? 3 : cell < 19 ? 9 : 19);
                Text field = Text(u"abcdefghijklmnopqrstuvwxyz0123456789").substr(0, length);
                field.insert(position, 1, probe);
                SCOPED_TRACE(testing::Message() << "delimiter " << int(delimiter) << ", unit " << int(probe)
                                                << " at " << position);
                const bool quoted = probe == delimiter || probe == u'"' || (probe >= 0x0A && probe <= 0x0D)
                                    || probe == 0x85 || probe == 0x2028 || probe == 0x2029;
                Text expected = field;
                if (quoted) {
                    if (probe == u'"')
                        expected.insert(position, 1, u'"');
                    expected = u"\"" + expected + u"\"";
                }
                auto stream = std::make_shared<MemoryOutputStream>();
                CHCSVWriter writer(stream, NSUTF8StringEncoding, delimiter);
                writer.writeField(field);
                writer.writeUtf8Field(test::s(field));
                writer.closeStream();
                EXPECT_EQ(stream->bytes(), test::s(expected + delimiter + expected));
            }
        }
    }
}

TEST(CHCSVWriterTest, SequencesOfOperations)
{
    const PlistValue x(u"x"), y(u"y");
    struct Case {
        const char* name;
        char16_t delimiter;
        std::function<void(CHCSVWriter&)> write;
        const char* expected;
    };
    const Case cases[] = {
        {"empty and absent fields write nothing between delimiters", u',',
         [&](CHCSVWriter& w) {
             w.writeLineOfFields(texts({"x", "", "y"}));
             w.writeLineOfFields(std::vector<const PlistValue*>{&x, nullptr, &y});
         },
         "78 | 2C | 2C | 79 | 0A | 78 | 2C | 2C | 79 | 0A"},
        {"semicolon delimiter quotes semicolons, not commas", u';',
         [](CHCSVWriter& w) { w.writeLineOfFields(texts({"a;b", "a,b"})); },
         "22 61 3B 62 22 | 3B | 61 2C 62 | 0A"},
        {"non-text values by their description", u',',
         [](CHCSVWriter& w) {
             w.writeLineOfFields(PlistValue::Array{PlistValue::integer(-42), PlistValue::real(1.5),
                                                   PlistValue::boolean(true),
                                                   PlistValue(PlistValue::Array{u"a"})});
         },
         "2D 34 32 | 2C | 31 2E 35 | 2C | 74 72 75 65 | 2C | 22 5B 22 22 61 22 22 5D 22 | 0A"},
        {"an open line is ended before a whole line", u',',
         [&](CHCSVWriter& w) {
             w.writeField(x);
             w.writeField(&y);
             w.writeLineOfFields(texts({"z"}));
         },
         "78 | 2C | 79 | 0A | 7A | 0A"},
        {"close leaves an open line without line end", u',',
         [](CHCSVWriter& w) {
             w.writeField(u"x");
             w.closeStream();
         },
         "78"},
        {"finishLine twice gives an empty line", u',',
         [](CHCSVWriter& w) {
             w.finishLine();
             w.finishLine();
         },
         "0A | 0A"},
        {"an empty collection is an empty line", u',',
         [](CHCSVWriter& w) { w.writeLineOfFields(PlistValue(PlistValue::Array{})); }, "0A"},
        {"a dictionary gives its keys in order", u',',
         [](CHCSVWriter& w) {
             w.writeLineOfFields(
                 PlistValue(PlistValue::Dictionary{{u"k2", PlistValue(u"v")}, {u"k,1", PlistValue::integer(1)}}));
         },
         "6B 32 | 2C | 22 6B 2C 31 22 | 0A"},
        {"a value that is no collection is the line's one field", u',',
         [](CHCSVWriter& w) { w.writeLineOfFields(PlistValue(u"s")); }, "73 | 0A"},
        {"empty comment, and a comment ending in a line feed", u',',
         [](CHCSVWriter& w) {
             w.writeComment(u"");
             w.writeComment(u"x\n");
         },
         "23 0A | 23 78 0A | 23 0A"},
        {"comments end an open line and are not quoted", u',',
         [](CHCSVWriter& w) {
             w.writeField(u"x");
             w.writeComment(u"a,\"b");
             w.writeField(u"y");
         },
         "78 | 0A | 23 61 2C 22 62 0A | 79"},
        {"an absent comment only ends the open line", u',',
         [](CHCSVWriter& w) {
             w.writeField(u"x");
             w.writeComment(std::nullopt);
             w.writeComment(std::nullopt);
         },
         "78 | 0A"},
        {"every newline character splits a comment", u',',
         [](CHCSVWriter& w) { w.writeComment(u"a\u2028b\vc"); }, "23 61 0A | 23 62 0A | 23 63 0A"},
        {"writes after close are dropped; a second close does nothing", u',',
         [](CHCSVWriter& w) {
             w.writeField(u"x");
             w.closeStream();
             w.closeStream();
             w.writeField(u"y");
             w.finishLine();
             w.writeComment(u"c");
         },
         "78"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto stream = std::make_shared<RecordingStream>();
        {
            CHCSVWriter writer(stream, NSUTF8StringEncoding, c.delimiter);
            c.write(writer);
            EXPECT_FALSE(writer.hasFailed()) << writer.failureReason();
        }
        EXPECT_EQ(stream->pieces(), c.expected);
        EXPECT_EQ(stream->streamStatus(), OutputStream::Status::Closed);
    }
}

TEST(CHCSVWriterTest, UnicodeWithMarkWritesTheMarkOnceAtConstruction)
{
    auto silent = std::make_shared<RecordingStream>();
    { CHCSVWriter writer(silent, NSUnicodeStringEncoding, u','); }
    EXPECT_EQ(silent->pieces(), "FF FE");

    auto stream = std::make_shared<RecordingStream>();
    CHCSVWriter writer(stream, NSUnicodeStringEncoding, u',');
    writer.writeLineOfFields(texts({"a", "\"", ""}));
    writer.writeComment(u"c");
    EXPECT_EQ(stream->pieces(),
              "FF FE | 61 00 | 2C 00 | 22 00 22 00 22 00 22 00 | 2C 00 | 0A 00 | 23 00 63 00 0A 00");
}

TEST(CHCSVWriterTest, OpensOnlyAStreamThatIsNotYetOpen)
{
    auto fresh = std::make_shared<RecordingStream>();
    CHCSVWriter first(fresh, NSUTF8StringEncoding, u',');
    EXPECT_EQ(fresh->opens, 1);
    EXPECT_EQ(fresh->streamStatus(), OutputStream::Status::Open);

    auto open = std::make_shared<RecordingStream>();
    open->open();
    open->write("x", 1);
    CHCSVWriter second(open, NSUTF8StringEncoding, u',');
    second.writeField(u"y");
    EXPECT_EQ(open->opens, 1);
    EXPECT_EQ(open->pieces(), "78 | 79");
}

TEST(CHCSVWriterTest, RemembersTextItCannotEncode)
{
    struct Case {
        const char* name;
        TextEncoding encoding;
        char16_t delimiter;
        std::vector<Text> fields;
        const char* expected;
        const char* reason;
    };
    const Case cases[] = {
        {"lone surrogate in UTF-8 keeps the line's shape", NSUTF8StringEncoding, u',',
         {u"a", Text(1, char16_t(0xD800)), u"b"}, "61 | 2C | 2C | 62 | 0A",
         "line 1: a field cannot be encoded in UTF-8"},
        {"lone surrogate in a quoted field", NSUTF8StringEncoding, u',',
         {Text(u"\"") + char16_t(0xDC00)}, "0A", "line 1: a field cannot be encoded in UTF-8"},
        {"a character outside the repertoire", NSISOLatin1StringEncoding, u',', {u"\u00E9\"", u"\u4E00"},
         "22 E9 22 22 22 | 2C | 0A", "line 1: a field cannot be encoded in ISO 8859-1"},
        {"a delimiter outside the repertoire", NSISOLatin1StringEncoding, u'\u4E00', {u"a", u"b"},
         "61 | 62 | 0A", "line 1: the delimiter cannot be encoded in ISO 8859-1"},
        {"a delimiter outside the repertoire, but never needed", NSISOLatin1StringEncoding, u'\u4E00',
         {u"a"}, "61 | 0A", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto stream = std::make_shared<RecordingStream>();
        CHCSVWriter writer(stream, c.encoding, c.delimiter);
        writer.writeLineOfFields(c.fields);
        EXPECT_EQ(stream->pieces(), c.expected);
        EXPECT_EQ(writer.failureReason(), c.reason);
        EXPECT_EQ(writer.hasFailed(), *c.reason != '\0');
    }
}

TEST(CHCSVWriterTest, BufferedLinesAreOneWriteEach)
{
    const Text longField(40000, u'a');
    const std::string longPiece = hex(std::string(40000, 'a') + "," + std::string(40000, 'a'));
    struct Case {
        const char* name;
        TextEncoding encoding;
        std::function<void(CHCSVWriter&)> steps;
        std::string expected;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"a line, quoting and all", NSUTF8StringEncoding,
         [](CHCSVWriter& w) { w.writeLineOfFields(texts({"a", "b\"c", "d,e\nf"})); },
         "61 2C 22 62 22 22 63 22 2C 22 64 2C 65 0A 66 22 0A", ""},
        {"text after ASCII, plain and quoted", NSUTF8StringEncoding,
         [](CHCSVWriter& w) { w.writeLineOfFields(std::vector<Text>{u"x\u00E9", u"\u00E9,"}); },
         "78 C3 A9 2C 22 C3 A9 2C 22 0A", ""},
        {"a field that cannot be encoded leaves only itself out", NSUTF8StringEncoding,
         [](CHCSVWriter& w) { w.writeLineOfFields(std::vector<Text>{u"ab", Text(1, char16_t(0xD800)), u"\"c"}); },
         "61 62 2C 2C 22 22 22 63 22 0A", "line 1: a field cannot be encoded in UTF-8"},
        {"another encoding", NSUTF16LittleEndianStringEncoding,
         [](CHCSVWriter& w) { w.writeLineOfFields(texts({"a", "\""})); }, "61 00 2C 00 22 00 22 00 22 00 22 00 0A 00",
         ""},
        {"an open line goes out when the stream closes", NSUTF8StringEncoding,
         [](CHCSVWriter& w) {
             w.writeField(u"x");
             w.closeStream();
             w.writeField(u"dropped");
         },
         "78", ""},
        {"turning it off gives the open line to the stream", NSUTF8StringEncoding,
         [](CHCSVWriter& w) {
             w.writeField(u"x");
             w.setBuffersLines(false);
             w.writeField(u"y");
         },
         "78 | 2C | 79", ""},
        {"comment lines stay one write each", NSUTF8StringEncoding, [](CHCSVWriter& w) { w.writeComment(u"a\nb"); },
         "23 61 0A | 23 62 0A", ""},
        {"a long line goes out in pieces", NSUTF8StringEncoding,
         [&](CHCSVWriter& w) { w.writeLineOfFields(std::vector<Text>{longField, longField, u"b"}); },
         longPiece + " | 2C 62 0A", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto stream = std::make_shared<RecordingStream>();
        CHCSVWriter writer(stream, c.encoding, u',');
        writer.setBuffersLines(true);
        c.steps(writer);
        EXPECT_EQ(stream->pieces(), c.expected);
        EXPECT_EQ(writer.failureReason(), c.reason);
    }
}

TEST(CHCSVWriterTest, CompletesShortWrites)
{
    auto stream = std::make_shared<RecordingStream>();
    stream->mostPerWrite = 2;
    CHCSVWriter writer(stream, NSUTF8StringEncoding, u',');
    writer.writeLineOfFields(texts({"abcde"}));
    EXPECT_EQ(stream->pieces(), "61 62 | 63 64 | 65 | 0A");
    EXPECT_FALSE(writer.hasFailed());

    stream->mostPerWrite = 0;
    writer.writeField(u"x");
    EXPECT_EQ(writer.failureReason(), "writing failed: the output took no bytes");
}

TEST(CHCSVWriterTest, WritesAFileFromItsStartAndClosesItOnDestruction)
{
    TempDir dir;
    dir.write("out.csv", "an older and much longer content\n");
    {
        CHCSVWriter writer(dir.file("out.csv"));
        writer.writeLineOfFields(texts({"a", "b c"}));
        writer.writeField(u"d");
    }
    EXPECT_EQ(dir.read("out.csv"), "a,b c\nd");
}

TEST(CHCSVWriterTest, ReportsAFileThatCannotBeOpenedOrWritten)
{
    TempDir dir;
    CHCSVWriter missing(dir.file("no such folder/out.csv"));
    missing.writeLineOfFields(texts({"a"}));
    missing.closeStream();
    EXPECT_EQ(missing.failureReason(), "cannot open the output: No such file or directory");
    EXPECT_EQ(dir.names(), std::vector<std::string>{});

    CHCSVWriter full("/dev/full");
    full.writeLineOfFields(texts({"a"}));
    EXPECT_FALSE(full.hasFailed()); // still in the stream's buffer
    full.closeStream();
    EXPECT_EQ(full.failureReason(), "writing failed: No space left on device");
}

} // namespace

// A line written at once gives the writes that writing its fields one by one gives, for awkward
// fields and every writer setting that changes how a field is written.
TEST(CHCSVWriterTest, LineAtOnceWritesWhatFieldByFieldWrites)
{
    const std::string longPlain(70000, 'a');
    const std::vector<std::vector<std::string>> lines = {
        {},
        {""},
        {"", ""},
        {"a", "", "b"},
        {"plain", "two words", "x\"y", "a,b", "a;b", "a\tb", "cr\r", "lf\n", "\x0B", "\x0C"},
        {"caf\xC3\xA9", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xC2\xA7", "x\xC2\xA7y"},
        {"bad \xC3", "\xFF\xFE", "\xED\xA0\x80", "ok"},
        {"0123456789abcdefghij,", "0123456789abcdefghijklmnopqrstuvwxyz\"0123456789"},
        {longPlain, longPlain, "tail"},
        {"last empty", ""},
    };
    struct Setting {
        const char* name;
        TextEncoding encoding;
        char16_t delimiter;
        bool buffered;
        bool crlf;
    };
    const Setting settings[] = {
        {"comma, buffered", NSUTF8StringEncoding, u',', true, false},
        {"semicolon, buffered, CRLF", NSUTF8StringEncoding, u';', true, true},
        {"tab, buffered", NSUTF8StringEncoding, u'\t', true, false},
        {"non-ASCII delimiter", NSUTF8StringEncoding, u'\u00A7', true, false},
        {"a write per piece", NSUTF8StringEncoding, u',', false, false},
        {"UTF-16 with mark", NSUnicodeStringEncoding, u',', true, false},
        {"Latin-1, which cannot take every field", NSISOLatin1StringEncoding, u',', true, false},
    };
    for (const Setting& setting : settings) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            SCOPED_TRACE(testing::Message() << setting.name << ", line " << i);
            auto open = [&](std::shared_ptr<RecordingStream> stream) {
                auto writer = std::make_unique<CHCSVWriter>(stream, setting.encoding, setting.delimiter);
                writer->setBuffersLines(setting.buffered);
                if (setting.crlf)
                    writer->setLineEnd(u"\r\n");
                return writer;
            };
            auto byField = std::make_shared<RecordingStream>();
            auto atOnce = std::make_shared<RecordingStream>();
            auto told = std::make_shared<RecordingStream>();
            auto fieldWriter = open(byField);
            auto lineWriter = open(atOnce);
            auto toldWriter = open(told); // told which fields are plain, as a scanner tells it
            std::uint64_t plain = 0;
            for (std::size_t k = 0; k < lines[i].size(); ++k) {
                const bool isPlain = std::ranges::none_of(lines[i][k], [&](char c) {
                    return static_cast<unsigned char>(c) >= 0x80 || (c >= 0x0A && c <= 0x0D) || c == '"'
                           || c == toldWriter->plainDelimiter();
                });
                plain |= std::uint64_t{isPlain} << k;
            }
            // Twice, the second line after an open one, so that the count of fields carries over.
            for (const std::string& field : lines[i])
                fieldWriter->writeUtf8Field(field);
            fieldWriter->finishLine();
            fieldWriter->writeUtf8Field("open");
            for (const std::string& field : lines[i])
                fieldWriter->writeUtf8Field(field);
            fieldWriter->finishLine();
            const std::vector<std::string_view> views(lines[i].begin(), lines[i].end());
            lineWriter->writeUtf8Line(views);
            lineWriter->writeUtf8Field("open");
            lineWriter->writeUtf8Line(views);
            toldWriter->writeUtf8Line(views, plain);
            toldWriter->writeUtf8Field("open");
            toldWriter->writeUtf8Line(views, plain);
            fieldWriter->closeStream();
            lineWriter->closeStream();
            toldWriter->closeStream();
            EXPECT_EQ(atOnce->pieces(), byField->pieces());
            EXPECT_EQ(told->pieces(), byField->pieces());
            EXPECT_EQ(lineWriter->failureReason(), fieldWriter->failureReason());
        }
    }
}
