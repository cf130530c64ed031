#include "core/csv/detail/Utf8CSVReader.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

#include "core/text/detail/Avx2Scans.hpp"
#include "core/text/detail/LaneCounter.hpp"
#include "core/text/detail/Simd.hpp"

// How this works
// --------------
// CSVParser's grammar looks at a unit only to ask whether it is '"', the separator or a line break
// (U+000A..U+000D, U+0085, U+2028, U+2029). With an ASCII separator and none of the three line
// breaks beyond ASCII in the text, every unit it asks about is an ASCII character, which is one
// byte in UTF-8 and one unit in UTF-16, and every other character is ordinary text in both forms.
// Each rule of CSVParser below therefore takes the same path over the bytes as over the units, and
// field views span the same characters. Positions are bytes here: a stop's offset is turned into
// UTF-16 units (every byte that is no continuation byte starts a unit, a four-byte character two).
//
// A separator is matched ignoring case; for an ASCII character other than a letter no other unit
// folds to it, so the exact byte is the match. Windows are cut as WindowedCSVParser cuts them.

namespace plistable::detail {
namespace {

constexpr char doubleQuote = '"';
constexpr std::size_t noOffset = static_cast<std::size_t>(-1);

constexpr bool isBreak(char c) noexcept
{
    return c >= 0x0A && c <= 0x0D;
}

#if PLISTABLE_SSE2
inline __m128i load(const char* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// 0xFF in each lane holding U+000A..U+000D.
inline __m128i breakLanes(__m128i bytes)
{
    return _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(bytes, _mm_set1_epi8(0x0A)), _mm_set1_epi8(3)),
                          _mm_setzero_si128());
}
#endif

// The number of '"' in text[0, length).
std::size_t quotes(const char* text, std::size_t length)
{
    std::size_t count = 0;
    std::size_t i = 0;
#if PLISTABLE_AVX2
    if (useAvx2()) {
        count = countByteAvx2(text, length / 32, doubleQuote);
        i = length / 32 * 32;
    }
#endif
#if PLISTABLE_SSE2
    LaneCounter counter;
    for (; length - i >= 16; i += 16)
        counter.add(_mm_cmpeq_epi8(load(text + i), _mm_set1_epi8(doubleQuote)));
    count += counter.total();
#endif
    for (; i < length; ++i)
        count += text[i] == doubleQuote;
    return count;
}

// Lines that start in text[0, length) (every line break but the LF of a CR LF pair; the byte
// before text[0] is no CR) and the UTF-16 units of those bytes, in one pass.
void countLinesAndUnits(const char* text, std::size_t length, std::size_t& lines, std::size_t& units)
{
    std::size_t i = 0;
    std::size_t lineCount = 0;
    std::size_t continuations = 0;
    std::size_t longLeads = 0;
    char before = 0;
#if PLISTABLE_AVX2
    if (useAvx2()) {
        const CsvByteCounts counts = countCsvBytesAvx2(text, length / 32);
        lineCount = counts.lines;
        continuations = counts.continuations;
        longLeads = counts.longLeads;
        i = length / 32 * 32;
    }
#endif
#if PLISTABLE_SSE2
    LaneCounter lineCounter, continuationCounter, longLeadCounter;
    // The byte before the next block, in the lane the shift fills from.
    __m128i carry = i > 0 ? _mm_cvtsi32_si128(static_cast<unsigned char>(text[i - 1])) : _mm_setzero_si128();
    for (; length - i >= 16; i += 16) {
        const __m128i bytes = load(text + i);
        const __m128i previous = _mm_or_si128(_mm_slli_si128(bytes, 1), carry);
        carry = _mm_srli_si128(bytes, 15);
        const __m128i crlf = _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x0A)),
                                           _mm_cmpeq_epi8(previous, _mm_set1_epi8(0x0D)));
        lineCounter.add(_mm_andnot_si128(crlf, breakLanes(bytes)));
        // 0x80..0xBF as signed bytes are below -64; 0xF0..0xFF are those equal to their max with 0xF0.
        continuationCounter.add(_mm_cmplt_epi8(bytes, _mm_set1_epi8(-64)));
        longLeadCounter.add(_mm_cmpeq_epi8(_mm_max_epu8(bytes, _mm_set1_epi8(static_cast<char>(0xF0))), bytes));
    }
    lineCount += lineCounter.total();
    continuations += continuationCounter.total();
    longLeads += longLeadCounter.total();
