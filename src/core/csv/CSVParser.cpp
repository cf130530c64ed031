#include "core/csv/CSVParser.hpp"

#include "core/AssertionFailure.hpp"
#include "core/text/detail/CharacterSets.hpp"
#include "core/csv/detail/HeaderIndex.hpp"

#include <unicode/uchar.h>

#include <algorithm>
#include <bit>
#include <utility>

#include "core/text/detail/Simd.hpp"

// How this works
// --------------
// A recursive-descent reader: one method per grammar rule, all moving one forward cursor
// (`_cursor`, an index in UTF-16 units into csvString). A rule that does not match leaves the
// cursor where it was and answers "nothing" (false, or an empty optional); the one exception is
// an opening quote that never closes, which consumes the rest of the text.
//
//   file       = [header line-separator] record (line-separator record)*
//   header     = name (separator name)*            name = field
//   record     = field (separator field)*
//   field      = escaped | non-escaped | empty
//   escaped    = '"' (text | separator | line-separator | '""')* '"'
//   non-escaped = text-data
//   line-separator = one or more units of the newline set (blank lines are part of it)
//
// Plain text stops at a unit of the "end text" set: the newline set, '"' and the separator's first
// unit. Membership in that set is exact; matching the separator itself ignores letter case
// (simple case folding of each UTF-16 unit, see foldUnit). A longer separator counts only as a
// whole: its first unit on its own is ordinary text.
//
// The reader never reports malformed text as an error: at the first place the grammar cannot go
// on, parseFile stops and keeps what it has read. finishParse() then records in _stop whether the
// text was read to its end and, if not, where the cursor stopped.
//
// Speed: plain text is found through a 64-unit bit mask of end-text units (scanToEndText), quoted
// content is taken as one span per '""'-free stretch, and the field rules fill the strings of one
// reused record (see parseFile), so the common case copies each field once and allocates nothing.
//
// If you change the end-text set (isEndText, the constructor's table, endTextMask), also check parseTextData's
// multi-unit separator loop and parseField's "empty field" fall-through, which rely on every
// position being matched by one of escaped / text-data / separator / line break / end.

namespace plistable {

namespace {

constexpr std::string_view refusedSeparatorMessage =
    "CSV separator string must not be empty and must not contain the double quote character or "
    "newline characters.";

constexpr char16_t doubleQuote = u'"';
constexpr std::size_t noOffset = static_cast<std::size_t>(-1);

// Simple case folding of one UTF-16 unit: ASCII by table, other BMP units by ICU's default
// folding. A surrogate half has no case of its own and folds to itself, so a separator holding
// half of a pair matches exactly that unit. A unit whose folding would leave the BMP stays as is.
char16_t foldUnit(char16_t c)
{
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
    if (c >= 0xD800 && c <= 0xDFFF)
        return c;
    const UChar32 folded = u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT);
    return folded <= 0xFFFF ? static_cast<char16_t>(folded) : c;
}

// Index of the first '"' at or after `position`, or `end`. Quoted content is taken in one span up
// to here, so this runs over every unit of every quoted field.
std::size_t findDoubleQuote(const char16_t* text, std::size_t position, std::size_t end)
{
#if PLISTABLE_SSE2
    const __m128i quote = _mm_set1_epi16(static_cast<short>(doubleQuote));
    for (; end - position >= 8; position += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + position));
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, quote));
        if (mask != 0)
            return position + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)) >> 1);
    }
#endif
    while (position < end && text[position] != doubleQuote)
        ++position;
    return position;
}

} // namespace

std::string_view describeStopReason(CSVStopReason reason)
{
    switch (reason) {
    case CSVStopReason::UnexpectedQuote: return "unexpected double quote";
    case CSVStopReason::UnexpectedCharacter: return "unexpected character after a closing double quote";
    case CSVStopReason::UnterminatedQuote: return "quoted field is never closed";
    case CSVStopReason::LeadingLineBreak: return "the text begins with a line break";
    case CSVStopReason::None: break;
    }
    return "the text could not be read further";
}

