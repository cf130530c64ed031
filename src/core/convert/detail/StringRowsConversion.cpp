#include "core/convert/detail/StringRowsConversion.hpp"

#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/OpenStepRowsScanner.hpp"
#include "core/csv/detail/CsvSink.hpp"
#include "core/io/AtomicFileOutputStream.hpp"
#include "core/io/detail/BackgroundReader.hpp"
#include "core/io/detail/FileDescriptor.hpp"
#include "core/plist/detail/PlistScalarText.hpp"
#include "core/plist/detail/XmlTextScan.hpp"
#include "core/text/detail/Simd.hpp"
#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unordered_set>

// How this works
//
// The scanner matches the document against a fixed pattern, one root-array element at a time, and
// writes an element's line only once the element was read whole and found to be like the first.
// An element cut off by the end of a piece waits, from its start, for the next piece. Every test
// answers Wait (more bytes could still match), Other (they cannot) or Done. Other is the answer to
// anything unusual: the general reader then reads the list from its start, and it is the one that
// checks the rest of XML and reports positions. So accepting less is always safe; accepting more
// is safe only where the general reader is known to write the same line (see
// StringRowsConversionFuzzer, which compares the two).

namespace plistable::detail {
namespace {

constexpr std::string_view declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
constexpr std::string_view doctype = "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">";
constexpr std::string_view plistStart = "<plist version=\"1.0\">";

const char* skipSpace(const char* p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n'))
        ++p;
    return p;
}

// Whether the `n` bytes at `a` and `b` are equal. The bytes between two values in rows of arrays
// are mostly 16 to 32 long: two overlapping blocks then, rather than a call to memcmp(), which is
// as quick for longer ones.
bool equalBytes(const char* a, const char* b, std::size_t n)
{
#if PLISTABLE_SSE2
    if (n >= 16 && n <= 32) {
        auto load = [](const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
        const __m128i head = _mm_cmpeq_epi8(load(a), load(b));
        const __m128i tail = _mm_cmpeq_epi8(load(a + n - 16), load(b + n - 16));
        return _mm_movemask_epi8(_mm_and_si128(head, tail)) == 0xFFFF;
    }
#endif
    return std::memcmp(a, b, n) == 0;
}

} // namespace

StringRowsScanner::StringRowsScanner(CHCSVWriter& writer, bool header, FileConverter& keyListPass)
    : RowsScanner(writer, header, keyListPass)
{
}

std::size_t StringRowsScanner::elementEndIn(std::string_view bytes) const
{
    // Through the first end tag of an element.
    for (std::size_t at = bytes.find("</"); at != std::string_view::npos; at = bytes.find("</", at + 2)) {
        const std::string_view tag = bytes.substr(at);
        if (tag.starts_with("</dict>") || tag.starts_with("</array>"))
            return at + (tag[2] == 'd' ? 7 : 8);
    }
    return bytes.size();
}

std::size_t StringRowsScanner::run(const char* data, std::size_t size, bool isFinal)
{
    const char* p = data;
    const char* const end = data + size;
    auto stop = [&](Step step) {
        if (step == Step::Other || isFinal)
            _status = Status::Other;
        return static_cast<std::size_t>(p - data);
    };
    if (!_started) {
        const Step step = prolog(p, end);
        if (step != Step::Done) {
            p = data; // all of it again with more bytes
            return stop(step);
        }
        _started = true;
    }
    while (!_arrayEnded) {
        const char* const at = p;
        const Step step = row(p, end, data);
        if (step != Step::Done) {
            p = at;
            return stop(step);
        }
    }
    // </array> was read: white space, </plist>, white space, and the end.
    const char* q = skipSpace(p, end);
    constexpr std::string_view plistEnd = "</plist>";
    if (static_cast<std::size_t>(end - q) < plistEnd.size()) {
        const bool prefix = std::memcmp(q, plistEnd.data(), static_cast<std::size_t>(end - q)) == 0;
        return stop(prefix ? Step::Wait : Step::Other);
    }
    if (std::memcmp(q, plistEnd.data(), plistEnd.size()) != 0 || skipSpace(q + plistEnd.size(), end) != end)
        return stop(Step::Other);
    if (!isFinal)
        return static_cast<std::size_t>(p - data); // more may follow; read it all again
    reportEnd();
    return size;
}

// Whether `literal` is at `p`: Done (p moved past it), Wait (cut off there), or Other.
#define PLISTABLE_EXPECT(literal)                                                                                 \
    do {                                                                                                          \
        constexpr std::string_view expected = literal;                                                            \
        const auto have = static_cast<std::size_t>(end - p);                                                      \
        if (have < expected.size())                                                                               \
            return std::memcmp(p, expected.data(), have) == 0 ? Step::Wait : Step::Other;                         \
        if (std::memcmp(p, expected.data(), expected.size()) != 0)                                                \
            return Step::Other;                                                                                   \
        p += expected.size();                                                                                     \
    } while (false)

StringRowsScanner::Step StringRowsScanner::prolog(const char*& p, const char* end)
{
    PLISTABLE_EXPECT(declaration);
    p = skipSpace(p, end);
    if (end - p < 2)
        return Step::Wait;
    if (p[1] == '!') {
        PLISTABLE_EXPECT(doctype);
        p = skipSpace(p, end);
    }
    PLISTABLE_EXPECT(plistStart);
    p = skipSpace(p, end);
    PLISTABLE_EXPECT("<array>");
    reportStart();
    return Step::Done;
}

bool StringRowsScanner::sameShapeRow(const char*& p, const char* end, const char* data)
{
    const char* q = skipSpace(p, end);
    _rowValues.clear();
    _decoded.clear();
    for (std::size_t i = 0;; ++i) {
        const std::string& stretch = _stretches[i];
        if (static_cast<std::size_t>(end - q) < stretch.size() || !equalBytes(q, stretch.data(), stretch.size()))
            return false;
        q += stretch.size();
        if (i + 1 == _stretches.size())
            break;
        if (text(q, end, data, _rowValues.emplace_back()) != Step::Done)
            return false;
    }
    p = q;
    return true;
}

StringRowsScanner::Step StringRowsScanner::row(const char*& p, const char* end, const char* data)
{
    if (!_stretches.empty() && sameShapeRow(p, end, data)) {
        writeRowValues(data);
        return Step::Done;
    }
    p = skipSpace(p, end);
    if (end - p < 8)
        return Step::Wait;
    const char* const rowStart = p;
    std::vector<std::pair<const char*, const char*>> texts; // the first element's value texts, in place
    if (std::memcmp(p, "</array>", 8) == 0) {
        p += 8;
        _arrayEnded = true;
        return Step::Done;
    }
    const bool dictionary = p[1] == 'd';
    if (dictionary)
        PLISTABLE_EXPECT("<dict>");
    else
        PLISTABLE_EXPECT("<array>");
    const Rows kind = dictionary ? Rows::Dictionaries : Rows::Arrays;
    if (_rows != Rows::Unknown && _rows != kind)
        return Step::Other;
    _rowKeys.clear();
    _rowValues.clear();
    _decoded.clear();
    _firstRowElements.clear();
    for (;;) {
        p = skipSpace(p, end);
        if (end - p < 2)
            return Step::Wait;
        if (p[1] == '/') {
            if (dictionary)
                PLISTABLE_EXPECT("</dict>");
            else
                PLISTABLE_EXPECT("</array>");
            break;
        }
        if (dictionary) {
            PLISTABLE_EXPECT("<key>");
            Field& key = _rowKeys.emplace_back();
            if (const Step step = text(p, end, data, key); step != Step::Done)
                return step;
            PLISTABLE_EXPECT("</key>");
            p = skipSpace(p, end);
        }
        Field& value = _rowValues.emplace_back(Field{0, 0, false});
        if (end - p < 9)
            return Step::Wait;
        if (std::memcmp(p, "<string/>", 9) == 0) {
            p += 9;
            noteElement(u"string");
            continue;
        }
        if (p[1] != 's') {
            if (const Step step = scalar(p, end, data, value); step != Step::Done)
                return step;
            continue;
        }
        PLISTABLE_EXPECT("<string>");
        const char* const textStart = p;
        if (const Step step = text(p, end, data, value); step != Step::Done)
            return step;
        if (_rows == Rows::Unknown)
            texts.emplace_back(textStart, p);
        PLISTABLE_EXPECT("</string>");
        noteElement(u"string");
    }
    if (_rows == Rows::Unknown) {
        // The first element: its keys are the columns, each once.
        if (dictionary) {
            if (_rowKeys.empty())
                return Step::Other;
            std::unordered_set<std::string_view> distinct;
            for (const Field& key : _rowKeys) {
                if (!distinct.insert(view(data, key)).second)
                    return Step::Other;
                _keys.emplace_back(view(data, key));
            }
        }
        _rows = kind;
        std::vector<std::string_view> keys;
        for (const Field& key : _rowKeys)
            keys.push_back(view(data, key));
        reportFirstRow(dictionary, keys, _firstRowElements);
        // When every value was a <string> with text, the bytes around them are what later elements
        // of the same shape repeat.
        if (!texts.empty() && texts.size() == _rowValues.size()) {
            const char* from = rowStart;
            for (const auto& [start, stop] : texts) {
                _stretches.emplace_back(from, start);
                from = stop;
            }
            _stretches.emplace_back(from, p);
        }
    } else if (dictionary) {
        if (_rowKeys.size() != _keys.size())
            return Step::Other;
        for (std::size_t i = 0; i < _keys.size(); ++i)
            if (view(data, _rowKeys[i]) != _keys[i])
                return Step::Other;
    }
    writeRowValues(data);
    return Step::Done;
}

StringRowsScanner::Step StringRowsScanner::scalar(const char*& p, const char* end, const char* data, Field& field)
{
    // The text a value gets in a line is its description, made here as the general reader makes it.
    auto describe = [&](const PlistValue& value) {
        field = Field{_decoded.size(), 0, true};
        appendUtf16AsUtf8(value.description(), _decoded);
        field.size = _decoded.size() - field.at;
    };
    if (p[1] == 't' || p[1] == 'f') {
        const bool yes = p[1] == 't';
        if (yes)
            PLISTABLE_EXPECT("<true/>");
        else
            PLISTABLE_EXPECT("<false/>");
        describe(PlistValue::boolean(yes));
        noteElement(yes ? u"true" : u"false");
        return Step::Done;
    }
    const char kind = p[1] == 'd' && p[2] == 'a' && p[3] == 't' ? 't' : p[1];
    if (kind == 'i')
        PLISTABLE_EXPECT("<integer>");
    else if (kind == 't')
        PLISTABLE_EXPECT("<date>");
    else
        PLISTABLE_EXPECT("<real>"); // and anything else gives up here
    if (const Step step = text(p, end, data, field); step != Step::Done)
        return step;
    if (kind == 'i')
        PLISTABLE_EXPECT("</integer>");
    else if (kind == 't')
        PLISTABLE_EXPECT("</date>");
    else
        PLISTABLE_EXPECT("</real>");
    const std::string_view text = view(data, field);
    const std::optional<PlistValue> value = kind == 'i'   ? parseIntegerText(text)
                                            : kind == 't' ? parseDateText(text)
                                                          : parseRealText(text);
    // Not a value, or a date without a calendar date: the general reader says what happens to it.
    if (!value || value->unrepresentableDates() > 0)
        return Step::Other;
    describe(*value);
    noteElement(kind == 'i' ? u"integer" : kind == 't' ? u"date" : u"real");
    return Step::Done;
}

#undef PLISTABLE_EXPECT

StringRowsScanner::Step StringRowsScanner::text(const char*& p, const char* end, const char* data, Field& field)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    const auto* const e = reinterpret_cast<const unsigned char*>(end);
    const auto* base = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* run = u; // the start of the text not yet copied to _decoded
    // The scan stops also where the CSV writer would look closer (a line feed, a double quote, the
    // delimiter, a character beyond ASCII): a value it never stopped in for those is plain.
    const char delimiter = _writer.plainDelimiter();
    bool plain = true;
    field = Field{static_cast<std::size_t>(u - base), 0, false};
    for (;;) {
        u = skipPlainXmlCsvText(u, e, delimiter);
        if (u == e)
            return Step::Wait;
        const unsigned char c = *u;
        if (c == '<')
            break;
        if (c >= 0x80) {
            const int n = xmlCharacterLength(u, e);
            if (n < 0)
                return Step::Wait;
            if (n == 0)
                return Step::Other;
            u += n;
            plain = false;
            continue;
        }
        if (c == ']') {
            if (e - u < 3)
                return Step::Wait;
            if (u[1] == ']' && u[2] == '>')
                return Step::Other;
        } else if (c != '&' && !plainXmlText[c]) {
            return Step::Other; // a carriage return or a control character
        }
        if (c != '&') {
            // A line feed, a double quote or the delimiter; or a ']' that is none of them.
            plain = plain && c == ']' && c != static_cast<unsigned char>(delimiter);
            ++u;
            continue;
        }
        const auto left = static_cast<std::size_t>(e - u);
        const void* semicolon = std::memchr(u, ';', std::min<std::size_t>(left, 6));
        if (!semicolon)
            return left < 6 ? Step::Wait : Step::Other;
        const std::string_view name(reinterpret_cast<const char*>(u) + 1,
                                    static_cast<std::size_t>(static_cast<const unsigned char*>(semicolon) - u - 1));
        char resolved;
        if (name == "amp")
            resolved = '&';
        else if (name == "lt")
            resolved = '<';
        else if (name == "gt")
            resolved = '>';
        else if (name == "quot")
            resolved = '"';
        else if (name == "apos")
            resolved = '\'';
        else
            return Step::Other; // character references and the rest: the general reader
        appendDecoded(field, run, u);
        _decoded.push_back(resolved);
        plain = plain && resolved != '"' && resolved != delimiter;
        u = static_cast<const unsigned char*>(semicolon) + 1;
        run = u;
    }
    finishField(field, base, run, u, plain);
    p = reinterpret_cast<const char*>(u);
    return Step::Done;
}

std::optional<ConversionReport> convertStraightRows(const std::string& path, const std::string& outputPath,
                                                    bool header, FileConverter& keyListPass,
                                                    const CsvWriteDialect& dialect, ConversionMonitor& progress,
                                                    StraightRows syntaxes)
{
    // Only plain UTF-8 lines into a file, which can be dropped unseen if the list turns out otherwise.
    if (dialect.encodingName || progress.outputStream())
        return std::nullopt;
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;

    // The next pieces are read while this one is scanned.
    BackgroundReader reader(file.get(), 256 * 1024);
    std::string piece;
    ssize_t n = reader.next(piece, progress.cancelFlag());
    if (n < 0 && progress.cancelled())
        return ConversionMonitor::cancelledReport(path);
    if (n <= 0)
        return std::nullopt;
    // The first byte tells the syntax a scanner may take: '<' XML; an old-style list's root array
    // after white space, comments or a byte-order mark; anything else (a binary list) is for the
    // general reader at once.
    const char first = piece[0];
    const bool xml = first == '<' && syntaxes != StraightRows::OpenStep;
    const bool openStep = syntaxes != StraightRows::Xml && std::string_view("( \t\n\r/\xEF").find(first) != std::string_view::npos;
    if (!xml && !openStep)
        return std::nullopt;

    auto stream = std::make_shared<AtomicFileOutputStream>(outputPath, progress.existingOutput());
    std::string unknown;
    std::optional<CsvSink> sink =
        CsvSink::open(stream, {dialect.delimiter, dialect.crlf, dialect.byteOrderMark, &dialect.encodingName}, unknown);
    if (!sink)
        return std::nullopt;
    CHCSVWriter& writer = sink->writer();
    std::unique_ptr<RowsScanner> scanner;
    if (xml)
        scanner = std::make_unique<StringRowsScanner>(writer, header, keyListPass);
    else
        scanner = std::make_unique<OpenStepRowsScanner>(writer, header, keyListPass);
    std::uint64_t bytesRead = 0;
    for (;;) {
        if (n < 0) {
            if (progress.cancelled())
                return ConversionMonitor::cancelledReport(path);
            return std::nullopt;
        }
        bytesRead += static_cast<std::uint64_t>(n);
        const auto status = scanner->feed(std::string_view(piece.data(), static_cast<std::size_t>(n)), n == 0);
        if (status == RowsScanner::Status::Other)
            return std::nullopt; // the stream goes, and its temporary file with it
        if (status == RowsScanner::Status::Finished)
            break;
        if (!progress.advance(bytesRead) || progress.cancelled())
            return ConversionMonitor::cancelledReport(path);
        n = reader.next(piece, progress.cancelFlag());
    }
    if (progress.cancelled())
        return ConversionMonitor::cancelledReport(path);
    progress.finish(progress.total() > 0 ? progress.total() : bytesRead);

    return commitStraightRows(path, outputPath, scanner->lines(), writer, *stream, progress);
}

std::optional<ConversionReport> convertStringRows(const std::string& path, const std::string& outputPath, bool header,
                                                  FileConverter& keyListPass, const CsvWriteDialect& dialect,
                                                  ConversionMonitor& progress)
{
    return convertStraightRows(path, outputPath, header, keyListPass, dialect, progress, StraightRows::Xml);
}

} // namespace plistable::detail