#endif
    if (i > 0)
        before = text[i - 1];
    for (; i < length; ++i) {
        const char c = text[i];
        lineCount += isBreak(c) && !(c == '\n' && before == '\r');
        continuations += (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        longLeads += static_cast<unsigned char>(c) >= 0xF0;
        before = c;
    }
    lines += lineCount;
    units += length - continuations + longLeads;
}

std::size_t unitsOf(const char* text, std::size_t length)
{
    std::size_t lines = 0, units = 0;
    countLinesAndUnits(text, length, lines, units);
    return units;
}

} // namespace

bool Utf8CSVReader::acceptsSeparator(std::u16string_view separator)
{
    if (separator.size() != 1)
        return false;
    const char16_t c = separator.front();
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    return c < 0x80 && !letter && c != u'"' && !isBreak(static_cast<char>(c));
}

// CSVParser's rules over one window's bytes, for the fields receiver; names and order follow
// CSVParser.cpp so that the two can be read side by side.
class Utf8CSVReader::Window {
public:
    Window(std::string_view text, char separator, bool hasHeader, bool headerRead,
           std::optional<std::vector<std::string>>& names, bool& stopRequested)
        : _text(text), _separator(separator), _hasHeader(hasHeader), _headerRead(headerRead), _names(names),
          _stopRequested(stopRequested)
    {
    }

    // parseFile() with a fields receiver, then finishParse().
    void parse(const ByteFieldsReceiver& receiver)
    {
        if (_hasHeader && !_headerRead) {
            std::vector<std::string> names;
            parseRowFields(names);
            _names = std::move(names);
            if (!parseLineSeparator())
                return finish();
        }
        if (!parseRecord())
            return finish();
        for (;;) {
            ++_stop.records;
            if (receiver)
                receiver(std::span<const std::string_view>(_views));
            if (_stopRequested)
                break;
            if (!parseLineSeparator() || !parseRecord())
                break;
        }
        finish();
    }

    // CSVParser::firstParsedRow().
    std::optional<std::vector<std::string>> firstRow()
    {
        if (parseLineSeparator() || _cursor == _text.size())
            return std::nullopt;
        std::vector<std::string> row;
        parseRowFields(row);
        return row;
    }

    const CSVParseStop& stop() const { return _stop; }
    std::size_t stopOffset() const { return _stopOffset; }
    std::size_t lineAt(std::size_t offset) const
    {
        std::size_t lines = 1, units = 0;
        countLinesAndUnits(_text.data(), offset, lines, units);
        return lines;
    }

private:
    void finish()
    {
        if (_stopRequested) {
            _stop.stopped = true;
            if (_firstSurplusAt != noOffset)
                _stop.firstSurplusLine = lineAt(_firstSurplusAt);
            return;
        }
        const bool onlyLineBreaksLeft = std::all_of(_text.begin() + static_cast<std::ptrdiff_t>(_cursor), _text.end(),
                                                    isBreak);
        if (_openQuoteAt != noOffset || !onlyLineBreaksLeft) {
            _stop.complete = false;
            _stopOffset = _openQuoteAt != noOffset ? _openQuoteAt : _cursor;
            _stop.line = lineAt(_stopOffset);
            if (_openQuoteAt != noOffset)
                _stop.reason = CSVStopReason::UnterminatedQuote;
            else if (_stop.records == 0 && _cursor > 0
                     && std::all_of(_text.begin(), _text.begin() + static_cast<std::ptrdiff_t>(_cursor), isBreak))
                _stop.reason = CSVStopReason::LeadingLineBreak;
            else if (_text[_cursor] == doubleQuote)
                _stop.reason = CSVStopReason::UnexpectedQuote;
            else
                _stop.reason = CSVStopReason::UnexpectedCharacter;
        }
        if (_firstSurplusAt != noOffset)
            _stop.firstSurplusLine = lineAt(_firstSurplusAt);
    }

    // The header, and the first row: every field as a string.
    void parseRowFields(std::vector<std::string>& row)
    {
        parseField(row.emplace_back());
        while (parseSeparator())
            parseField(row.emplace_back());
    }