std::string CSVParseStop::description() const
{
    if (complete)
        return "the whole text was read";
    const std::size_t at = reason == CSVStopReason::LeadingLineBreak ? 1 : line;
    return "line " + std::to_string(at) + ": " + std::string(describeStopReason(reason));
}

// ---- RecordDictionary ----------------------------------------------------------------------

const Text* RecordDictionary::objectForKey(std::u16string_view name) const
{
    if (!_header)
        return nullptr;
    const std::optional<std::size_t> slot = _header->slotForName(name);
    if (!slot || !_values[*slot])
        return nullptr;
    return &*_values[*slot];
}

const Text* RecordDictionary::objectForHeaderIndex(std::size_t headerIndex) const
{
    if (!_header || headerIndex >= _header->slotOfPosition.size())
        return nullptr;
    const std::optional<Text>& value = _values[_header->slotOfPosition[headerIndex]];
    return value ? &*value : nullptr;
}

std::size_t RecordDictionary::count() const
{
    return static_cast<std::size_t>(
        std::count_if(_values.begin(), _values.end(), [](const std::optional<Text>& v) { return v.has_value(); }));
}

// ---- Construction and the public operations ------------------------------------------------

CSVParser::CSVParser(std::u16string_view text, Text separatorText, bool header,
                     std::optional<std::vector<Text>> names)
    : csvString(text),
      separator(std::move(separatorText)),
      hasHeader(header),
      _fieldNames(std::move(names)),
      separatorIsSingleChar(separator.size() == 1),
      _separatorFirst(0),
      _openQuoteAt(noOffset),
      _firstSurplusAt(noOffset),
      _maskBlock(noOffset)
{
    const bool refused = separator.empty() || std::any_of(separator.begin(), separator.end(), [](char16_t c) {
                             return c == doubleQuote || detail::isNewline(c);
                         });
    if (refused)
        failAssertion(refusedSeparatorMessage);

    _separatorFirst = separator.front();
    for (char16_t c = 0; c < 0x80; ++c)
        _endTextAscii[c] = detail::isNewline(c);
    _endTextAscii[doubleQuote] = true;
    if (_separatorFirst < 0x80)
        _endTextAscii[_separatorFirst] = true;

    _foldedSeparator.reserve(separator.size());
    for (char16_t c : separator)
        _foldedSeparator.push_back(foldUnit(c));
}

std::optional<std::vector<Record>> CSVParser::arrayOfParsedRows()
{
    startParse();
    _receiverMode = false;
    std::optional<std::vector<Record>> result = parseFile();
    finishParse();
    return result;
}

void CSVParser::parseRowsForReceiver(const RecordReceiver& receiver)
{
    parseForReceiver(&receiver, nullptr);
}

void CSVParser::parseFieldsForReceiver(const FieldsReceiver& receiver)
{
    parseForReceiver(nullptr, &receiver);
}

// Exactly one of `records` and `fields` is given.
void CSVParser::parseForReceiver(const RecordReceiver* records, const FieldsReceiver* fields)
{
    startParse();
    _receiverMode = true;
    _receiver = records;
    _fieldsReceiver = fields;
    // The receiver is the caller's code and may throw; the parser must not keep pointing at it.
    struct Release {
        CSVParser& parser;
        ~Release()
        {
            parser._receiver = nullptr;
            parser._fieldsReceiver = nullptr;
            parser._receiverMode = false;
        }
    } release{*this};
    parseFile();
    finishParse();
}

std::optional<Row> CSVParser::firstParsedRow()
{
    // The same steps as parseRecord without a header, run on a fresh cursor and stopped after the
    // first record. Only per-parse scratch state is touched, not _stop or _fieldNames.
    _cursor = 0;
    _rowSizeHint = 0;
    _openQuoteAt = noOffset;
    _maskBlock = noOffset;
    if (parseLineSeparator() || _cursor == csvString.size())
        return std::nullopt;
    Row row;
    parseRowFields(row);
    return row;
}

