// Hostile and broken CSV input for the streaming reader: degenerate files, inputs far larger than
// memory should hold, and every encoding's invalid or cut-off sequences. Each must end in a clear
// result (an error event with its position) and never in a crash, a hang or unbounded memory.
#include "core/csv/CHCSVParser.hpp"
#include "core/csv/CSVParser.hpp"
#include "core/text/EncodingDetection.hpp"
#include "core/io/MemoryInputStream.hpp"

#include "support/ChunkedInputStream.hpp"
#include "support/RecordingDelegate.hpp"
#include "support/TestSupport.hpp"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <unistd.h>

using namespace plistable;
using plistable::test::LogCapture;
using plistable::test::RecordingDelegate;
using plistable::test::TempDir;

using plistable::test::sanitized;

namespace {

constexpr std::uint64_t MB = 1 << 20;

// Sizes of the large inputs: the sanitizer build runs about three times slower and keeps freed
// memory aside, so it reads smaller ones.
constexpr std::uint64_t scaled(std::uint64_t bytes)
{
    return sanitized ? bytes / 4 : bytes;
}

// A stream of `head`, then `unit` `repeats` times, then `tail`, made up as it is read: gigabytes
// pass through the reader without ever being held.
class GeneratingInputStream : public InputStream {
public:
    GeneratingInputStream(std::string head, std::string unit, std::uint64_t repeats, std::string tail = "")
        : _head(std::move(head)), _unit(std::move(unit)), _tail(std::move(tail)),
          _size(_head.size() + _unit.size() * repeats + _tail.size())
    {
    }
    void open() override { _open = true; }
    std::ptrdiff_t read(char* buffer, std::size_t maxLength) override
    {
        if (!_open)
            return -1;
        std::size_t count = 0;
        while (count < maxLength && _position < _size) {
            const std::string_view piece = pieceAt(_position);
            const std::size_t n = std::min<std::uint64_t>(maxLength - count, piece.size());
            std::memcpy(buffer + count, piece.data(), n);
            count += n;
            _position += n;
        }
        return static_cast<std::ptrdiff_t>(count);
    }
    bool hasBytesAvailable() const override { return _open && _position < _size; }
    void close() override { _open = false; }
    std::string name() const override { return "generated"; }

private:
    // The bytes from `at` to the end of the piece of the stream it falls in.
    std::string_view pieceAt(std::uint64_t at) const
    {
        if (at < _head.size())
            return std::string_view(_head).substr(at);
        const std::uint64_t bodyEnd = _size - _tail.size();
        if (at >= bodyEnd)
            return std::string_view(_tail).substr(at - bodyEnd);
        return std::string_view(_unit).substr((at - _head.size()) % _unit.size());
    }

    std::string _head, _unit, _tail;
    std::uint64_t _size;
    std::uint64_t _position = 0;
    bool _open = false;
};

// Resident memory of this process, from /proc/self/statm.
std::uint64_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

// Counts events without keeping any, and samples resident memory as it goes.
class CountingDelegate : public CHCSVParserDelegate {
public:
    std::uint64_t lines = 0, fields = 0, longestField = 0;
    std::uint64_t peakResident = 0;
    std::optional<CHCSVError> error;
    bool ended = false;