    [[gnu::flatten]] bool parseRecord()
    {
        if (parseLineSeparator() || _cursor == _text.size())
            return false;
        const std::size_t recordStart = _cursor;
        const std::size_t names = _hasHeader ? _names->size() : noOffset;
        _views.clear();
        std::size_t escaped = 0;
        bool surplus = false;
        for (;;) {
            const std::string_view field = parseFieldView(escaped);
            if (field.data() == nullptr)
                ++escaped;
            if (_views.size() < names)
                _views.push_back(field);
            else
                surplus = true;
            if (!parseSeparator())
                break;
        }
        if (escaped > 0) {
            std::size_t next = 0;
            for (std::string_view& field : _views)
                if (field.data() == nullptr)
                    field = _unescaped[next++];
        }
        if (surplus) {
            ++_stop.recordsWithSurplusFields;
            if (_firstSurplusAt == noOffset)
                _firstSurplusAt = recordStart;
        }
        return true;
    }

    std::string_view parseFieldView(std::size_t index)
    {
        if (_cursor < _text.size() && _text[_cursor] == doubleQuote) {
            const std::size_t start = _cursor + 1;
            const std::size_t quote = findQuote(start);
            if (quote < _text.size() && (quote + 1 == _text.size() || _text[quote + 1] != doubleQuote)) {
                _cursor = quote + 1;
                return _text.substr(start, quote - start);
            }
            if (index == _unescaped.size())
                _unescaped.emplace_back();
            if (parseEscaped(_unescaped[index]))
                return std::string_view(nullptr, 0);
        }
        const std::size_t start = _cursor;
        _cursor = scanToEndText(_cursor);
        return _text.substr(start, _cursor - start);
    }

    void parseField(std::string& field)
    {
        if (_cursor < _text.size() && _text[_cursor] == doubleQuote && parseEscaped(field))
            return;
        const std::size_t start = _cursor;
        _cursor = scanToEndText(_cursor);
        field.assign(_text.substr(start, _cursor - start));
    }

    bool parseEscaped(std::string& content)
    {
        const std::size_t openedAt = _cursor;
        ++_cursor; // the opening quote, which the caller saw
        content.clear();
        for (;;) {
            const std::size_t quote = findQuote(_cursor);
            if (quote == _text.size()) {
                _cursor = _text.size();
                if (_openQuoteAt == noOffset)
                    _openQuoteAt = openedAt;
                content.clear();
                return false;
            }
            content.append(_text.substr(_cursor, quote - _cursor));
            _cursor = quote + 1;
            if (_cursor < _text.size() && _text[_cursor] == doubleQuote) {
                content.push_back(doubleQuote);
                ++_cursor;
                continue;
            }
            return true;
        }
    }

    bool parseSeparator()
    {
        if (_cursor < _text.size() && _text[_cursor] == _separator) {
            ++_cursor;
            return true;
        }
        return false;
    }

    bool parseLineSeparator()
    {
        const std::size_t start = _cursor;
        while (_cursor < _text.size() && isBreak(_text[_cursor]))
            ++_cursor;
        return _cursor != start;
    }

    std::size_t findQuote(std::size_t position) const
    {
        const char* text = _text.data();
        const std::size_t end = _text.size();
#if PLISTABLE_SSE2
        for (; end - position >= 16; position += 16) {
            const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(load(text + position), _mm_set1_epi8(doubleQuote)));
            if (mask != 0)
                return position + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
        }
#endif
        while (position < end && text[position] != doubleQuote)
            ++position;
        return position;
    }

    // The first '"', separator or line break at or after `position`, or the end: found through a
    // bit mask per 64-byte block, kept while the fields of the block are read.
    std::size_t scanToEndText(std::size_t position)
    {
        const std::size_t end = _text.size();
        while (position < end) {
            const std::size_t block = position / 64;
            if (block != _maskBlock) {
                _endTextBits = endTextMask(block);
                _maskBlock = block;
            }
            const std::uint64_t pending = _endTextBits & (~std::uint64_t(0) << (position % 64));
            if (pending != 0)
                return std::min(end, block * 64 + static_cast<std::size_t>(std::countr_zero(pending)));
            position = (block + 1) * 64;
        }
        return end;
    }

    std::uint64_t endTextMask(std::size_t block) const
    {
        const char* text = _text.data() + block * 64;
        const std::size_t available = std::min<std::size_t>(64, _text.size() - block * 64);
        std::uint64_t bits = 0;
#if PLISTABLE_AVX2
        if (available == 64 && useAvx2())
            return csvEndTextMaskAvx2(text, _separator);
#endif
#if PLISTABLE_SSE2
        if (available == 64) {
            for (int part = 0; part < 4; ++part) {
                const __m128i bytes = load(text + 16 * part);
                const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(doubleQuote)),
                                                              _mm_cmpeq_epi8(bytes, _mm_set1_epi8(_separator))),
                                                 breakLanes(bytes));
                bits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit))) << (16 * part);
            }
            return bits;
        }