void CSVParser::startParse()
{
    _cursor = 0;
    _rowSizeHint = 0;
    _openQuoteAt = noOffset;
    _firstSurplusAt = noOffset;
    _maskBlock = noOffset;
    _stop = CSVParseStop{};
    _stopRequested = false;
}

void CSVParser::finishParse()
{
    // Line breaks left after the last record are no fault (they are a trailing line separator the
    // file rule did not need); anything else left means the grammar stopped early. An opening quote
    // that never closed has eaten the rest of the text, so the cursor is at the end then: report
    // where that field began instead.
    if (_stopRequested) {
        // The rest of the text was not wanted: it is no fault of the text.
        _stop.stopped = true;
        _stopRequested = false;
        if (_firstSurplusAt != noOffset)
            _stop.firstSurplusLine = lineAt(_firstSurplusAt);
        _headerIndex.reset();
        return;
    }
    const bool onlyLineBreaksLeft =
        std::all_of(csvString.begin() + static_cast<std::ptrdiff_t>(_cursor), csvString.end(), detail::isNewline);
    if (_openQuoteAt != noOffset || !onlyLineBreaksLeft) {
        _stop.complete = false;
        _stop.offset = _openQuoteAt != noOffset ? _openQuoteAt : _cursor;
        _stop.line = lineAt(_stop.offset);
        // Past an unquoted field only a double quote can stop the grammar; past a closing quote,
        // anything that is neither a separator nor a line break.
        if (_openQuoteAt != noOffset)
            _stop.reason = CSVStopReason::UnterminatedQuote;
        else if (_stop.records == 0 && _cursor > 0
                 && std::all_of(csvString.begin(), csvString.begin() + static_cast<std::ptrdiff_t>(_cursor),
                                detail::isNewline))
            _stop.reason = CSVStopReason::LeadingLineBreak;
        else if (csvString[_cursor] == u'"')
            _stop.reason = CSVStopReason::UnexpectedQuote;
        else
            _stop.reason = CSVStopReason::UnexpectedCharacter;
    }
    if (_firstSurplusAt != noOffset)
        _stop.firstSurplusLine = lineAt(_firstSurplusAt);
    _headerIndex.reset(); // the records keep what they need
}

std::size_t CSVParser::lineAt(std::size_t offset) const
{
    // Physical lines: every newline unit starts a line, except the LF of a CR LF pair.
    std::size_t line = 1;
    const char16_t* text = csvString.data();
    for (std::size_t i = 0; i < offset; ++i) {
        const char16_t c = text[i];
        if (detail::isNewline(c) && !(c == u'\n' && i > 0 && text[i - 1] == u'\r'))
            ++line;
    }
    return line;
}

// ---- Grammar ---------------------------------------------------------------------------------

std::optional<std::vector<Record>> CSVParser::parseFile()
{
    if (hasHeader && _headerRead) {
        _headerIndex = std::make_shared<detail::HeaderIndex>(*_fieldNames);
    } else if (hasHeader) {
        _fieldNames = parseHeader();
        _headerIndex = std::make_shared<detail::HeaderIndex>(*_fieldNames);
        if (!parseLineSeparator())
            return std::nullopt; // a header, but no record can follow it
    }

    std::optional<std::vector<Record>> result;
    if (!_receiverMode)
        result.emplace();

    // One record object is filled again and again. Stored in the result it is moved from, so the
    // next record starts empty; handed to a receiver that leaves it alone, its strings and vector
    // keep their capacity, and the next record is read into them without allocating.
    Record record;
    if (!parseRecord(record))
        return std::nullopt;
    for (;;) {
        ++_stop.records;
        if (_fieldsReceiver) {
            if (*_fieldsReceiver)
                (*_fieldsReceiver)(std::span<const std::u16string_view>(_fieldViews));
        } else if (_receiverMode) {
            if (*_receiver)
                (*_receiver)(std::move(record));
        } else {
            result->push_back(std::move(record));
        }
        if (_stopRequested)
            break;
        if (!parseLineSeparator())
            break; // the end of the text, or text the grammar cannot continue with
        if (!parseRecord(record))
            break;
    }
    if (_receiverMode)
        return std::nullopt;
    return result;
}

