#include "core/csv/WindowedCSVParser.hpp"

#include "core/text/detail/CharacterSets.hpp"

#include <algorithm>
#include <utility>

#include "core/text/detail/LaneCounter.hpp"
#include "core/text/detail/Simd.hpp"

// How this works
// --------------
// A record can end only after a run of line breaks outside quotes. In text the grammar accepts, a
// '"' either opens a field, closes it, or is one of a doubled pair inside it, so a position is
// outside quotes exactly when the quotes before it are even in number. A window therefore ends at
// the last position that follows a line break, does not hold one itself (the run is whole) and has
// an even number of quotes before it; reading there, a CSVParser reads the run, finds the end of
// its text and stops complete, just where the parser over the whole text would read on.
//
// Where the text is malformed, the first fault lies in some window, every window before it is read
// exactly as the whole-text parser reads it, and the fault itself is found by looking no further
// than the fault's own field: the window reports it, with the window's offset and line added.
// A quote that never closes keeps the count odd to the end, so its window holds the rest of the
// text and reports it as the whole-text parser does.

namespace plistable {
namespace {

constexpr char16_t doubleQuote = u'"';

bool isLineStart(char16_t c, char16_t previous)
{
    return detail::isNewline(c) && !(c == u'\n' && previous == u'\r');
}

#if PLISTABLE_SSE2
// Sixteen units narrowed to bytes with unsigned saturation: a unit up to U+00FF keeps its value,
// any other becomes 0x00 or 0xFF, which no unit counted here is.
__m128i narrowed(const char16_t* text)
{
    return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 8)));
}
#endif

// Physical lines that start in text[0, length), as CSVParser counts them: every newline unit, except
// the LF of a CR LF pair. `before` is the unit before text[0] (0 for none). Every window is counted
// once, so this runs over the whole text: sixteen units per test where SSE2 is there.
std::size_t lineStarts(const char16_t* text, std::size_t length, char16_t before)
{
    std::size_t count = 0;
    std::size_t i = 0;
#if PLISTABLE_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i lineFeed = _mm_set1_epi8(0x0A);
    detail::LaneCounter counter;
    __m128i carry = _mm_cvtsi32_si128(before == u'\r' ? 0x0D : 0); // the unit before, narrowed, in byte 0
    for (; length - i >= 16; i += 16) {
        const __m128i bytes = narrowed(text + i);
        const __m128i previous = _mm_or_si128(_mm_slli_si128(bytes, 1), carry);
        carry = _mm_srli_si128(bytes, 15);
        // U+000A..U+000D as (b - 0x0A) <= 3 unsigned, and U+0085; U+2028 and U+2029, which the
        // narrowing loses, are found in the units themselves.
        const __m128i breaks = _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(bytes, lineFeed), _mm_set1_epi8(3)), zero);
        const __m128i nextLine = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0x85)));
        const __m128i mask = _mm_set1_epi16(static_cast<short>(0xFFFE)), lineSeparator = _mm_set1_epi16(0x2028);
        const __m128i separators = _mm_packs_epi16(
            _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i)), mask),
                            lineSeparator),
            _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 8)), mask),
                            lineSeparator));
        const __m128i crlf =
            _mm_and_si128(_mm_cmpeq_epi8(bytes, lineFeed), _mm_cmpeq_epi8(previous, _mm_set1_epi8(0x0D)));
        counter.add(_mm_andnot_si128(crlf, _mm_or_si128(_mm_or_si128(breaks, nextLine), separators)));
    }
    count += counter.total();
#endif
    for (; i < length; ++i)
        count += isLineStart(text[i], i > 0 ? text[i - 1] : before);
    return count;
}

// The number of '"' in text[0, length).
std::size_t quotes(const char16_t* text, std::size_t length)
{
    std::size_t count = 0;
    std::size_t i = 0;
#if PLISTABLE_SSE2
    const __m128i quote = _mm_set1_epi8(static_cast<char>(doubleQuote));
    detail::LaneCounter counter;
    for (; length - i >= 16; i += 16)
        counter.add(_mm_cmpeq_epi8(narrowed(text + i), quote));
    count += counter.total();
#endif
    for (; i < length; ++i)
        count += text[i] == doubleQuote;
    return count;
}

} // namespace

WindowedCSVParser::WindowedCSVParser(TextSupplier supplier, Text separator, bool hasHeader, std::size_t windowUnits,
                                     Text start)
    : _supplier(std::move(supplier)),
      _separator(std::move(separator)),
      _hasHeader(hasHeader),
      _windowUnits(std::max<std::size_t>(windowUnits, 1)),
      _buffer(std::move(start))
{
    // The separator is checked as CSVParser checks it, before any text is pulled.
    CSVParser check(std::u16string_view(), _separator, false);
}

