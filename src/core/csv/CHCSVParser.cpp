#include "core/csv/CHCSVParser.hpp"

#include "core/AssertionFailure.hpp"
#include "core/io/FileInputStream.hpp"
#include "core/io/MemoryInputStream.hpp"
#include "core/csv/detail/CHCSVInput.hpp"
#include "core/text/detail/CharacterSets.hpp"

#include <bit>
#include <cstdio>
#include <cstring>

#include "core/text/detail/Simd.hpp"

namespace plistable {

// How this works
// --------------
// A recursive-descent parser, one function per rule:
//   document      = record { line-break-run record }
//   record        = [comment-line...] field { delimiter field }
//   comment-line  = "#" text line-break-run          (only with recognizesComments, only at the
//                                                      very start of a line)
//   field         = whitespace (quoted | unquoted) whitespace
// The characters come from detail::CHCSVInput, which returns endOfInput (-1) where the text ends,
// so a U+0000 in the text is ordinary field content. A field's raw text is the input layer's text from
// _fieldStart on; the end of each field drops it, so memory holds one field plus look-ahead.
//
// Failures, and the order of their events: the line in progress always ends (parserDidEndLine
// after the fields read so far), then parserDidFailWithError, and no parserDidEndDocument.
//   1  a character other than the delimiter, a line break or the end after a field
//   2  the input ended inside a quoted field: the field is dropped, its line ends
//   3  bytes the encoding cannot decode, or a character cut off at the end: the text ends before
//      them, so the grammar sees them as the end of the input
//   4  the stream could not be opened (then no line events at all) or failed while reading
// A failure of the input (3, 4) explains a quoted field that it cut short, so it wins over 2.
//
// Cancellation is a flag checked where each event would be sent and at the start of a field and of
// a line break run, which then consume nothing, so the parse winds down to parserDidEndDocument.
// A delimiter error recorded while winding down suppresses both final events; a failure of the
// input after cancelling is not reported (the caller asked to stop reading).
//
// If you add an event, also add its bit to CHCSVParserDelegate::Operation and check it with wants().

namespace {

constexpr int endOfInput = detail::CHCSVInput::endOfInput;
constexpr int quote = u'"';
constexpr int backslash = u'\\';
constexpr int octothorpe = u'#';

inline bool isNewline(int c)
{
    return c >= 0 && detail::isNewline(static_cast<char16_t>(c));
}

// Length of the run of ordinary unquoted-field characters at the start of `text`: characters
// that are valid field characters and, with `escapes`, not the backslash. `plain` is the ASCII
// table of those characters.
inline std::size_t unquotedRunLength(std::u16string_view text, const bool* plain, char16_t delimiter,
                                     [[maybe_unused]] bool escapes)
{
    const char16_t* s = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
#if PLISTABLE_SSE2
    // Eight characters at a time, each compared with every character that ends the run: the
    // line breaks U+000A to U+000D, U+0085, U+2028 and U+2029, the double quote, the delimiter
    // and (with escapes) the backslash.
    const __m128i quotes = _mm_set1_epi16(quote);
    const __m128i delimiters = _mm_set1_epi16(static_cast<short>(delimiter));
    const __m128i backslashes = _mm_set1_epi16(escapes ? backslash : quote);
    const __m128i nextLine = _mm_set1_epi16(0x85);
    const __m128i separators = _mm_set1_epi16(0x2028);
    const __m128i notLastBit = _mm_set1_epi16(static_cast<short>(0xFFFE));
    const __m128i lineFeed = _mm_set1_epi16(0x0A);
    const __m128i three = _mm_set1_epi16(3);
    const __m128i zero = _mm_setzero_si128();
    while (i + 8 <= n) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        // U+000A to U+000D: x - 0x0A is below 4, so subtracting 3 with saturation leaves 0.
        const __m128i control = _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(x, lineFeed), three), zero);
        const __m128i unicode = _mm_or_si128(_mm_cmpeq_epi16(x, nextLine),
                                             _mm_cmpeq_epi16(_mm_and_si128(x, notLastBit), separators));
        const __m128i csv = _mm_or_si128(_mm_cmpeq_epi16(x, quotes),
                                         _mm_or_si128(_mm_cmpeq_epi16(x, delimiters), _mm_cmpeq_epi16(x, backslashes)));
        const unsigned bits
            = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(control, unicode), csv)));
        if (bits != 0)
            return i + static_cast<std::size_t>(std::countr_zero(bits)) / 2;
        i += 8;
    }