std::vector<Text> CSVParser::parseHeader()
{
    std::vector<Text> names(1);
    parseName(names.back());
    while (parseSeparator())
        parseName(names.emplace_back());
    return names;
}

void CSVParser::parseName(Text& name)
{
    parseField(name);
}

bool CSVParser::parseRecord(Record& record)
{
    // After the first record parseFile has consumed the whole run of line breaks, so this line
    // separator can only stand at the very start of a text read without a header.
    if (parseLineSeparator())
        return false;
    if (_cursor == csvString.size())
        return false;
    _recordStart = _cursor;
    if (_fieldsReceiver) {
        parseFieldViews(_cursor);
    } else if (hasHeader) {
        auto* dictionary = std::get_if<RecordDictionary>(&record);
        parseDictionaryFields(dictionary ? *dictionary : record.emplace<RecordDictionary>(), _cursor);
    } else {
        Row* row = std::get_if<Row>(&record);
        parseRowFields(row ? *row : record.emplace<Row>());
    }
    return true;
}

// Flattened (GCC/Clang): the field rules are small and run once per field, so their calls cost as
// much as their work; inlining them into the two record loops is measurably faster.
[[gnu::flatten]] void CSVParser::parseRowFields(Row& row)
{
    if (row.capacity() == 0)
        row.reserve(std::max(_rowSizeHint, _fieldNames ? _fieldNames->size() : 0));
    // Fields already in `row` (left from the previous record) are overwritten in place.
    std::size_t count = 0;
    auto nextField = [&]() -> Text& {
        if (count == row.size())
            row.emplace_back();
        return row[count++];
    };
    parseField(nextField());
    while (parseSeparator())
        parseField(nextField());
    row.erase(row.begin() + static_cast<std::ptrdiff_t>(count), row.end());
    _rowSizeHint = count;
}

[[gnu::flatten]] void CSVParser::parseDictionaryFields(RecordDictionary& record, std::size_t recordStart)
{
    const detail::HeaderIndex& index = *_headerIndex;
    if (record._header != _headerIndex) {
        record._header = _headerIndex;
        record._values.clear();
    }
    record._values.resize(index.slotNames.size());

    // Fields beyond the last header name have no key; they are read (the cursor must pass them)
    // and dropped, and the record is counted so the caller can tell data was left out.
    bool surplus = false;
    std::size_t position = 0;
    for (;;) {
        if (position < index.slotOfPosition.size()) {
            std::optional<Text>& value = record._values[index.slotOfPosition[position]];
            parseField(value ? *value : value.emplace());
        } else {
            parseField(_surplusField);
            surplus = true;
        }
        if (!parseSeparator())
            break;
        ++position;
    }
    // A short record has no value for the last names: drop what a previous record left there.
    const std::size_t read = std::min(position + 1, index.slotOfPosition.size());
    for (std::size_t slot = index.slotsOfFirst[read]; slot < record._values.size(); ++slot)
        record._values[slot].reset();
    if (surplus) {
        ++_stop.recordsWithSurplusFields;
        if (_firstSurplusAt == noOffset)
            _firstSurplusAt = recordStart;
    }
}

