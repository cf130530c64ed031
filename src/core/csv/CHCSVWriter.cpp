#include "core/csv/CHCSVWriter.hpp"

#include "core/io/FileOutputStream.hpp"
#include "core/text/detail/Avx2Scans.hpp"
#include "core/text/detail/CharacterSets.hpp"
#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/text/detail/Simd.hpp"

namespace plistable {

// How this works: every piece (field, delimiter, line end, comment line) is encoded on its own and
// handed to the stream in one write, so the stream sees exactly the pieces and nothing is held
// back. For UTF-8, the common case, pieces are encoded straight from UTF-16 into one reused buffer;
// other encodings go through encodeText(), whose output may carry a byte-order mark in front that
// is cut off again (only the mark written by the constructor stays in the stream). If you change
// what counts as a piece, the tests that record the sequence of writes must change with it.

namespace {

// Four UTF-16 code units at a time, each in a 16-bit lane of a 64-bit word.
constexpr std::uint64_t lanes = 0x0001000100010001ULL;
constexpr std::uint64_t laneHighBits = 0x8000800080008000ULL;

// Nonzero exactly when some lane of `word` is zero.
constexpr std::uint64_t zeroLane(std::uint64_t word)
{
    return (word - lanes) & ~word & laneHighBits;
}

// True when the four units of `word` are ASCII and none of them is in the quoting set. The newline
// set's ASCII members are 0A..0D: clearing bit 0 of each lane folds them onto 0A and 0C.
// `delimiterLanes` holds the delimiter in every lane, or FF when it is not ASCII (never matched).
constexpr bool isPlainBlock(std::uint64_t word, std::uint64_t delimiterLanes)
{
    if (word & (0xFF80 * lanes))
        return false;
    const std::uint64_t folded = word & ~lanes;
    return !(zeroLane(folded ^ (0x0A * lanes)) | zeroLane(folded ^ (0x0C * lanes)) | zeroLane(word ^ ('"' * lanes))
             | zeroLane(word ^ delimiterLanes));
}

// The length of the start of `field` that is ASCII holding no line-break character (0A..0D), no
// double quote and no `delimiter` (a byte from 0x80 on when the delimiter is not ASCII).
std::size_t plainAsciiPrefix(std::string_view field, char delimiter)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(field.data());
    const std::size_t n = field.size();
    std::size_t i = 0;
#if PLISTABLE_SSE2
    const __m128i breakStart = _mm_set1_epi8(0x0A);
    const __m128i breakSpan = _mm_set1_epi8(3);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i separator = _mm_set1_epi8(delimiter);
    for (; i + 16 <= n; i += 16) {
#if PLISTABLE_AVX2
        // A field still plain after sixteen bytes goes on 32 bytes a step where the processor has them.
        if (i > 0 && n - i >= 32 && detail::useAvx2()) {
            i = static_cast<std::size_t>(detail::skipPlainCsvAsciiAvx2(bytes + i, bytes + n, delimiter) - bytes);
            if (n - i >= 32)
                return i;
            if (i + 16 > n)
                break;
        }
#endif
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        // (b - 0x0A) saturated down by 3 is zero exactly for 0A..0D; the sign bit marks non-ASCII.
        const __m128i lineBreak =
            _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(b, breakStart), breakSpan), _mm_setzero_si128());
        const __m128i special =
            _mm_or_si128(_mm_or_si128(lineBreak, _mm_cmpeq_epi8(b, quote)), _mm_or_si128(_mm_cmpeq_epi8(b, separator), b));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
        if (mask != 0)
            return i + static_cast<std::size_t>(std::countr_zero(mask));
    }
