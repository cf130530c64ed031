#include "core/convert/detail/OpenStepRowsScanner.hpp"

#include "core/plist/detail/NextStepCharacters.hpp"
#include "core/plist/detail/OpenStepCharacters.hpp"
#include "core/plist/detail/XmlTextScan.hpp"
#include "core/text/detail/Simd.hpp"
#include "core/text/detail/Utf8.hpp"

#include <bit>
#include <cstring>
#include <unordered_set>

// How this works
//
// As StringRowsScanner does for XML: the text is matched against a fixed pattern one root-array
// element at a time, and an element's line is written once the element was read whole and found
// to be like the first. Every test answers Wait (more bytes could still match), Other (they
// cannot) or Done; Other sends the list to the general reader, which reads it from its start. A
// separator between elements is read before the next element, so that an element is never read
// twice. Accepting less is always safe; accepting more only where the general reader is known to
// write the same line (see OpenStepRowsConversionFuzzer, which compares the two).

namespace plistable::detail {
namespace {

// A character of the Basic Multilingual Plane other than a surrogate, as UTF-8.
void appendUtf8(unsigned value, std::string& out)
{
    if (value < 0x80) {
        out.push_back(static_cast<char>(value));
    } else if (value < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (value >> 6)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (value >> 12)));
        out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
}

bool isSurrogate(unsigned value) { return value >= 0xD800 && value <= 0xDFFF; }

// The end of the run at `u` of ASCII characters other than `quote`, the backslash and the bytes a
// CSV field is quoted for (a line break 0A..0D, a double quote, `delimiter`).
const unsigned char* skipPlainQuoted(const unsigned char* u, const unsigned char* end, unsigned char quote,
                                     unsigned char delimiter)
{
#if PLISTABLE_SSE2
    // Sixteen bytes at a time: the quote, the backslash, every byte whose top bit is set, and the
    // bytes a CSV field is quoted for ((b - 0x0A) saturated down by 3 is zero exactly for 0A..0D).
    const __m128i quotes = _mm_set1_epi8(static_cast<char>(quote));
    const __m128i backslashes = _mm_set1_epi8('\\');
    const __m128i doubleQuotes = _mm_set1_epi8('"');
    const __m128i separators = _mm_set1_epi8(static_cast<char>(delimiter));
    const __m128i breakStart = _mm_set1_epi8(0x0A);
    const __m128i breakSpan = _mm_set1_epi8(3);
    for (; end - u >= 16; u += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
        const __m128i lineBreak =
            _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(b, breakStart), breakSpan), _mm_setzero_si128());
        const __m128i quoting =
            _mm_or_si128(lineBreak, _mm_or_si128(_mm_cmpeq_epi8(b, doubleQuotes), _mm_cmpeq_epi8(b, separators)));
        const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, quotes), _mm_cmpeq_epi8(b, backslashes)), b);
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(stops, quoting))); mask != 0)
            return u + std::countr_zero(mask);
    }
#endif
    while (u < end && *u != quote && *u != '\\' && *u < 0x80 && !(*u >= 0x0A && *u <= 0x0D) && *u != '"'
           && *u != delimiter)
        ++u;
    return u;
}

} // namespace

OpenStepRowsScanner::OpenStepRowsScanner(CHCSVWriter& writer, bool header, FileConverter& keyListPass)
    : RowsScanner(writer, header, keyListPass)
{
}

std::size_t OpenStepRowsScanner::elementEndIn(std::string_view bytes) const
{
    const std::size_t end = bytes.find_first_of("})");
    return end == std::string_view::npos ? bytes.size() : end + 1;
}

