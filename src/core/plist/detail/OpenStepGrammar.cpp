#include "core/plist/detail/OpenStepGrammar.hpp"

#include "core/plist/PropertyListReadResult.hpp"
#include "core/plist/detail/DictionaryKeys.hpp"
#include "core/plist/detail/NextStepCharacters.hpp"
#include "core/plist/detail/OpenStepCharacters.hpp"
#include "core/plist/detail/OpenStepTextSource.hpp"
#include "core/plist/detail/PlistScalarText.hpp"
#include "core/text/detail/Utf8.hpp"

#include <cstdio>
#include <unordered_set>
#include <utility>

// How this works: one recursive-descent pass over the text. Every read* function starts at
// the first character of its construct (white space and comments already skipped) and leaves
// _pos just after it; on a fault it records the error through fail() and returns false, and
// every caller returns false at once. _line follows _pos (advance() is the only place that
// moves over a line break one character at a time; the fast run in readQuoted() counts its
// own). Errors for a construct never closed name where it began; "expected" errors name where
// the value before ends. If you add a construct, keep both rules.
// With a source, _text is only a window: fill() (and so atEnd()) may replace it and move _pos,
// so no index into _text is kept across them (offsets are kept as here()), and what a construct
// reads is gathered as it goes, never cut out of _text afterwards.