#endif
    // Eight bytes at a time (most fields are shorter than sixteen), each test true for a block
    // holding none of the bytes, as isPlainBlock() does for four units; the last few bytes in one
    // such test too (a loop whose end varies with every field is mispredicted at every field);
    // byte by byte only from a block that is not plain. Zero bytes that fill a short block are plain.
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highBits = 0x8080808080808080ULL;
    const std::uint64_t separators = static_cast<unsigned char>(delimiter) * ones;
    auto hasZeroByte = [&](std::uint64_t word) { return (word - ones) & ~word & highBits; };
    auto plainWord = [&](std::uint64_t word) {
        const std::uint64_t folded = word & ~ones; // 0A..0D fold onto 0A and 0C
        return !(word & highBits)
               && !(hasZeroByte(folded ^ (0x0A * ones)) | hasZeroByte(folded ^ (0x0C * ones))
                    | hasZeroByte(word ^ ('"' * ones)) | hasZeroByte(word ^ separators));
    };
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        if (!plainWord(word))
            break;
    }
    if (i < n && i + 8 > n) {
        const std::size_t left = n - i;
        std::uint64_t word = 0;
        if (n >= 8) {
            std::memcpy(&word, bytes + n - 8, sizeof word); // overlaps bytes found plain already
        } else if (left >= 4) {
            std::uint32_t low, high; // overlapping when fewer than eight
            std::memcpy(&low, bytes + i, sizeof low);
            std::memcpy(&high, bytes + n - 4, sizeof high);
            word = low | (std::uint64_t{high} << 32);
        } else {
            word = bytes[i] | (std::uint64_t{bytes[i + left / 2]} << 8) | (std::uint64_t{bytes[n - 1]} << 16);
        }
        if (plainWord(word))
            return n;
    }
    const auto separatorByte = static_cast<unsigned char>(delimiter);
    for (; i < n; ++i) {
        const unsigned char c = bytes[i];
        if (c >= 0x80 || (c >= 0x0A && c <= 0x0D) || c == '"' || c == separatorByte)
            break;
    }
    return i;
}

// Copies `field` to `out`; fields are mostly short, and a call to memcpy() costs more than the copy.
void copyShort(char* out, std::string_view field)
{
    const char* in = field.data();
    const std::size_t n = field.size();
    if (n > 16) {
        std::memcpy(out, in, n);
    } else if (n >= 8) { // two overlapping words
        std::uint64_t head, tail;
        std::memcpy(&head, in, 8);
        std::memcpy(&tail, in + n - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + n - 8, &tail, 8);
    } else if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, in, 4);
        std::memcpy(&tail, in + n - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + n - 4, &tail, 4);
    } else if (n > 0) {
        out[0] = in[0];
        out[n / 2] = in[n / 2];
        out[n - 1] = in[n - 1];
    }
}

// Whether well-formed UTF-8 `text` holds a character that makes a field quoted: one of the ASCII
// ones `quoting` marks, U+0085, U+2028 or U+2029 (the other line breaks), as needsQuotes() finds.
bool holdsQuotingCharacter(std::string_view text, const std::array<bool, 0x80>& quoting)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = bytes[i];
        if (c < 0x80 ? quoting[c]
                     : (c == 0xC2 && i + 1 < n && bytes[i + 1] == 0x85)
                           || (c == 0xE2 && i + 2 < n && bytes[i + 1] == 0x80 && (bytes[i + 2] & 0xFE) == 0xA8))
            return true;
    }
    return false;
}

} // namespace

CHCSVWriter::CHCSVWriter(const std::string& path)
    : CHCSVWriter(std::make_shared<FileOutputStream>(path), NSUTF8StringEncoding, u',')
{
}

void CHCSVWriter::setBuffersLines(bool on)
{
    _buffersLines = on;
    if (!on)
        flushOutput();
}

void CHCSVWriter::setLineEnd(std::u16string_view lineEnd)
{
    // As in the constructor: the encoder's own mark is not part of the line end.
    _lineEnd = encodeText(lineEnd, _streamEncoding);
    if (_lineEnd)
        _lineEnd->erase(0, std::min(_bom.size(), _lineEnd->size()));
}

CHCSVWriter::CHCSVWriter(std::shared_ptr<OutputStream> stream, TextEncoding encoding, char16_t delimiter)
    : _stream(std::move(stream)), _streamEncoding(encoding), _utf8(encoding == NSUTF8StringEncoding)
{
    if (!_stream) {
        fail("there is no output stream");
    } else if (_stream->streamStatus() == OutputStream::Status::NotOpen) {
        _stream->open();
        if (const std::error_code failure = _stream->error())
            fail("cannot open the output: " + failure.message());
    }

    // An encoder that puts a mark in front of every result makes "a" shorter than half of "aa" by
    // the mark's length. Unknown encodings encode nothing, which reads as "no mark".
    const std::optional<std::string> one = encodeText(u"a", encoding);
    const std::optional<std::string> two = encodeText(u"aa", encoding);
    const std::size_t oneLength = one ? one->size() : 0;
    const std::size_t twoLength = two ? two->size() : 0;
    if (2 * oneLength > twoLength) {
        _bom = one->substr(0, 2 * oneLength - twoLength);
        writeData(_bom);
    }

    auto encodeFixed = [&](std::u16string_view text) -> std::optional<std::string> {
        std::optional<std::string> bytes = encodeText(text, encoding);
        if (bytes)
            bytes->erase(0, std::min(_bom.size(), bytes->size()));
        return bytes;
    };
    _delimiter = encodeFixed(std::u16string_view(&delimiter, 1));
    _lineEnd = encodeFixed(u"\n");
    flushOutput(); // the mark goes out now, as said

    for (char16_t c = 0x0A; c <= 0x0D; ++c)
        _illegalCharacters.ascii[c] = true;
    _illegalCharacters.ascii['"'] = true;
    if (delimiter < _illegalCharacters.ascii.size())
        _illegalCharacters.ascii[delimiter] = true;
    _illegalCharacters.delimiter = delimiter;
    _delimiterLanes = (delimiter < 0x80 ? delimiter : 0xFF) * lanes;
    if (delimiter < 0x80)
        _delimiterByte = static_cast<char>(delimiter);
}