std::size_t WindowedCSVParser::findCut() const
{
    // Walk back from the end, keeping the number of quotes before the position.
    const char16_t* text = _buffer.data();
    std::size_t quotesBefore = quotes(text, _buffer.size());
    // Line breaks at the very start are no record's end: read alone, they would not be the fault
    // that they are before a record read without a header.
    std::size_t content = 0;
    while (content < _buffer.size() && detail::isNewline(text[content]))
        ++content;
    for (std::size_t p = _buffer.size(); p-- > content + 1;) {
        if (text[p] == doubleQuote)
            --quotesBefore;
        if (quotesBefore % 2 == 0 && detail::isNewline(text[p - 1]) && !detail::isNewline(text[p]))
            return p;
    }
    return 0;
}

void WindowedCSVParser::fillWindow()
{
    if (_windowReady)
        return;
    std::size_t wanted = _windowUnits;
    for (;;) {
        while (!_suppliedAll && _buffer.size() < wanted)
            _suppliedAll = !_supplier(_buffer);
        if (_suppliedAll) {
            _windowEnd = _buffer.size();
            break;
        }
        if (const std::size_t cut = findCut()) {
            _windowEnd = cut;
            break;
        }
        wanted = _buffer.size() * 2; // no record ends in the window yet
    }
    _windowReady = true;
}

void WindowedCSVParser::dropWindow()
{
    // A window ends before a unit that is no newline, so no CR LF pair spans two windows.
    _windowLine += lineStarts(_buffer.data(), _windowEnd, 0);
    _bufferStart += _windowEnd;
    _buffer.erase(0, _windowEnd);
    _windowEnd = 0;
    _windowReady = false;
}

std::optional<Row> WindowedCSVParser::firstParsedRow()
{
    fillWindow();
    return CSVParser(std::u16string_view(_buffer.data(), _windowEnd), _separator, false).firstParsedRow();
}

void WindowedCSVParser::parseRowsForReceiver(const RecordReceiver& receiver)
{
    parseWindows(&receiver, nullptr);
}

void WindowedCSVParser::parseFieldsForReceiver(const FieldsReceiver& receiver)
{
    parseWindows(nullptr, &receiver);
}

void WindowedCSVParser::parseWindows(const RecordReceiver* records, const FieldsReceiver* fields)
{
    _stop = CSVParseStop{};
    bool first = true;
    for (;;) {
        fillWindow();
        const std::u16string_view window(_buffer.data(), _windowEnd);
        CSVParser parser(window, _separator, _hasHeader, first ? std::nullopt : _fieldNames);
        parser._headerRead = _hasHeader && !first;
        _parser = &parser;
        _lineOffset = 0;
        _lineAt = _windowLine;
        struct Release {
            CSVParser*& parser;
            ~Release() { parser = nullptr; }
        } release{_parser};
        if (records)
            parser.parseRowsForReceiver(*records);
        else
            parser.parseFieldsForReceiver(*fields);
        if (first)
            _fieldNames = parser.fieldNames();

        const CSVParseStop& stop = parser.lastParseStop();
        _stop.records += stop.records;
        _stop.recordsWithSurplusFields += stop.recordsWithSurplusFields;
        if (_stop.firstSurplusLine == 0 && stop.firstSurplusLine != 0)
            _stop.firstSurplusLine = _windowLine + stop.firstSurplusLine - 1;
        if (stop.stopped) {
            _stop.stopped = true;
            return;
        }
        if (!stop.complete) {
            _stop.complete = false;
            _stop.reason = stop.reason;
            _stop.offset = _bufferStart + stop.offset;
            _stop.line = _windowLine + stop.line - 1;
            return;
        }
        const bool more = !(_suppliedAll && _windowEnd == _buffer.size());
        dropWindow();
        if (!more)
            return;
        first = false;
    }
}

void WindowedCSVParser::stopParsing()
{
    if (_parser)
        _parser->stopParsing();
}

std::size_t WindowedCSVParser::position() const
{
    return _bufferStart + (_parser ? _parser->position() : 0);
}

std::size_t WindowedCSVParser::recordStartOffset() const
{
    return _bufferStart + (_parser ? _parser->recordStartOffset() : 0);
}

std::size_t WindowedCSVParser::recordStartLine()
{
    if (!_parser)
        return _windowLine;
    // Counted on from the last question: records are handed over in text order.
    const std::size_t offset = _parser->recordStartOffset();
    if (offset < _lineOffset) {
        _lineOffset = 0;
        _lineAt = _windowLine;
    }
    const char16_t before = _lineOffset > 0 ? _buffer[_lineOffset - 1] : 0;
    _lineAt += lineStarts(_buffer.data() + _lineOffset, offset - _lineOffset, before);
    _lineOffset = offset;
    return _lineAt;
}

} // namespace plistable