// The field rules of parseDictionaryFields and parseRowFields, with each field kept as a view.
[[gnu::flatten]] void CSVParser::parseFieldViews(std::size_t recordStart)
{
    const std::size_t names = hasHeader ? _headerIndex->slotOfPosition.size() : noOffset;
    _fieldViews.clear();
    std::size_t escaped = 0; // fields kept in _unescaped so far
    bool surplus = false;
    for (;;) {
        const std::u16string_view field = parseFieldView(escaped);
        if (field.data() == nullptr)
            ++escaped; // stands for the unescaped copy, filled in below
        if (_fieldViews.size() < names)
            _fieldViews.push_back(field);
        else
            surplus = true;
        if (!parseSeparator())
            break;
    }
    if (escaped > 0) {
        std::size_t next = 0;
        for (std::u16string_view& field : _fieldViews)
            if (field.data() == nullptr)
                field = _unescaped[next++];
    }
    if (surplus) {
        ++_stop.recordsWithSurplusFields;
        if (_firstSurplusAt == noOffset)
            _firstSurplusAt = recordStart;
    }
}

// parseField's rule, giving a view of the text when the field needs no unescaping. A quoted field
// that held '""' is unescaped into _unescaped[index] and answered as an empty view with a null data
// pointer, to be pointed at the copy once the record is read.
std::u16string_view CSVParser::parseFieldView(std::size_t index)
{
    if (_cursor < csvString.size() && csvString[_cursor] == doubleQuote) {
        const std::size_t start = _cursor + 1;
        const std::size_t quote = findDoubleQuote(csvString.data(), start, csvString.size());
        if (quote < csvString.size() && (quote + 1 == csvString.size() || csvString[quote + 1] != doubleQuote)) {
            _cursor = quote + 1; // closed, with no '""' inside: the content as it stands
            return csvString.substr(start, quote - start);
        }
        if (index == _unescaped.size())
            _unescaped.emplace_back();
        if (parseEscaped(_unescaped[index]))
            return std::u16string_view(nullptr, 0);
    }
    if (std::optional<std::u16string_view> text = parseNonEscaped())
        return *text;
    return std::u16string_view(u"", 0);
}

void CSVParser::parseField(Text& field)
{
    // Only a '"' can start an escaped field; looking at it here keeps the common unquoted field
    // off that path.
    if (_cursor < csvString.size() && csvString[_cursor] == doubleQuote) {
        if (parseEscaped(field))
            return;
    }
    if (std::optional<std::u16string_view> text = parseNonEscaped()) {
        field.assign(*text);
        return;
    }
    // Neither matched, so the cursor stands at a separator, a line break or the end (an unclosed
    // quote has moved it to the end): the field is empty and that mark is left for the caller.
    field.clear();
}

bool CSVParser::parseEscaped(Text& content)
{
    const std::size_t openedAt = _cursor;
    if (!parseDoubleQuote())
        return false;

    // Inside quotes, text, separators and line breaks are all kept exactly as they stand, so the
    // alternation of those rules amounts to taking everything up to the next '"' in one span.
    // There a '""' adds one quote and the loop goes on; a lone '"' closes the field.
    content.clear();
    for (;;) {
        const std::size_t quote = findDoubleQuote(csvString.data(), _cursor, csvString.size());
        if (quote == csvString.size()) {
            // The text ends inside the field: its content is lost and the rest of the text is
            // consumed; finishParse reports the opening quote as where reading broke off.
            _cursor = csvString.size();
            if (_openQuoteAt == noOffset)
                _openQuoteAt = openedAt;
            content.clear();
            return false;
        }
        content.append(csvString.substr(_cursor, quote - _cursor));
        _cursor = quote;
        if (parseTwoDoubleQuotes()) {
            content.push_back(doubleQuote);
            continue;
        }
        parseDoubleQuote();
        return true;
    }
}

std::optional<std::u16string_view> CSVParser::parseNonEscaped()
{
    return parseTextData();
}

std::optional<std::u16string_view> CSVParser::parseTextData()
{
    // The text taken is always one contiguous span of csvString (with a longer separator, a lone
    // first unit is taken into the same run), so it is returned as a view and copied once by the
    // caller.
    const char16_t* text = csvString.data();
    const std::size_t end = csvString.size();
    const std::size_t start = _cursor;
    std::size_t position = start;
    for (;;) {
        position = scanToEndText(position);
        if (separatorIsSingleChar || position == end || text[position] != _separatorFirst)
            break;
        if (separatorStandsAt(position))
            break; // the whole separator: it ends the text
        ++position;  // its first unit alone is ordinary text
    }
    _cursor = position;
    if (position == start)
        return std::nullopt;
    return csvString.substr(start, position - start);
}