#endif
    auto ordinary = [&](char16_t c) {
        if (c < 128)
            return plain[c];
        return c != 0x85 && c != 0x2028 && c != 0x2029 && c != delimiter;
    };
    while (i < n && ordinary(s[i]))
        ++i;
    return i;
}

// Length of the run at the start of `text` that holds no double quote and, with `escapes`, no
// backslash: the ordinary content of a quoted field.
inline std::size_t quotedRunLength(std::u16string_view text, bool escapes)
{
    const char16_t* s = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
#if PLISTABLE_SSE2
    const __m128i quotes = _mm_set1_epi16(quote);
    const __m128i backslashes = _mm_set1_epi16(escapes ? backslash : quote);
    while (i + 8 <= n) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const unsigned bits = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(x, quotes), _mm_cmpeq_epi16(x, backslashes))));
        if (bits != 0)
            return i + static_cast<std::size_t>(std::countr_zero(bits)) / 2;
        i += 8;
    }
#endif
    while (i < n && s[i] != quote && !(escapes && s[i] == backslash))
        ++i;
    return i;
}

std::string formatCharacter(char16_t c)
{
    return toUtf8Lossy(std::u16string_view(&c, 1));
}

std::string hexadecimal(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

std::u16string_view trimmed(std::u16string_view text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && detail::isWhitespaceOrNewline(text[begin]))
        ++begin;
    while (end > begin && detail::isWhitespaceOrNewline(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string utf16LittleEndianBytes(const Text& text)
{
    std::string bytes(text.size() * 2, '\0');
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(bytes.data(), text.data(), bytes.size());
    } else {
        for (std::size_t i = 0; i < text.size(); ++i) {
            bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
        }
    }
    return bytes;
}

} // namespace

CHCSVParser::CHCSVParser(std::unique_ptr<InputStream> stream, TextEncoding* usedEncoding, char16_t delimiter)
{
    initialize(std::move(stream), usedEncoding, delimiter);
}

CHCSVParser::CHCSVParser(const std::string& csvFilePath)
{
    TextEncoding encoding = 0;
    initialize(std::make_unique<FileInputStream>(csvFilePath), &encoding, u',');
}

CHCSVParser::CHCSVParser(const Text& csvString)
{
    // UTF-16 is the text's own form: it holds every code unit, lone surrogates included, and
    // decoding it is a copy.
    TextEncoding encoding = NSUTF16LittleEndianStringEncoding;
    initialize(std::make_unique<MemoryInputStream>(utf16LittleEndianBytes(csvString)), &encoding, u',');
}

CHCSVParser::~CHCSVParser() = default;

bool CHCSVParser::acceptsDelimiter(char16_t delimiter)
{
    return delimiter != 0 && !detail::isNewline(delimiter) && delimiter != u'"' && delimiter != u'#';
}

void CHCSVParser::initialize(std::unique_ptr<InputStream> stream, TextEncoding* usedEncoding, char16_t delimiter)
{
    if (!stream)
        failInvalidParameter("stream");
    if (!acceptsDelimiter(delimiter)) {
        if (delimiter == 0)
            failInvalidParameter("delimiter");
        if (detail::isNewline(delimiter))
            failAssertion("The field delimiter may not be a newline");
        if (delimiter == u'"')
            failAssertion("The field delimiter may not be a double quote");
        failAssertion("The field delimiter may not be an octothorpe");
    }

    _input = std::make_unique<detail::CHCSVInput>(std::move(stream));
    _delimiter = delimiter;
    for (int c = 0; c < 128; ++c) {
        _validAscii[c] = !isNewline(c) && c != quote && c != delimiter;
        _plainAscii[c] = _validAscii[c] && c != backslash;
    }

    if (usedEncoding != nullptr && *usedEncoding != 0) {
        _input->setEncoding(*usedEncoding);
    } else {
        const TextEncoding sniffed = _input->sniffEncoding();
        if (usedEncoding != nullptr)
            *usedEncoding = sniffed;
    }
}

void CHCSVParser::setDelegate(CHCSVParserDelegate* delegate)
{
    _delegate = delegate;
    _operations = delegate ? delegate->implementedOperations() : 0;
}

std::uint64_t CHCSVParser::totalBytesRead() const
{
    return _input->totalBytesRead();
}

void CHCSVParser::setTotalBytesRead(std::uint64_t count)
{
    _input->setTotalBytesRead(count);
}

TextEncoding CHCSVParser::streamEncoding() const
{
    return _input->encoding();
}

inline bool CHCSVParser::isValidFieldCharacter(int c) const
{
    if (c < 128)
        return c >= 0 && _validAscii[c];
    return c != 0x85 && c != 0x2028 && c != 0x2029 && c != _delimiter;
}

void CHCSVParser::parse()
{
    setDelegate(_delegate);
    // Sent even when already cancelled.
    if (wants(CHCSVParserDelegate::BeginDocument))
        _delegate->parserDidBeginDocument(*this);
    _currentRecord = 0;
    // A stream that could not be opened has no text, not even an empty line.
    if (!_input->openFailed())
        while (parseRecord()) {
        }
    if (!_error && !_cancelled && _input->error()) {
        _error = _input->error();
        _error->line = _currentRecord;
        if (_error->code != CHCSVErrorCodeUndecodableBytes)
            _error->offset = _input->position();
    }
    if (_error) {
        if (!_cancelled && wants(CHCSVParserDelegate::FailWithError))
            _delegate->parserDidFailWithError(*this, *_error);
    } else if (wants(CHCSVParserDelegate::EndDocument)) {
        _delegate->parserDidEndDocument(*this);
    }
}

bool CHCSVParser::parseRecord()
{
    if (_input->peek() == octothorpe) {
        while (_recognizesComments) {
            parseComment();
            if (_input->peek() != octothorpe)
                break;
        }
    }
    beginRecord();
    while (parseField() && parseDelimiter()) {
    }
    const bool lineBreakFollows = parseNewline();
    endRecord();
    return lineBreakFollows && !_error;
}

bool CHCSVParser::parseComment()
{
    detail::CHCSVInput& in = *_input;
    in.advance(); // the "#"
    if (!_cancelled)
        _fieldStart = in.position();
    const bool escapes = _recognizesBackslashesAsEscapes;
    for (;;) {
        const int c = in.peek();
        if (c == backslash && escapes) {
            // The escaped character belongs to the comment, a line break too.
            in.advance();
            if (in.peek() != endOfInput)
                in.advance();
        } else if (c == endOfInput || isNewline(c)) {
            break;
        } else {
            in.advance();
        }
    }
    endComment();
    return parseNewline();
}

void CHCSVParser::endComment()
{
    if (_cancelled)
        return;
    // The text is made only for a delegate that takes it.
    if (wants(CHCSVParserDelegate::ReadComment))
        _delegate->parserDidReadComment(*this, Text(_input->textFrom(_fieldStart)));
    _input->dropConsumed();
}

bool CHCSVParser::parseNewline()
{
    if (_cancelled)
        return false;
    detail::CHCSVInput& in = *_input;
    if (!isNewline(in.peek()))
        return false;
    do
        in.advance();
    while (isNewline(in.peek()));
    return true;
}

void CHCSVParser::beginRecord()
{
    if (_cancelled)
        return;
    _fieldIndex = 0;
    ++_currentRecord;
    if (wants(CHCSVParserDelegate::BeginLine))
        _delegate->parserDidBeginLine(*this, _currentRecord);
}

void CHCSVParser::endRecord()
{
    if (!_cancelled && wants(CHCSVParserDelegate::EndLine))
        _delegate->parserDidEndLine(*this, _currentRecord);
}

// Inlined into the loop over the fields of a line in parseRecord(): a call per field was a tenth
// of the reading time for short fields.
[[gnu::always_inline]] inline bool CHCSVParser::parseField()
{
    if (_cancelled)
        return false;
    _sanitizedField.clear();
    _fieldStart = _input->position();
    parseFieldWhitespace();
    const bool complete = _input->peek() == quote ? parseEscapedField() : parseUnescapedField();
    if (!complete) {
        // Only the end of the input stops a field early; when the input itself failed, that
        // failure is reported instead (parse() picks it up).
        if (!_input->error())
            recordError(CHCSVErrorCodeUnterminatedQuotedField,
                        "Unterminated quoted field. The field that begins on line " + std::to_string(_currentRecord)
                            + " has no closing double quote before the end of the input");
        return false;
    }
    parseFieldWhitespace();
    endField();
    return true;
}

// The field functions run once or twice per field; inlining them into parseField() saves a tenth
// of the reading time.
[[gnu::always_inline]] inline void CHCSVParser::parseFieldWhitespace()
{
    detail::CHCSVInput& in = *_input;
    for (;;) {
        const int c = in.peek();
        if (c > 0x20 && c < 0xA0) // most characters, and no whitespace among them
            return;
        if (c < 0 || c == _delimiter || !detail::isWhitespace(static_cast<char16_t>(c)))
            return;
        in.advance();
    }
}

bool CHCSVParser::parseEscapedField()
{
    detail::CHCSVInput& in = *_input;
    // No event can run inside a field, so the options cannot change before it ends.
    const bool escapes = _recognizesBackslashesAsEscapes;
    const bool keep = _sanitizesFields;
    in.advance(); // the opening quote
    bool escaped = false;
    for (;;) {
        if (!escaped) {
            // Fast path: a run of ordinary characters already decoded, scanned without loading.
            const std::u16string_view run = in.run();
            const std::size_t i = quotedRunLength(run, escapes);
            if (i != 0) {
                if (keep)
                    _sanitizedField.append(run.data(), i);
                in.skip(i);
            }
        }
        const int c = in.peek();
        if (c == endOfInput)
            break;
        if (escaped) {
            escaped = false;
        } else if (c == backslash && escapes) {
            escaped = true;
            in.advance();
            continue;
        } else if (c == quote) {
            if (in.peekPeek() != quote)
                break; // the closing quote
            in.advance();
        }
        if (keep)
            _sanitizedField.push_back(static_cast<char16_t>(c));
        in.advance();
    }
    if (in.peek() != quote)
        return false;
    in.advance();
    return true;
}

[[gnu::always_inline]] inline bool CHCSVParser::parseUnescapedField()
{
    detail::CHCSVInput& in = *_input;
    const bool escapes = _recognizesBackslashesAsEscapes;
    const bool keep = _sanitizesFields;
    bool escaped = false;
    for (;;) {
        if (!escaped) {
            // Fast path, as in parseEscapedField.
            // With escapes a backslash leaves the run too.
            const std::u16string_view run = in.run();
            const std::size_t i = unquotedRunLength(run, escapes ? _plainAscii : _validAscii, _delimiter, escapes);
            if (i != 0) {
                if (keep)
                    _sanitizedField.append(run.data(), i);
                in.skip(i);
            }
        }
        const int c = in.peek();
        if (c == endOfInput)
            break;
        if (escaped) {
            escaped = false;
        } else if (c == backslash && escapes) {
            escaped = true;
            in.advance();
            continue;
        } else if (!isValidFieldCharacter(c)) {
            break; // a line break, a double quote or the delimiter
        }
        if (keep)
            _sanitizedField.push_back(static_cast<char16_t>(c));
        in.advance();
    }
    return true;
}

// Runs once per field, like parseField().
[[gnu::always_inline]] inline bool CHCSVParser::parseDelimiter()
{
    const int c = _input->peek();
    if (c == _delimiter) [[likely]] {
        _input->advance();
        return true;
    }
    if (c == endOfInput || isNewline(c))
        return false;
    recordUnexpectedCharacter(static_cast<char16_t>(c));
    return false;
}

void CHCSVParser::recordUnexpectedCharacter(char16_t found)
{
    // A character beyond the basic plane is named whole: both halves of its surrogate pair.
    char16_t pair[2] = {found, 0};
    std::u16string_view character(pair, 1);
    unsigned codePoint = found;
    if (found >= 0xD800 && found <= 0xDBFF) {
        const int low = _input->peekPeek();
        if (low >= 0xDC00 && low <= 0xDFFF) {
            pair[1] = static_cast<char16_t>(low);
            character = std::u16string_view(pair, 2);
            codePoint = 0x10000 + ((found - 0xD800u) << 10) + (static_cast<unsigned>(low) - 0xDC00u);
        }
    }
    recordError(CHCSVErrorCodeUnexpectedDelimiter,
                "Unexpected delimiter. Expected '" + formatCharacter(_delimiter) + "' (0x" + hexadecimal(_delimiter)
                    + "), but got '" + toUtf8Lossy(character) + "' (0x" + hexadecimal(codePoint) + ")");
}

[[gnu::always_inline]] inline void CHCSVParser::endField()
{
    if (_cancelled)
        return;
    if (wants(CHCSVParserDelegate::ReadField)) {
        const std::u16string_view text = _sanitizesFields ? trimmed(_sanitizedField) : _input->textFrom(_fieldStart);
        _delegate->parserDidReadField(*this, text, _fieldIndex);
    }
    _input->dropConsumed();
    ++_fieldIndex;
}

void CHCSVParser::recordError(std::int64_t code, std::string message)
{
    _error = CHCSVError{std::string(CHCSVErrorDomain), code, std::move(message), _currentRecord, _input->position()};
}

} // namespace plistable