std::size_t OpenStepRowsScanner::run(const char* data, std::size_t size, bool isFinal)
{
    _final = isFinal;
    const char* p = data;
    const char* const end = data + size;
    auto stop = [&](Step step) {
        if (step == Step::Other || isFinal)
            _status = Status::Other;
        return static_cast<std::size_t>(p - data);
    };
    if (!_started) {
        // A UTF-8 byte-order mark, white space and comments, and the root array's '('.
        constexpr std::string_view mark = "\xEF\xBB\xBF";
        if (size < mark.size() && mark.starts_with(std::string_view(data, size)))
            return stop(Step::Wait);
        if (std::string_view(data, size).starts_with(mark))
            p += mark.size();
        Step step = space(p, end);
        if (step == Step::Done && p == end)
            step = Step::Wait;
        else if (step == Step::Done && *p != '(')
            step = Step::Other;
        if (step != Step::Done) {
            p = data; // all of it again with more bytes
            return stop(step);
        }
        ++p;
        _started = true;
        reportStart();
    }
    while (!_arrayEnded) {
        const char* const at = p;
        const Step step = element(p, end, data);
        if (step != Step::Done) {
            p = at;
            return stop(step);
        }
    }
    // The ')' was read: white space and comments to the end.
    const char* q = p;
    const Step step = space(q, end);
    if (step == Step::Done && q != end)
        return stop(Step::Other);
    if (step != Step::Done || !isFinal)
        return stop(step); // more may follow; read it all again
    reportEnd();
    return size;
}

OpenStepRowsScanner::Step OpenStepRowsScanner::space(const char*& p, const char* end) const
{
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\n' || *p == '\t' || *p == '\r'))
            ++p;
        if (p == end || *p != '/')
            return Step::Done;
        if (end - p < 2)
            return _final ? Step::Done : Step::Wait;
        // A comment: its text must be UTF-8 like the rest.
        const char* body = p + 2;
        if (p[1] == '*') {
            const char* close = body;
            for (;;) {
                close = static_cast<const char*>(std::memchr(close, '*', static_cast<std::size_t>(end - close)));
                if (!close || end - close < 2)
                    return Step::Wait;
                if (close[1] == '/')
                    break;
                ++close;
            }
            if (!isWellFormedUtf8(std::string_view(body, static_cast<std::size_t>(close - body))))
                return Step::Other;
            p = close + 2;
        } else if (p[1] == '/') {
            const char* close = body;
            while (close < end && *close != '\n' && *close != '\r')
                ++close;
            if (close == end && !_final)
                return Step::Wait;
            if (!isWellFormedUtf8(std::string_view(body, static_cast<std::size_t>(close - body))))
                return Step::Other;
            p = close;
        } else {
            return Step::Done;
        }
    }
}

// One element of the root array, with the ',' before it, or the array's ')'.
OpenStepRowsScanner::Step OpenStepRowsScanner::element(const char*& p, const char* end, const char* data)
{
    if (const Step step = space(p, end); step != Step::Done)
        return step;
    if (p == end)
        return Step::Wait;
    if (*p == ')') {
        ++p;
        _arrayEnded = true;
        return Step::Done;
    }
    if (_afterRow) {
        if (*p != ',')
            return Step::Other;
        ++p;
        if (const Step step = space(p, end); step != Step::Done)
            return step;
        if (p == end)
            return Step::Wait;
        if (*p == ')') {
            ++p;
            _arrayEnded = true;
            return Step::Done;
        }
    }
    if (!_stretches.empty() && sameShapeRow(p, end, data))
        return Step::Done;
    return row(p, end, data);
}

bool OpenStepRowsScanner::sameShapeRow(const char*& p, const char* end, const char* data)
{
    const char* q = p;
    _rowValues.clear();
    _decoded.clear();
    for (std::size_t i = 0;; ++i) {
        const std::string& stretch = _stretches[i];
        if (static_cast<std::size_t>(end - q) < stretch.size() || std::memcmp(q, stretch.data(), stretch.size()) != 0)
            return false;
        q += stretch.size();
        if (i + 1 == _stretches.size())
            break;
        if (q == end || string(q, end, data, _rowValues.emplace_back()) != Step::Done) // string() reads a byte
            return false;
    }
    p = q;
    writeRowValues(data);
    _afterRow = true;
    return true;
}

// Continues the enclosing test when `test` is Done, else answers it.
#define PLISTABLE_TRY(test)                                                                                       \
    do {                                                                                                          \
        if (const Step step = (test); step != Step::Done)                                                         \
            return step;                                                                                          \
    } while (false)

// White space and comments, then at least one byte. Mostly a space or none: passed over here.
#define PLISTABLE_SPACE()                                                                                         \
    do {                                                                                                          \
        while (p < end && *p == ' ')                                                                              \
            ++p;                                                                                                  \
        if (p == end || static_cast<unsigned char>(*p) < ' ' || *p == '/') {                                     \
            PLISTABLE_TRY(space(p, end));                                                                         \
            if (p == end)                                                                                         \
                return Step::Wait;                                                                                \
        }                                                                                                         \
    } while (false)