    unsigned implementedOperations() const override { return ReadField | EndLine | FailWithError | EndDocument; }
    void parserDidReadField(CHCSVParser&, std::u16string_view field, std::int64_t) override
    {
        ++fields;
        longestField = std::max<std::uint64_t>(longestField, field.size());
    }
    void parserDidEndLine(CHCSVParser&, std::uint64_t) override
    {
        if (++lines % 500'000 == 0)
            peakResident = std::max(peakResident, residentBytes());
    }
    void parserDidFailWithError(CHCSVParser&, const CHCSVError& e) override { error = e; }
    void parserDidEndDocument(CHCSVParser&) override { ended = true; }
};

std::string parseLog(std::string bytes, TextEncoding* usedEncoding = nullptr, std::size_t chunk = 1 << 20)
{
    CHCSVParser parser(std::make_unique<test::ChunkedInputStream>(std::move(bytes), chunk), usedEncoding, u',');
    RecordingDelegate recorder;
    parser.setDelegate(&recorder);
    parser.parse();
    return recorder.log();
}

// Reads `lineCount` lines of `line` through the streaming reader and checks that every line and
// field arrived while resident memory grew by less than 64 MB.
void expectBoundedStreaming(std::uint64_t lineCount)
{
    const std::string line = "abc,de,\"f\"\n";
    const std::uint64_t before = residentBytes();
    CHCSVParser parser(std::make_unique<GeneratingInputStream>("", line, lineCount), nullptr, u',');
    CountingDelegate counter;
    parser.setDelegate(&counter);
    parser.parse();
    EXPECT_TRUE(counter.ended);
    EXPECT_FALSE(counter.error);
    EXPECT_EQ(counter.lines, lineCount + 1); // and the empty line after the last line break
    EXPECT_EQ(counter.fields, 3 * lineCount + 1);
    EXPECT_EQ(counter.longestField, 3u);
    EXPECT_EQ(parser.totalBytesRead(), line.size() * lineCount);
    const std::uint64_t peak = std::max(counter.peakResident, residentBytes());
    EXPECT_LT(peak > before ? peak - before : 0, 64 * MB);
}

TEST(CHCSVParserHostileInputTest, DegenerateFilesEndInExactlyOneFinalEvent)
{
    const auto files = test::degenerateFiles();
    // The streaming reader ends every one of them with exactly one final event.
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        for (std::size_t chunk : {std::size_t{1}, std::size_t{512}}) {
            CHCSVParser parser(std::make_unique<test::ChunkedInputStream>(bytes, chunk), nullptr, u',');
            RecordingDelegate recorder;
            parser.setDelegate(&recorder);
            parser.parse();
            const auto& lines = recorder.lines();
            ASSERT_FALSE(lines.empty());
            const bool failed = lines.back().rfind("error ", 0) == 0;
            EXPECT_TRUE(failed || lines.back() == "endDocument") << lines.back();
            EXPECT_EQ(std::count(lines.begin(), lines.end(), "endDocument"), failed ? 0 : 1);
            EXPECT_EQ(failed, parser.error().has_value());
            if (parser.error()) {
                EXPECT_LE(parser.error()->offset, bytes.size());
            }
        }
    }
}

// The default run reads 200 MB (50 MB under the sanitizer); the 2 GB run, about four minutes in the
// debug build, is run by hand with --gtest_also_run_disabled_tests.
TEST(CHCSVParserHostileInputTest, StreamingReaderMemoryStaysBoundedOverLongInputs)
{
    expectBoundedStreaming(scaled(200 * MB) / 11);
}

TEST(CHCSVParserHostileInputTest, DISABLED_StreamingReaderMemoryStaysBoundedOverTwoGigabytes)
{
    expectBoundedStreaming(2048 * MB / 11);
}

TEST(CHCSVParserHostileInputTest, OneHugeFieldArrivesWhole)
{
    const std::uint64_t length = scaled(200 * MB);
    {
        SCOPED_TRACE("streaming reader");
        CHCSVParser parser(std::make_unique<GeneratingInputStream>("a,", "x", length, ",b\n"), nullptr, u',');
        CountingDelegate counter;
        parser.setDelegate(&counter);
        parser.parse();
        EXPECT_TRUE(counter.ended);
        EXPECT_EQ(counter.fields, 4u);
        EXPECT_EQ(counter.longestField, length);
    }
    {
        SCOPED_TRACE("scanner reader");
        Text text = u"a,\"";
        text.append(length, u'x');
        text += u"\",b\n";
        CSVParser parser(text, u",", false);
        std::size_t records = 0;
        parser.parseRowsForReceiver([&](Record&& record) {
            const Row& row = std::get<Row>(record);
            ++records;
            ASSERT_EQ(row.size(), 3u);
            EXPECT_EQ(row[1].size(), length);
            EXPECT_EQ(row[2], u"b");
        });
        EXPECT_EQ(records, 1u);
        EXPECT_TRUE(parser.lastParseStop().complete);
    }
}

TEST(CHCSVParserHostileInputTest, AMillionOneByteFieldsOnOneLine)
{
    constexpr std::uint64_t count = 1'000'000;
    {
        SCOPED_TRACE("streaming reader");
        CHCSVParser parser(std::make_unique<GeneratingInputStream>("x", ",x", count - 1, "\n"), nullptr, u',');
        CountingDelegate counter;
        parser.setDelegate(&counter);
        parser.parse();
        EXPECT_TRUE(counter.ended);
        EXPECT_EQ(counter.fields, count + 1); // and the empty line after the line break
        EXPECT_EQ(counter.lines, 2u);
    }
    {
        SCOPED_TRACE("scanner reader");
        Text text = u"x";
        for (std::uint64_t i = 1; i < count; ++i)
            text += u",x";
        for (bool header : {false, true}) {
            CSVParser parser(text, u",", header);
            const auto rows = parser.arrayOfParsedRows();
            if (header) {
                EXPECT_FALSE(rows); // a header and no record
                ASSERT_TRUE(parser.fieldNames());
                EXPECT_EQ(parser.fieldNames()->size(), count);
            } else {
                ASSERT_TRUE(rows);
                ASSERT_EQ(rows->size(), 1u);
                EXPECT_EQ(std::get<Row>(rows->front()).size(), count);
            }
        }
    }
}

TEST(CHCSVParserHostileInputTest, TenMillionShortLines)
{
    const std::uint64_t count = scaled(10'000'000);
    CHCSVParser parser(std::make_unique<GeneratingInputStream>("", "a\n", count), nullptr, u',');
    CountingDelegate counter;
    parser.setDelegate(&counter);
    parser.parse();
    EXPECT_TRUE(counter.ended);
    EXPECT_EQ(counter.lines, count + 1);
    EXPECT_EQ(counter.fields, count + 1);
}

struct InvalidCase {
    TextEncoding encoding;
    std::string invalid; // bytes the encoding cannot decode, placed after a first line "ab,c\n"
    std::size_t at;      // where they begin, counted from the start of the invalid bytes
    std::size_t slack = 0; // how much later the report may come when reads split the sequence
};

TEST(CHCSVParserHostileInputTest, InvalidSequencesStopReadingAtTheirFirstByte)
{
    const InvalidCase cases[] = {
        {NSUTF8StringEncoding, "\xC3(", 0},
        {NSUTF8StringEncoding, "\xE0\x80\x80", 0}, // overlong
        {NSUTF8StringEncoding, "\xED\xA0\x80", 0}, // a surrogate
        {NSUTF8StringEncoding, "\xF5\x80\x80\x80", 0},
        {NSUTF8StringEncoding, "\xC3\xA9\xFF", 2},
        {NSShiftJISStringEncoding, "\x81 ", 0},
        {NSShiftJISStringEncoding, "\x82\xA0\xB1\xFD", 3}, // a kana, a half-width kana, then no character
        {NSJapaneseEUCStringEncoding, "\xA1 ", 0},
        {NSJapaneseEUCStringEncoding, "\x8E ", 0},
        {NSJapaneseEUCStringEncoding, "\xA4\xA2\x80", 2}, // a kana, then a C1 byte EUC-JP never holds
        {NSJapaneseEUCStringEncoding, "\x8F\xA1 ", 0},
        {NSWindowsCP1253StringEncoding, "\xE1\xD2", 1},
        {NSISO2022JPStringEncoding, "\x80", 0},
        // The decoder of this stateful encoding places an escape sequence split by a read at the
        // byte where the split leaves it, up to two bytes on.
        {NSISO2022JPStringEncoding, "\x1B(Z", 0, 2},
        {NSUTF32LittleEndianStringEncoding, std::string("\x00\x00\x11\x00", 4), 0},
        {NSUTF32BigEndianStringEncoding, std::string("\x00\x00\xD8\x00", 4), 0},
    };
    for (const InvalidCase& c : cases) {
        SCOPED_TRACE(std::string(encodingName(c.encoding)) + " " + test::hex(c.invalid));
        const std::string first = *encodeText(u"ab,c\n", c.encoding);
        const std::string input = first + c.invalid + *encodeText(u",x\n", c.encoding);
        EXPECT_FALSE(decodeText(input, c.encoding));
        for (std::size_t chunk : {std::size_t{512}, std::size_t{3}, std::size_t{1}}) {
            SCOPED_TRACE(chunk);
            TextEncoding used = c.encoding;
            CHCSVParser parser(std::make_unique<test::ChunkedInputStream>(input, chunk), &used, u',');
            RecordingDelegate recorder;
            parser.setDelegate(&recorder);
            parser.parse();
            const std::string log = recorder.log();
            EXPECT_EQ(log.substr(0, log.find("beginLine 2")),
                      "beginDocument\nbeginLine 1\nfield 0 \"ab\"\nfield 1 \"c\"\nendLine 1\n");
            ASSERT_TRUE(parser.error());
            EXPECT_EQ(parser.error()->code, CHCSVErrorCodeUndecodableBytes);
            EXPECT_EQ(parser.error()->line, 2u);
            const std::size_t expected = first.size() + c.at;
            EXPECT_GE(parser.error()->offset, expected);
            EXPECT_LE(parser.error()->offset, expected + (chunk < 512 ? c.slack : 0));
            EXPECT_EQ(parser.error()->description, "Cannot decode the input as " + std::string(encodingName(c.encoding))
                                                       + ": invalid bytes at byte offset "
                                                       + std::to_string(parser.error()->offset));
        }
    }
}

// Every single byte and a spread of byte pairs: the streaming reader refuses exactly what decoding
// the whole text refuses, in every encoding it decodes (UTF-16 without a mark aside: the reader
// passes its code units through as they are, lone surrogates included).
TEST(CHCSVParserHostileInputTest, StreamingReaderRefusesWhatWholeDecodingRefuses)
{
    const TextEncoding encodings[] = {
        NSUTF8StringEncoding,          NSJapaneseEUCStringEncoding,   NSShiftJISStringEncoding,
        NSISOLatin1StringEncoding,     NSMacOSRomanStringEncoding,    NSWindowsCP1250StringEncoding,
        NSWindowsCP1251StringEncoding, NSWindowsCP1252StringEncoding, NSWindowsCP1253StringEncoding,
        NSWindowsCP1254StringEncoding, NSISO2022JPStringEncoding,     NSUnicodeStringEncoding,
        NSUTF32BigEndianStringEncoding, NSUTF32LittleEndianStringEncoding, NSISO2022KRStringEncoding,
    };
    const int trails[] = {0x00, 0x20, 0x40, 0x7E, 0x7F, 0x80, 0x8E, 0x9F,
                          0xA0, 0xA1, 0xBF, 0xC0, 0xDF, 0xE0, 0xFE, 0xFF};
    std::vector<std::string> inputs;
    for (int a = 0; a < 256; ++a) {
        inputs.emplace_back(1, static_cast<char>(a));
        if (a >= 0x80)
            for (int b : trails)
                inputs.push_back({static_cast<char>(a), static_cast<char>(b)});
    }
    LogCapture logs;
    for (TextEncoding encoding : encodings) {
        SCOPED_TRACE(encodingName(encoding));
        for (const std::string& bytes : inputs) {
            TextEncoding used = encoding;
            CHCSVParser parser(std::make_unique<MemoryInputStream>(bytes), &used, u',');
            parser.parse();
            const bool refused = parser.error() && parser.error()->code == CHCSVErrorCodeUndecodableBytes;
            EXPECT_EQ(refused, !decodeText(bytes, encoding).has_value()) << test::hex(bytes);
        }
    }
}

struct CutCase {
    TextEncoding encoding;
    Text character;         // a character of several bytes in the encoding
    std::size_t codeUnit = 0; // bytes of a unit the reader takes on its own; 0: the whole character
};

const CutCase cutCases[] = {
    {NSUTF8StringEncoding, u"é"},
    {NSUTF8StringEncoding, u"日"},
    {NSUTF8StringEncoding, u"😀"},
    {NSShiftJISStringEncoding, u"日"},
    {NSJapaneseEUCStringEncoding, u"日"},
    {NSJapaneseEUCStringEncoding, u"丂"}, // three bytes: 0x8F and two more
    // UTF-16 without a mark is read unit by unit, lone surrogates included.
    {NSUTF16LittleEndianStringEncoding, u"😀", 2},
    {NSUTF16BigEndianStringEncoding, u"日", 2},
    {NSUTF32BigEndianStringEncoding, u"😀"},
    {NSWindowsCP1251StringEncoding, u"Ж"}, // a single byte, for contrast
};

// Characters cut by the 512-byte reads at every place decode whole, whatever the encoding.
TEST(CHCSVParserHostileInputTest, CharactersCutByTheReadsDecodeWhole)
{
    for (const CutCase& c : cutCases) {
        const std::string unit = *encodeText(c.character, c.encoding);
        const std::string ascii = *encodeText(u"a", c.encoding);
        for (std::size_t shift = 0; shift < unit.size(); ++shift) {
            SCOPED_TRACE(std::string(encodingName(c.encoding)) + " " + test::s(c.character) + " shifted by "
                         + std::to_string(shift));
            Text text(shift / ascii.size(), u'a');
            std::string bytes = *encodeText(text, c.encoding);
            if (bytes.size() != shift)
                continue; // the shift cannot be made of whole characters of this encoding
            while (bytes.size() < 1600) {
                bytes += unit;
                text += c.character;
            }
            for (std::size_t chunk : {std::size_t{512}, std::size_t{511}, std::size_t{1}}) {
                SCOPED_TRACE(chunk);
                TextEncoding used = c.encoding;
                EXPECT_EQ(parseLog(bytes, &used, chunk),
                          "beginDocument\nbeginLine 1\nfield 0 " + RecordingDelegate::quoted(text)
                              + "\nendLine 1\nendDocument\n");
            }
        }
    }
}

// A character (or UTF-16 code unit) cut off by the end of the input is reported at its first byte,
// wherever the reads split it.
TEST(CHCSVParserHostileInputTest, ACharacterCutByTheEndIsReportedAtItsFirstByte)
{
    for (const CutCase& c : cutCases) {
        const std::string unit = *encodeText(c.character, c.encoding);
        const std::string lead = *encodeText(Text(250, u'a'), c.encoding);
        for (std::size_t kept = 1; kept < unit.size(); ++kept) {
            SCOPED_TRACE(std::string(encodingName(c.encoding)) + " " + test::s(c.character) + " keeping "
                         + std::to_string(kept));
            const std::string bytes = lead + unit.substr(0, kept);
            const std::size_t cutAt = lead.size() + (c.codeUnit == 0 ? 0 : kept / c.codeUnit * c.codeUnit);
            for (std::size_t chunk : {std::size_t{512}, std::size_t{1}}) {
                TextEncoding used = c.encoding;
                const std::string log = parseLog(bytes, &used, chunk);
                if (c.codeUnit != 0 && kept % c.codeUnit == 0) { // whole units: nothing is cut off
                    EXPECT_TRUE(log.ends_with("endDocument\n")) << log;
                    continue;
                }
                EXPECT_NE(log.find("the character at byte offset " + std::to_string(cutAt)
                                   + " is cut off by the end of the input"),
                          std::string::npos)
                    << log;
            }
        }
    }
}

TEST(CHCSVParserHostileInputTest, AByteOrderMarkAloneIsAnEmptyText)
{
    const std::pair<std::string, TextEncoding> marks[] = {
        {"\xEF\xBB\xBF", NSUTF8StringEncoding},
        {"\xFF\xFE", NSUTF16LittleEndianStringEncoding},
        {"\xFE\xFF", NSUTF16BigEndianStringEncoding},
        {std::string("\xFF\xFE\x00\x00", 4), NSUTF32LittleEndianStringEncoding},
        {std::string("\x00\x00\xFE\xFF", 4), NSUTF32BigEndianStringEncoding},
    };
    for (const auto& [mark, encoding] : marks) {
        SCOPED_TRACE(encodingName(encoding));
        TextEncoding used = 0;
        EXPECT_EQ(parseLog(mark, &used, 1), "beginDocument\nbeginLine 1\nfield 0 \"\"\nendLine 1\nendDocument\n");
        EXPECT_EQ(used, encoding);
    }
}

} // namespace