std::size_t CSVParser::scanToEndText(std::size_t position)
{
    // The hot loop of the reader: with a one-unit separator every unquoted field is one call. The
    // end-text units of a 64-unit block are found once, as a bit mask, so a field costs a mask and
    // a count of trailing zeros instead of a loop whose exit branch depends on the field's length.
    const std::size_t end = csvString.size();
    while (position < end) {
        const std::size_t block = position / 64;
        if (block != _maskBlock) {
            _endTextBits = endTextMask(block);
            _maskBlock = block;
        }
        const std::uint64_t pending = _endTextBits & (~std::uint64_t(0) << (position % 64));
        if (pending != 0)
            return block * 64 + static_cast<std::size_t>(std::countr_zero(pending));
        position = (block + 1) * 64;
    }
    return end;
}

std::uint64_t CSVParser::endTextMask(std::size_t block) const
{
    const char16_t* text = csvString.data() + block * 64;
    const std::size_t available = std::min<std::size_t>(64, csvString.size() - block * 64);
    std::uint64_t bits = 0;
#if PLISTABLE_SSE2
    if (available == 64) {
        // Eight units per test, exactly the end-text set: '"', the separator's first unit and the
        // newline set.
        const __m128i quote = _mm_set1_epi16(static_cast<short>(doubleQuote));
        const __m128i separatorFirst = _mm_set1_epi16(static_cast<short>(_separatorFirst));
        auto test = [&](const char16_t* at) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            const __m128i hit = _mm_or_si128(_mm_cmpeq_epi16(units, quote), _mm_cmpeq_epi16(units, separatorFirst));
            return _mm_or_si128(hit, detail::newlineLanes(units));
        };
        for (int pair = 0; pair < 4; ++pair) {
            // Each lane is 0 or 0xFFFF; packing two tests gives one byte, hence one bit, per unit.
            const __m128i packed = _mm_packs_epi16(test(text + 16 * pair), test(text + 16 * pair + 8));
            bits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(packed))) << (16 * pair);
        }
        return bits;
    }
#endif
    for (std::size_t i = 0; i < available; ++i) {
        if (isEndText(text[i]))
            bits |= std::uint64_t(1) << i;
    }
    return bits;
}

bool CSVParser::separatorStandsAt(std::size_t position) const
{
    const std::size_t length = separator.size();
    if (csvString.size() - position < length)
        return false;
    const char16_t* text = csvString.data() + position;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != separator[i] && foldUnit(text[i]) != _foldedSeparator[i])
            return false;
    }
    return true;
}

bool CSVParser::parseSeparator()
{
    // Most fields end at the exact separator unit or at a line break; settle those without folding.
    if (_cursor < csvString.size() && separatorIsSingleChar) {
        const char16_t c = csvString[_cursor];
        if (c == _separatorFirst) {
            ++_cursor;
            return true;
        }
        if (detail::isNewline(c))
            return false;
    }
    if (!separatorStandsAt(_cursor))
        return false;
    _cursor += separator.size();
    return true;
}

bool CSVParser::parseLineSeparator()
{
    const std::size_t start = _cursor;
    const std::size_t end = csvString.size();
    while (_cursor < end && detail::isNewline(csvString[_cursor]))
        ++_cursor;
    return _cursor != start;
}

bool CSVParser::parseDoubleQuote()
{
    if (_cursor == csvString.size() || csvString[_cursor] != doubleQuote)
        return false;
    ++_cursor;
    return true;
}

bool CSVParser::parseTwoDoubleQuotes()
{
    if (csvString.size() - _cursor < 2 || csvString[_cursor] != doubleQuote || csvString[_cursor + 1] != doubleQuote)
        return false;
    _cursor += 2;
    return true;
}

} // namespace plistable