OpenStepRowsScanner::Step OpenStepRowsScanner::row(const char*& p, const char* end, const char* data)
{
    if (*p != '{' && *p != '(')
        return Step::Other;
    const bool dictionary = *p == '{';
    if (_rows != Rows::Unknown && _rows != (dictionary ? Rows::Dictionaries : Rows::Arrays))
        return Step::Other;
    const char* const rowStart = p;
    const bool first = _rows == Rows::Unknown;
    std::vector<std::pair<const char*, const char*>> values; // the first element's values, in place
    ++p;
    _rowKeys.clear();
    _rowValues.clear();
    _decoded.clear();
    for (bool afterValue = false;; afterValue = true) {
        PLISTABLE_SPACE();
        if (dictionary) {
            if (*p == '}') {
                ++p;
                break;
            }
            PLISTABLE_TRY(string(p, end, data, _rowKeys.emplace_back()));
            PLISTABLE_SPACE();
            if (*p != '=')
                return Step::Other; // "key;" and the rest: the general reader
            ++p;
            PLISTABLE_SPACE();
            const char* const valueStart = p;
            PLISTABLE_TRY(string(p, end, data, _rowValues.emplace_back()));
            if (first)
                values.emplace_back(valueStart, p);
            PLISTABLE_SPACE();
            if (*p != ';')
                return Step::Other;
            ++p;
            continue;
        }
        if (*p == ')') {
            ++p;
            break;
        }
        if (afterValue) {
            if (*p != ',')
                return Step::Other;
            ++p;
            PLISTABLE_SPACE();
            if (*p == ')') {
                ++p;
                break;
            }
        }
        const char* const valueStart = p;
        PLISTABLE_TRY(string(p, end, data, _rowValues.emplace_back()));
        if (first)
            values.emplace_back(valueStart, p);
    }
    PLISTABLE_TRY(finishRow(dictionary, data));
    // The first element: the bytes around its values are what later elements of the same shape
    // repeat, keys and all.
    if (first && !values.empty()) {
        const char* from = rowStart;
        for (const auto& [start, stop] : values) {
            _stretches.emplace_back(from, start);
            from = stop;
        }
        _stretches.emplace_back(from, p);
    }
    return Step::Done;
}

#undef PLISTABLE_SPACE

OpenStepRowsScanner::Step OpenStepRowsScanner::finishRow(bool dictionary, const char* data)
{
    if (_rows == Rows::Unknown) {
        // The first element: its keys are the columns, each once.
        std::vector<std::string_view> keys;
        if (dictionary) {
            if (_rowKeys.empty())
                return Step::Other;
            std::unordered_set<std::string_view> distinct;
            for (const Field& key : _rowKeys) {
                if (!distinct.insert(view(data, key)).second)
                    return Step::Other;
                keys.push_back(view(data, key));
            }
            _keys.assign(keys.begin(), keys.end());
        }
        _rows = dictionary ? Rows::Dictionaries : Rows::Arrays;
        const std::vector<std::u16string_view> elements(_rowValues.size(), u"string");
        reportFirstRow(dictionary, keys, elements);
    } else if (dictionary) {
        if (_rowKeys.size() != _keys.size())
            return Step::Other;
        for (std::size_t i = 0; i < _keys.size(); ++i)
            if (view(data, _rowKeys[i]) != _keys[i])
                return Step::Other;
    }
    writeRowValues(data);
    _afterRow = true;
    return Step::Done;
}

OpenStepRowsScanner::Step OpenStepRowsScanner::string(const char*& p, const char* end, const char* data, Field& field)
{
    if (*p == '"' || *p == '\'')
        return quoted(p, end, data, field);
    const char* const start = p;
    while (p < end && isOpenStepUnquoted(static_cast<unsigned char>(*p)))
        ++p;
    if (p == start)
        return Step::Other; // a container, data, or a character no value starts with
    if (p == end)
        return Step::Wait; // more of it may follow (and something must)
    // Unquoted characters are ASCII that holds no line break or double quote; the delimiter may be one.
    field = Field{static_cast<std::size_t>(start - data), static_cast<std::size_t>(p - start), false,
                  !isOpenStepUnquoted(static_cast<unsigned char>(_writer.plainDelimiter()))};
    return Step::Done;
}