CHCSVWriter::~CHCSVWriter()
{
    closeStream();
}

bool CHCSVWriter::IllegalCharacters::contains(char16_t c) const
{
    return c < ascii.size() ? ascii[c] : (c == delimiter || detail::isNewline(c));
}

bool CHCSVWriter::needsQuotes(std::u16string_view text) const
{
    for (const char16_t c : text)
        if (_illegalCharacters.contains(c))
            return true;
    return false;
}

void CHCSVWriter::fail(std::string reason)
{
    if (_failureReason.empty())
        _failureReason = std::move(reason);
}

void CHCSVWriter::failEncoding(std::string_view what)
{
    if (!_failureReason.empty())
        return;
    const std::string_view name = encodingName(_streamEncoding);
    fail("line " + std::to_string(_line) + ": " + std::string(what) + " cannot be encoded in "
         + (name.empty() ? "encoding " + std::to_string(_streamEncoding) : std::string(name)));
}

void CHCSVWriter::writeData(const char* bytes, std::size_t length)
{
    if (_stream)
        _output.append(bytes, length);
}

void CHCSVWriter::flushOutput()
{
    if (_stream && !_output.empty()) {
        const std::ptrdiff_t written = _stream->write(_output.data(), _output.size());
        if (written != static_cast<std::ptrdiff_t>(_output.size()))
            writeRemainder(_output.data(), _output.size(), written);
    }
    _output.clear();
    // A line with a huge field leaves a huge buffer: let it go rather than keep it for good.
    if (_output.capacity() > outputKept)
        std::string().swap(_output);
}