#endif
        for (std::size_t i = 0; i < available; ++i)
            if (text[i] == doubleQuote || text[i] == _separator || isBreak(text[i]))
                bits |= std::uint64_t(1) << i;
        return bits;
    }

    std::string_view _text;
    char _separator;
    bool _hasHeader;
    bool _headerRead;
    std::optional<std::vector<std::string>>& _names;
    bool& _stopRequested;
    CSVParseStop _stop;
    std::size_t _stopOffset = 0;
    std::size_t _cursor = 0;
    std::size_t _openQuoteAt = noOffset;
    std::size_t _firstSurplusAt = noOffset;
    std::size_t _maskBlock = noOffset;
    std::uint64_t _endTextBits = 0;
    std::vector<std::string_view> _views;
    std::vector<std::string> _unescaped;
};

Utf8CSVReader::Utf8CSVReader(ByteSupplier supplier, char separator, bool hasHeader, std::size_t windowBytes,
                             std::string start)
    : _supplier(std::move(supplier)),
      _separator(separator),
      _hasHeader(hasHeader),
      _windowBytes(std::max<std::size_t>(windowBytes, 1)),
      _buffer(std::move(start))
{
}

std::size_t Utf8CSVReader::findCut() const
{
    // As WindowedCSVParser::findCut(): the last position after a whole run of line breaks with an
    // even number of quotes before it, not within the leading line breaks.
    const char* text = _buffer.data();
    std::size_t quotesBefore = quotes(text, _buffer.size());
    std::size_t content = 0;
    while (content < _buffer.size() && isBreak(text[content]))
        ++content;
    for (std::size_t p = _buffer.size(); p-- > content + 1;) {
        if (text[p] == doubleQuote)
            --quotesBefore;
        if (quotesBefore % 2 == 0 && isBreak(text[p - 1]) && !isBreak(text[p]))
            return p;
    }
    return 0;
}

void Utf8CSVReader::fillWindow()
{
    if (_windowReady)
        return;
    std::size_t wanted = _windowBytes;
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
        wanted = _buffer.size() * 2;
    }
    _windowReady = true;
}

void Utf8CSVReader::dropWindow()
{
    // A window ends before a byte that is no line break, so no CR LF pair spans two windows.
    std::size_t lines = 0;
    countLinesAndUnits(_buffer.data(), _windowEnd, lines, _bufferStart16);
    _windowLine += lines;
    _buffer.erase(0, _windowEnd);
    _windowEnd = 0;
    _windowReady = false;
}

std::optional<std::vector<std::string>> Utf8CSVReader::firstParsedRow()
{
    fillWindow();
    std::optional<std::vector<std::string>> names;
    bool stop = false;
    return Window(std::string_view(_buffer.data(), _windowEnd), _separator, false, false, names, stop).firstRow();
}

void Utf8CSVReader::parseFieldsForReceiver(const ByteFieldsReceiver& receiver)
{
    _stop = CSVParseStop{};
    _stopRequested = false;
    bool first = true;
    for (;;) {
        fillWindow();
        const std::string_view text(_buffer.data(), _windowEnd);
        Window window(text, _separator, _hasHeader, _hasHeader && !first, _fieldNames, _stopRequested);
        _window = text;
        window.parse(receiver);
        _window = {};

        const CSVParseStop& stop = window.stop();
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
            _stop.offset = _bufferStart16 + unitsOf(text.data(), window.stopOffset());
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

} // namespace plistable::detail