OpenStepRowsScanner::Step OpenStepRowsScanner::quoted(const char*& p, const char* end, const char* data, Field& field)
{
    const auto quote = static_cast<unsigned char>(*p);
    const auto* u = reinterpret_cast<const unsigned char*>(p) + 1;
    const auto* const e = reinterpret_cast<const unsigned char*>(end);
    const auto* const base = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* run = u; // the start of the text not yet copied to _decoded
    // The scan stops also where the CSV writer would look closer: a value it never stopped in for
    // anything but its closing quote is plain.
    const auto delimiter = static_cast<unsigned char>(_writer.plainDelimiter());
    bool plain = true;
    field = Field{static_cast<std::size_t>(u - base), 0, false};
    for (;;) {
        u = skipPlainQuoted(u, e, quote, delimiter);
        if (u == e)
            return Step::Wait;
        if (*u == quote)
            break;
        plain = false; // beyond ASCII, a byte the CSV writer quotes for, or an escape
        if (*u >= 0x80) {
            const int n = xmlCharacterLength(u, e);
            if (n < 0)
                return Step::Wait;
            if (n == 0)
                return Step::Other;
            u += n;
            continue;
        }
        if (*u != '\\') {
            ++u;
            continue;
        }
        appendDecoded(field, run, u);
        PLISTABLE_TRY(escape(u, e));
        run = u;
    }
    finishField(field, base, run, u, plain);
    p = reinterpret_cast<const char*>(u + 1);
    return Step::Done;
}

#undef PLISTABLE_TRY

OpenStepRowsScanner::Step OpenStepRowsScanner::escape(const unsigned char*& u, const unsigned char* end)
{
    // The longest escape this reads is a backslash, 'U' and four digits; before the end of the
    // list, wait until they are all there.
    const auto left = end - u;
    if (left < 2 || (left < 6 && !_final))
        return Step::Wait;
    const unsigned char c = u[1];
    char simple = 0;
    switch (c) {
    case 'a': simple = '\a'; break;
    case 'b': simple = '\b'; break;
    case 'f': simple = '\f'; break;
    case 'n': simple = '\n'; break;
    case 'r': simple = '\r'; break;
    case 't': simple = '\t'; break;
    case 'v': simple = '\v'; break;
    default: break;
    }
    if (simple) {
        _decoded.push_back(simple);
        u += 2;
        return Step::Done;
    }
    if (c >= '0' && c <= '7') {
        // One to three octal digits: ASCII, or a character of the NeXTSTEP set.
        unsigned value = 0;
        std::ptrdiff_t digits = 0;
        while (digits < 3 && 1 + digits < left && u[1 + digits] >= '0' && u[1 + digits] <= '7') {
            value = value * 8 + (u[1 + digits] - '0');
            ++digits;
        }
        u += 1 + digits;
        if (value < 0x80) {
            _decoded.push_back(static_cast<char>(value));
            return Step::Done;
        }
        const std::optional<char16_t> character = nextStepCharacter(value);
        if (!character || isSurrogate(*character))
            return Step::Other;
        appendUtf8(*character, _decoded);
        return Step::Done;
    }
    if (c == 'U') {
        // One to four hex digits; half of a surrogate pair is for the general reader.
        unsigned value = 0;
        std::ptrdiff_t digits = 0;
        while (digits < 4 && 2 + digits < left && hexDigitValue(u[2 + digits]) >= 0) {
            value = value * 16 + static_cast<unsigned>(hexDigitValue(u[2 + digits]));
            ++digits;
        }
        if (digits == 0 || isSurrogate(value))
            return Step::Other;
        appendUtf8(value, _decoded);
        u += 2 + digits;
        return Step::Done;
    }
    // Any other character stands for itself.
    int n = 1;
    if (c >= 0x80) {
        n = xmlCharacterLength(u + 1, end);
        if (n < 0)
            return Step::Wait;
        if (n == 0)
            return Step::Other;
    }
    _decoded.append(reinterpret_cast<const char*>(u + 1), static_cast<std::size_t>(n));
    u += 1 + n;
    return Step::Done;
}

} // namespace plistable::detail