void CHCSVWriter::writeRemainder(const char* bytes, std::size_t length, std::ptrdiff_t written)
{
    // One write per piece when the stream takes it all; a short write is completed with more.
    for (;;) {
        if (written <= 0) {
            const std::error_code failure = _stream->error();
            if (failure)
                fail("writing failed: " + failure.message());
            else if (written == 0)
                fail("writing failed: the output took no bytes");
            else
                fail("writing failed: the output is not open");
            return;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
        if (length == 0)
            return;
        written = _stream->write(bytes, length);
    }
}

void CHCSVWriter::writeString(std::u16string_view text, std::string_view what)
{
    if (!_stream || text.empty())
        return;
    if (_utf8) {
        const std::size_t start = _output.size();
        if (!detail::appendUtf16AsUtf8(text, _output)) {
            _output.resize(start);
            return failEncoding(what);
        }
        return endPiece();
    }
    std::optional<std::string> bytes = encodeText(text, _streamEncoding);
    if (!bytes)
        return failEncoding(what);
    const std::size_t mark = std::min(_bom.size(), bytes->size());
    writeData(bytes->data() + mark, bytes->size() - mark);
    endPiece();
}

void CHCSVWriter::writeQuoted(std::u16string_view text)
{
    if (!_stream)
        return;
    if (_utf8) {
        // Encode the runs between double quotes; a quote never splits a surrogate pair, so each
        // run is valid exactly when the whole text is.
        const std::size_t start = _output.size();
        _output.push_back('"');
        for (;;) {
            const std::size_t quote = text.find(u'"');
            if (!detail::appendUtf16AsUtf8(text.substr(0, quote), _output)) {
                _output.resize(start);
                return failEncoding("a field");
            }
            if (quote == std::u16string_view::npos)
                break;
            _output.append("\"\"");
            text.remove_prefix(quote + 1);
        }
        _output.push_back('"');
        return endPiece();
    }
    Text quoted;
    quoted.reserve(text.size() + 2);
    quoted.push_back(u'"');
    for (const char16_t c : text) {
        quoted.push_back(c);
        if (c == u'"')
            quoted.push_back(u'"');
    }
    quoted.push_back(u'"');
    writeString(quoted, "a field");
}

void CHCSVWriter::writeDelimiter()
{
    // A buffered line of many fields goes out in pieces, so that the buffer stays small.
    if (_output.size() >= outputKept)
        flushOutput();
    if (_utf8 && _delimiterByte != '\x80') {
        if (_stream)
            _output.push_back(_delimiterByte);
        endPiece();
    } else if (_delimiter) {
        writeData(*_delimiter);
        endPiece();
    } else if (_stream) {
        failEncoding("the delimiter");
    }
}

bool CHCSVWriter::beginField(bool empty)
{
    if (_currentField > 0)
        writeDelimiter();
    // The field counts even when it produces no bytes, so the line keeps its shape.
    ++_currentField;
    _lastFieldEmpty = empty;
    return _stream != nullptr;
}

void CHCSVWriter::writeField(std::u16string_view field)
{
    if (!beginField(field.empty()))
        return;
    if (_utf8) {
        // Most fields are ASCII that needs no quotes: narrow them in the same pass that looks for
        // quoting characters, and leave everything else to the general path from the first
        // character that is not plain.
        const std::size_t start = _output.size();
        _output.resize(start + field.size());
        char* out = _output.data() + start;
        const char16_t* in = field.data();
        std::size_t plain = 0;
        for (; plain + 4 <= field.size(); plain += 4) {
            std::uint64_t word;
            std::memcpy(&word, in + plain, sizeof word);
            if (!isPlainBlock(word, _delimiterLanes))
                break;
            for (std::size_t k = 0; k < 4; ++k)
                out[plain + k] = static_cast<char>(in[plain + k]);
        }
        for (; plain < field.size(); ++plain) {
            const char16_t c = field[plain];
            if (c >= 0x80 || _illegalCharacters.ascii[c])
                break;
            out[plain] = static_cast<char>(c);
        }
        if (plain == field.size())
            return endPiece();
        if (needsQuotes(field.substr(plain))) {
            _output.resize(start);
            return writeQuoted(field);
        }
        // Keep the plain prefix and encode the rest after it; the prefix ends before the first
        // unit that is not ASCII, so it never splits a surrogate pair.
        _output.resize(start + plain);
        if (!detail::appendUtf16AsUtf8(field.substr(plain), _output)) {
            _output.resize(start);
            return failEncoding("a field");
        }
        return endPiece();
    }
    if (needsQuotes(field))
        writeQuoted(field);
    else
        writeString(field, "a field");
}

void CHCSVWriter::writeUtf8Field(std::string_view field)
{
    const std::size_t plain = _utf8 ? plainAsciiPrefix(field, _delimiterByte) : 0;
    bool quoted = false;
    if (plain < field.size()) {
        // UTF-8 out with an ASCII delimiter: well-formed text is its own bytes, quoted where the
        // writer quotes its UTF-16 form. Other encodings and other text take the general path,
        // through UTF-16.
        const std::string_view rest = field.substr(plain);
        if (!_utf8 || _delimiterByte == '\x80' || !detail::isWellFormedUtf8(rest)) {
            _wideField.clear();
            if (!detail::appendUtf8AsUtf16(field, _wideField))
                _wideField = fromUtf8Lossy(field);
            return writeField(std::u16string_view(_wideField));
        }
        quoted = holdsQuotingCharacter(rest, _illegalCharacters.ascii);
    }
    if (!beginField(field.empty()))
        return;
    if (!quoted) {
        _output.append(field);
        return endPiece();
    }
    // A line break, a double quote or the delimiter: quoted, its quotes doubled.
    _output.push_back('"');
    for (;;) {
        const std::size_t quote = field.find('"');
        _output.append(field.substr(0, quote));
        if (quote == std::string_view::npos)
            break;
        _output.append("\"\"");
        field.remove_prefix(quote + 1);
    }
    _output.push_back('"');
    endPiece();
}

void CHCSVWriter::writeUtf8Line(std::span<const std::string_view> fields, std::uint64_t plainFields)
{
    // Plain fields are appended here only where writeUtf8Field() would append them too, piece by
    // piece into the line's one write: UTF-8 out with an ASCII delimiter, lines kept whole.
    if (!_stream || !_utf8 || !_buffersLines || _delimiterByte == '\x80') {
        for (const std::string_view field : fields)
            writeUtf8Field(field);
        return finishLine();
    }
    // Most lines are plain throughout and short: their bytes are placed with one resize.
    const std::size_t count = fields.size();
    std::size_t bytes = 0;
    bool allPlain = count <= 64;
    for (std::size_t i = 0; allPlain && i < count; ++i) {
        const std::string_view field = fields[i];
        if (!(plainFields >> i & 1)) {
            if (plainAsciiPrefix(field, _delimiterByte) != field.size())
                allPlain = false;
            else
                plainFields |= std::uint64_t{1} << i;
        }
        bytes += field.size();
    }
    const std::size_t start = _output.size();
    if (allPlain && count > 0 && start + bytes + count < outputKept) {
        _output.resize(start + bytes + count - (_currentField == 0 ? 1 : 0));
        char* out = _output.data() + start;
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0 || _currentField > 0)
                *out++ = _delimiterByte;
            copyShort(out, fields[i]);
            out += fields[i].size();
        }
        _currentField += count;
        _lastFieldEmpty = fields.back().empty();
        return finishLine();
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view field = fields[i];
        if (!(i < 64 && (plainFields >> i & 1)) && plainAsciiPrefix(field, _delimiterByte) != field.size()) {
            writeUtf8Field(field);
            continue;
        }
        if (_currentField > 0) {
            if (_output.size() >= outputKept) // as writeDelimiter() cuts a long line
                flushOutput();
            _output.push_back(_delimiterByte);
        }
        ++_currentField;
        _lastFieldEmpty = field.empty();
        _output.append(field);
    }
    finishLine();
}