namespace plistable::detail {
namespace {

constexpr std::size_t keyShownInMessages = 80;

bool isSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == 0x2028 ||
           c == 0x2029;
}

bool isHighSurrogate(unsigned c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(unsigned c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::string utf8(std::u16string_view text)
{
    std::string out;
    if (!appendUtf16AsUtf8(text, out))
        for (char16_t c : text)
            out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// A key as messages show it: in quotes, long ones cut short.
std::string shownKey(std::u16string_view key)
{
    if (key.size() > keyShownInMessages)
        return '"' + utf8(key.substr(0, keyShownInMessages)) + "...\"";
    return '"' + utf8(key) + '"';
}

std::string shownCharacter(char16_t c)
{
    char buffer[16];
    if (c > 0x20 && c < 0x7F)
        std::snprintf(buffer, sizeof buffer, "'%c'", static_cast<char>(c));
    else
        std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

std::string hex4(unsigned value)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", value);
    return buffer;
}

// "2024-01-02 03:04:05 +0000" (GNUstep's <*D...>) as seconds since 2001-01-01 UTC.
std::optional<PlistValue> parseTypedDate(const std::string& text)
{
    const std::size_t space = text.find(' ');
    const std::size_t zone = text.rfind(' ');
    if (space == std::string::npos || zone == space || zone + 6 != text.size())
        return std::nullopt;
    const std::string_view offset = std::string_view(text).substr(zone + 1);
    if (offset[0] != '+' && offset[0] != '-')
        return std::nullopt;
    int digits[4];
    for (int i = 0; i < 4; ++i) {
        if (offset[1 + i] < '0' || offset[1 + i] > '9')
            return std::nullopt;
        digits[i] = offset[1 + i] - '0';
    }
    const auto local =
        parseDateText(text.substr(0, space) + 'T' + text.substr(space + 1, zone - space - 1) + 'Z');
    if (!local)
        return std::nullopt;
    const double seconds = (digits[0] * 10 + digits[1]) * 3600.0 + (digits[2] * 10 + digits[3]) * 60.0;
    return PlistValue::date(local->realValue() - (offset[0] == '+' ? seconds : -seconds));
}

} // namespace

OpenStepGrammar::OpenStepGrammar(std::u16string_view text, OpenStepParserDelegate& delegate)
    : _text(text), _delegate(delegate)
{
}

OpenStepGrammar::OpenStepGrammar(OpenStepTextSource& source, OpenStepParserDelegate& delegate, bool keepComments)
    : _text(source.text()), _source(&source), _delegate(delegate), _keepComments(keepComments)
{
}

bool OpenStepGrammar::refill(std::size_t count)
{
    if (!_source)
        return false;
    while (_pos + count > _text.size()) {
        _base += _pos;
        const bool more = _source->refill(_pos);
        _text = _source->text();
        _pos = 0;
        if (!more)
            return count <= _text.size();
    }
    return true;
}

void OpenStepGrammar::advance()
{
    const char16_t c = _text[_pos++];
    if (c == u'\n' || (c == u'\r' && (atEnd() || _text[_pos] != u'\n')))
        ++_line;
}

bool OpenStepGrammar::fail(std::string message, std::uint64_t line, std::uint64_t offset)
{
    if (!_error)
        _error = OpenStepError{std::move(message), line, offset};
    return false;
}

bool OpenStepGrammar::skipSpace(std::vector<OpenStepComment>* comments)
{
    if (!_keepComments)
        comments = nullptr;
    while (!atEnd()) {
        const char16_t c = peek();
        if (isSpace(c)) {
            advance();
            continue;
        }
        if (c != u'/' || !fill(2) || (_text[_pos + 1] != u'*' && _text[_pos + 1] != u'/'))
            return true;
        const bool block = _text[_pos + 1] == u'*';
        const std::uint64_t firstLine = _line;
        const std::uint64_t start = here();
        _pos += 2;
        Text body;
        if (block) {
            while (true) {
                if (!fill(2))
                    return fail("unterminated comment", firstLine, start);
                if (_text[_pos] == u'*' && _text[_pos + 1] == u'/')
                    break;
                if (comments)
                    body += _text[_pos];
                advance();
            }
        } else {
            while (!atEnd() && peek() != u'\n' && peek() != u'\r') {
                if (comments)
                    body += peek();
                ++_pos;
            }
        }
        if (comments)
            comments->push_back({std::move(body), block, firstLine, _line});
        if (block)
            _pos += 2;
    }
    return true;
}

bool OpenStepGrammar::readValue(PlistValue& out, std::size_t depth)
{
    if (atEnd())
        return fail("expected a value", _line, here());
    const char16_t c = peek();
    if (c == u'"' || c == u'\'') {
        Text text;
        if (!readQuoted(text))
            return false;
        out = PlistValue(std::move(text));
        return true;
    }
    if (isOpenStepUnquoted(c)) {
        Text text;
        readUnquoted(text);
        out = PlistValue(std::move(text));
        return true;
    }
    if (c == u'{')
        return readDictionary(out, depth + 1);
    if (c == u'(')
        return readArray(out, depth + 1);
    if (c == u'<')
        return readAngled(out);
    return fail("unexpected character " + shownCharacter(c), _line, here());
}

bool OpenStepGrammar::readQuoted(Text& out)
{
    const char16_t quote = peek();
    const std::uint64_t firstLine = _line;
    const std::uint64_t start = here();
    ++_pos;
    while (true) {
        // The plain run up to the next quote or backslash (or a carriage return that ends the
        // window, whose line break depends on what follows) in one piece.
        std::size_t end = _pos;
        const std::size_t size = _text.size();
        while (end < size && _text[end] != quote && _text[end] != u'\\' && !(_text[end] == u'\r' && end + 1 == size)) {
            const char16_t c = _text[end++];
            if (c == u'\n' || (c == u'\r' && _text[end] != u'\n'))
                ++_line;
        }
        out.append(_text.substr(_pos, end - _pos));
        _pos = end;
        if (atEnd())
            return fail("unterminated string", firstLine, start);
        const char16_t c = peek();
        if (c == quote) {
            ++_pos;
            return true;
        }
        if (c == u'\\') {
            if (!readEscape(out))
                return false;
            continue;
        }
        out += c; // the carriage return
        advance();
    }
}

bool OpenStepGrammar::readEscape(Text& out)
{
    const std::uint64_t line = _line;
    const std::uint64_t start = here();
    ++_pos; // the backslash
    if (atEnd())
        return true; // the caller reports the string unterminated
    const char16_t c = peek();
    switch (c) {
    case u'a': out += u'\a'; ++_pos; return true;
    case u'b': out += u'\b'; ++_pos; return true;
    case u'f': out += u'\f'; ++_pos; return true;
    case u'n': out += u'\n'; ++_pos; return true;
    case u'r': out += u'\r'; ++_pos; return true;
    case u't': out += u'\t'; ++_pos; return true;
    case u'v': out += u'\v'; ++_pos; return true;
    default: break;
    }
    if (c >= u'0' && c <= u'7') {
        unsigned value = 0;
        std::size_t digits = 0;
        std::string shown = "\\";
        while (digits < 3 && !atEnd() && peek() >= u'0' && peek() <= u'7') {
            value = value * 8 + (peek() - u'0');
            shown += static_cast<char>(peek());
            ++_pos;
            ++digits;
        }
        if (value < 0x80) {
            out += static_cast<char16_t>(value);
            return true;
        }
        if (const auto character = nextStepCharacter(value)) {
            out += *character;
            return true;
        }
        return fail(shown + " is no NeXTSTEP character", line, start);
    }
    if (c == u'U') {
        // 1-4 hex digits; a high surrogate must be followed by an escaped low one.
        unsigned value = 0;
        const std::size_t digits = hexDigits(1, value);
        if (digits == 0)
            return fail("\\U without hex digits", line, start);
        _pos += 1 + digits;
        if (isHighSurrogate(value) && fill(2) && _text[_pos] == u'\\' && _text[_pos + 1] == u'U') {
            unsigned low = 0;
            const std::size_t lowDigits = hexDigits(2, low);
            if (lowDigits > 0 && isLowSurrogate(low)) {
                out += static_cast<char16_t>(value);
                out += static_cast<char16_t>(low);
                _pos += 2 + lowDigits;
                return true;
            }
        }
        if (isHighSurrogate(value) || isLowSurrogate(value))
            return fail("\\U" + hex4(value) + " is half of a surrogate pair without the other half", line, start);
        out += static_cast<char16_t>(value);
        return true;
    }
    // Any other character (the quotes and the backslash among them) stands for itself.
    advance();
    out += c;
    return true;
}

std::size_t OpenStepGrammar::hexDigits(std::size_t ahead, unsigned& value)
{
    fill(ahead + 4);
    std::size_t digits = 0;
    value = 0;
    const std::size_t at = _pos + ahead;
    while (digits < 4 && at + digits < _text.size() && hexDigitValue(_text[at + digits]) >= 0) {
        value = value * 16 + static_cast<unsigned>(hexDigitValue(_text[at + digits]));
        ++digits;
    }
    return digits;
}

bool OpenStepGrammar::readUnquoted(Text& out)
{
    out.clear();
    while (!atEnd() && isOpenStepUnquoted(peek())) {
        std::size_t end = _pos;
        while (end < _text.size() && isOpenStepUnquoted(_text[end]))
            ++end;
        out.append(_text.substr(_pos, end - _pos));
        _pos = end;
    }
    return true;
}

bool OpenStepGrammar::readAngled(PlistValue& out)
{
    const std::uint64_t firstLine = _line;
    const std::uint64_t start = here();
    ++_pos;
    if (!atEnd() && peek() == u'*')
        return readTyped(out, firstLine, start);
    std::string bytes;
    int high = -1;
    while (true) {
        while (!atEnd() && isSpace(peek()))
            advance();
        if (atEnd())
            return fail("unterminated data", firstLine, start);
        const char16_t c = peek();
        if (c == u'>') {
            if (high >= 0)
                return fail("data with an odd number of hex digits", _line, here());
            ++_pos;
            out = PlistValue::data(std::move(bytes));
            return true;
        }
        const int nibble = hexDigitValue(c);
        if (nibble < 0)
            return fail("unexpected character " + shownCharacter(c) + " in data", _line, here());
        ++_pos;
        if (high < 0) {
            high = nibble;
        } else {
            bytes += static_cast<char>(high * 16 + nibble);
            high = -1;
        }
    }
}

bool OpenStepGrammar::readTyped(PlistValue& out, std::uint64_t firstLine, std::uint64_t start)
{
    ++_pos; // the '*'
    Text bodyText;
    while (!atEnd() && peek() != u'>' && peek() != u'\n' && peek() != u'\r') {
        bodyText += peek();
        ++_pos;
    }
    if (atEnd() || peek() != u'>')
        return fail("unterminated typed value", firstLine, start);
    const std::u16string_view body = bodyText;
    ++_pos;
    const std::string shown = "<*" + utf8(body) + ">";
    if (body.empty())
        return fail(shown + " names no type", firstLine, start);
    const std::string content = utf8(body.substr(1));
    std::optional<PlistValue> value;
    const char* kind = "a value of a known type";
    switch (body[0]) {
    case u'I':
        value = parseIntegerText(content);
        kind = "an integer";
        break;
    case u'R':
        value = parseRealText(content);
        kind = "a real";
        break;
    case u'B':
        if (content == "Y")
            value = PlistValue::boolean(true);
        else if (content == "N")
            value = PlistValue::boolean(false);
        kind = "a boolean (Y or N)";
        break;
    case u'D':
        value = parseTypedDate(content);
        kind = "a date (YYYY-MM-DD HH:MM:SS +ZZZZ)";
        break;
    default: break;
    }
    if (!value)
        return fail(shown + " is not " + kind, firstLine, start);
    out = std::move(*value);
    return true;
}

bool OpenStepGrammar::readArray(PlistValue& out, std::size_t depth)
{
    const std::uint64_t firstLine = _line;
    const std::uint64_t start = here();
    if (depth > maxPropertyListDepth)
        return fail("arrays and dictionaries nested deeper than " + std::to_string(maxPropertyListDepth) + " levels",
                    firstLine, start);
    ++_pos;
    PlistValue::Array elements;
    while (true) {
        if (!skipSpace(nullptr))
            return false;
        if (atEnd())
            return fail("unterminated array", firstLine, start);
        if (peek() == u')')
            break;
        PlistValue element;
        if (!readValue(element, depth))
            return false;
        elements.push_back(std::move(element));
        const std::uint64_t endLine = _line;
        const std::uint64_t endOffset = here();
        if (!skipSpace(nullptr))
            return false;
        if (atEnd())
            return fail("unterminated array", firstLine, start);
        if (peek() == u',') {
            ++_pos;
            continue;
        }
        if (peek() != u')')
            return fail("expected ',' or ')' after an array element", endLine, endOffset);
    }
    ++_pos;
    out = PlistValue(std::move(elements));
    return true;
}

bool OpenStepGrammar::readDictionary(PlistValue& out, std::size_t depth)
{
    const std::uint64_t firstLine = _line;
    const std::uint64_t start = here();
    if (depth > maxPropertyListDepth)
        return fail("arrays and dictionaries nested deeper than " + std::to_string(maxPropertyListDepth) + " levels",
                    firstLine, start);
    ++_pos;
    PlistValue::Dictionary entries;
    DictionaryKeys index;
    const Opening opening{firstLine, start};
    while (true) {
        if (!skipSpace(nullptr))
            return false;
        if (atEnd())
            return fail("unterminated dictionary", firstLine, start);
        if (peek() == u'}')
            break;
        const std::uint64_t keyLine = _line;
        Text key;
        if (!readKey(key, "expected a key or '}'"))
            return false;
        PlistValue value;
        std::uint64_t endLine = 0;
        if (!readEntryRest(key, value, depth, endLine, &opening))
            return false;
        if (const auto earlier = index.find(entries, key)) {
            _delegate.parserDidRepeatKey(key, keyLine);
            entries[*earlier].second = std::move(value);
        } else {
            entries.emplace_back(std::move(key), std::move(value));
        }
    }
    ++_pos;
    out = PlistValue(std::move(entries));
    return true;
}

bool OpenStepGrammar::readKey(Text& key, const char* expected)
{
    if (atEnd())
        return fail(expected, _line, here());
    const char16_t c = peek();
    if (c == u'"' || c == u'\'')
        return readQuoted(key);
    if (isOpenStepUnquoted(c))
        return readUnquoted(key);
    return fail(std::string(expected) + ", found " + shownCharacter(c), _line, here());
}

bool OpenStepGrammar::readEntryRest(const Text& key, PlistValue& value, std::size_t depth, std::uint64_t& endLine,
                                    const Opening* opening)
{
    // At the end of the text inside braces, the dictionary is what was never closed.
    auto atEndFail = [&](std::string message, std::uint64_t line, std::uint64_t offset) {
        if (opening)
            return fail("unterminated dictionary", opening->line, opening->offset);
        return fail(std::move(message), line, offset);
    };
    if (!skipSpace(nullptr))
        return false;
    if (atEnd())
        return atEndFail("expected '=' after the key " + shownKey(key), _line, here());
    if (peek() == u';') {
        value = PlistValue(key);
        endLine = _line;
        ++_pos;
        return true;
    }
    if (peek() != u'=')
        return fail("expected '=' after the key " + shownKey(key), _line, here());
    ++_pos;
    if (!skipSpace(nullptr))
        return false;
    if (atEnd())
        return atEndFail("expected the value of " + shownKey(key), _line, here());
    if (!readValue(value, depth))
        return false;
    const std::uint64_t valueEndLine = _line;
    const std::uint64_t valueEnd = here();
    if (!skipSpace(nullptr))
        return false;
    if (atEnd())
        return atEndFail("expected ';' after the value of " + shownKey(key), valueEndLine, valueEnd);
    if (peek() != u';')
        return fail("expected ';' after the value of " + shownKey(key), valueEndLine, valueEnd);
    endLine = _line;
    ++_pos;
    return true;
}

bool OpenStepGrammar::readRootDictionary(bool stringsForm, std::optional<Text> firstKey, std::uint64_t firstLine,
                                         std::vector<OpenStepComment> pending)
{
    const Opening opening{_line, here()};
    if (!stringsForm)
        ++_pos; // the '{'
    _delegate.parserDidStartRootDictionary(stringsForm);
    std::unordered_set<Text> seen;
    while (true) {
        Text key;
        std::uint64_t keyLine = firstLine;
        if (firstKey) {
            key = std::move(*firstKey);
            firstKey.reset();
        } else {
            if (!skipSpace(&pending))
                return false;
            if (atEnd()) {
                if (!stringsForm)
                    return fail("unterminated dictionary", opening.line, opening.offset);
                break;
            }
            if (!stringsForm && peek() == u'}') {
                ++_pos;
                return finishRoot(std::move(pending));
            }
            keyLine = _line;
            if (!readKey(key, stringsForm ? "expected a key" : "expected a key or '}'"))
                return false;
        }
        OpenStepEntry entry;
        if (!readEntryRest(key, entry.value, 1, entry.endLine, stringsForm ? nullptr : &opening))
            return false;
        if (!seen.insert(key).second)
            _delegate.parserDidRepeatKey(key, keyLine);
        entry.key = std::move(key);
        entry.line = keyLine;
        entry.commentsBefore = std::move(pending);
        pending.clear();
        _delegate.parserDidReadEntry(std::move(entry));
    }
    if (!pending.empty())
        _delegate.parserDidReadTrailingComments(std::move(pending));
    return true;
}

bool OpenStepGrammar::readRootArray(std::vector<OpenStepComment> pending)
{
    const std::uint64_t firstLine = _line;
    const std::uint64_t start = here();
    ++_pos;
    _delegate.parserDidStartRootArray();
    while (true) {
        pending.clear(); // comments before an element have no place to go
        if (!skipSpace(&pending))
            return false;
        if (atEnd())
            return fail("unterminated array", firstLine, start);
        if (peek() == u')')
            break;
        const std::uint64_t line = _line;
        PlistValue element;
        if (!readValue(element, 1))
            return false;
        const std::uint64_t endLine = _line;
        const std::uint64_t endOffset = here();
        pending.clear();
        if (!skipSpace(&pending))
            return false;
        if (atEnd())
            return fail("unterminated array", firstLine, start);
        if (peek() != u',' && peek() != u')')
            return fail("expected ',' or ')' after an array element", endLine, endOffset);
        _delegate.parserDidReadArrayElement(std::move(element), line);
        if (peek() == u',')
            ++_pos;
        else
            break;
    }
    ++_pos;
    return finishRoot(std::move(pending));
}

bool OpenStepGrammar::finishRoot(std::vector<OpenStepComment> pending)
{
    if (!skipSpace(&pending))
        return false;
    if (!atEnd())
        return fail("unexpected " + shownCharacter(peek()) + " after the root value", _line, here());
    if (!pending.empty())
        _delegate.parserDidReadTrailingComments(std::move(pending));
    return true;
}

std::optional<OpenStepError> OpenStepGrammar::run()
{
    std::vector<OpenStepComment> pending;
    if (!skipSpace(&pending))
        return _error;
    if (atEnd()) {
        // An empty text (or one of comments only) is an empty strings file.
        _delegate.parserDidStartRootDictionary(true);
        if (!pending.empty())
            _delegate.parserDidReadTrailingComments(std::move(pending));
        return std::nullopt;
    }
    const char16_t c = peek();
    if (c == u'{') {
        readRootDictionary(false, std::nullopt, 0, std::move(pending));
        return _error;
    }
    if (c == u'(') {
        readRootArray(std::move(pending));
        return _error;
    }
    if (c == u'"' || c == u'\'' || isOpenStepUnquoted(c)) {
        // A string: the root value itself, or the first key of a strings file.
        const std::uint64_t line = _line;
        Text text;
        if (!readKey(text, "expected a value"))
            return _error;
        std::vector<OpenStepComment> after;
        if (!skipSpace(&after))
            return _error;
        if (!atEnd() && (peek() == u'=' || peek() == u';')) {
            // readEntryRest goes on from here (the comments after a key are passed over).
            readRootDictionary(true, std::move(text), line, std::move(pending));
            return _error;
        }
        if (!atEnd())
            return fail("expected '=' after the key " + shownKey(text), _line, here()), _error;
        _delegate.parserDidReadRootValue(PlistValue(std::move(text)));
        if (!after.empty())
            _delegate.parserDidReadTrailingComments(std::move(after));
        return std::nullopt;
    }
    PlistValue value;
    if (!readValue(value, 0))
        return _error;
    pending.clear();
    if (!skipSpace(&pending))
        return _error;
    if (!atEnd())
        return fail("unexpected " + shownCharacter(peek()) + " after the root value", _line, here()), _error;
    _delegate.parserDidReadRootValue(std::move(value));
    if (!pending.empty())
        _delegate.parserDidReadTrailingComments(std::move(pending));
    return std::nullopt;
}

} // namespace plistable::detail