void CHCSVWriter::writeValue(const PlistValue& field)
{
    if (field.isString())
        writeField(std::u16string_view(field.string()));
    else
        writeField(std::u16string_view(field.description()));
}

void CHCSVWriter::writeField(const PlistValue* field)
{
    if (field)
        writeValue(*field);
    else
        writeField(std::u16string_view());
}

void CHCSVWriter::finishLine()
{
    // A line of one empty field would be an empty line, which readers take as no line at all:
    // that one field is quoted so that it reads back.
    if (_currentField == 1 && _lastFieldEmpty)
        writeQuoted(std::u16string_view());
    if (_lineEnd)
        writeData(*_lineEnd);
    else if (_stream)
        failEncoding("the line end");
    flushOutput();
    _currentField = 0;
    ++_line;
}

void CHCSVWriter::finishLineIfNecessary()
{
    if (_currentField > 0)
        finishLine();
}

void CHCSVWriter::writeLineOfFields(const std::vector<Text>& fields)
{
    finishLineIfNecessary();
    for (const Text& field : fields)
        writeField(std::u16string_view(field));
    finishLine();
}

void CHCSVWriter::writeLineOfFields(const PlistValue::Array& fields)
{
    finishLineIfNecessary();
    for (const PlistValue& field : fields)
        writeValue(field);
    finishLine();
}

void CHCSVWriter::writeLineOfFields(const PlistValue& collection)
{
    if (collection.isArray())
        return writeLineOfFields(collection.array());
    finishLineIfNecessary();
    if (collection.isDictionary()) {
        // Enumerating a dictionary gives its keys, in their order.
        for (const auto& [key, value] : collection.dictionary())
            writeField(std::u16string_view(key));
    } else {
        // Not a collection: written whole rather than lost.
        writeValue(collection);
    }
    finishLine();
}

void CHCSVWriter::writeLineOfFields(const std::vector<const PlistValue*>& fields)
{
    finishLineIfNecessary();
    for (const PlistValue* field : fields)
        writeField(field);
    finishLine();
}

void CHCSVWriter::writeComment(std::optional<std::u16string_view> comment)
{
    finishLineIfNecessary();
    if (!comment)
        return;
    // Every newline character separates pieces on its own; empty pieces are kept.
    const std::u16string_view text = *comment;
    std::size_t start = 0;
    Text line;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !detail::isNewline(text[i]))
            continue;
        const std::u16string_view piece = text.substr(start, i - start);
        line.resize(piece.size() + 2);
        line.front() = u'#';
        std::copy(piece.begin(), piece.end(), line.begin() + 1);
        line.back() = u'\n';
        writeString(line, "a comment");
        flushOutput();
        ++_line;
        start = i + 1;
    }
}

void CHCSVWriter::closeStream()
{
    if (!_stream)
        return;
    flushOutput(); // an open line goes out as it is
    _stream->close();
    if (const std::error_code failure = _stream->error())
        fail("writing failed: " + failure.message());
    _stream.reset();
}

} // namespace plistable
