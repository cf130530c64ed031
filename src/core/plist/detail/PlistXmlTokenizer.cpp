#include "core/plist/detail/PlistXmlTokenizer.hpp"

#include <array>
#include <cstring>

#include "core/plist/detail/XmlTextScan.hpp"
#include "core/text/detail/Avx2Scans.hpp"
#include "core/text/detail/Simd.hpp"

// How this works
//
// run() walks the bytes it is given construct by construct. Each scan*() function either reads a
// whole construct (Done, `p` moved past it), finds it cut off by the end of the bytes (Wait: the
// caller keeps the bytes from the construct's start for the next feed), or finds something it
// does not accept (Bad: the status becomes Unsupported and the caller hands the document to
// expat). Text is appended to the character buffer as it is read, so only a few bytes of it are
// ever kept between feeds; markup is read only once its closing '>' is there.
//
// The rule that keeps this safe: never accept what expat refuses, and never report an event that
// expat would not report at the same place. When in doubt, return Bad; expat then gives today's
// answer. The differential fuzzer (PlistXmlTokenizerFuzzer) checks exactly this. If you accept a
// new construct here, add cases for it to PlistXmlTokenizerTest.
//
// Positions are counted only when asked for (and before bytes are dropped), the way expat does:
// lines end at LF, CR or CRLF; the column counts characters, not bytes.

namespace plistable::detail {
namespace {

constexpr bool isSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

constexpr bool isNameStart(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

constexpr bool isNameChar(unsigned char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Characters XML allows, as a code point.
bool isXmlChar(std::uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
           || (c >= 0x10000 && c <= 0x10FFFF);
}

void appendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Checks that [p, end) holds only characters XML allows (comments, instructions, CDATA).
bool allXmlChars(const char* p, const char* end)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    const auto* e = reinterpret_cast<const unsigned char*>(end);
    while (u < e) {
        if (*u < 0x80) {
            if (*u < 0x20 && !isSpace(*u))
                return false;
            ++u;
            continue;
        }
        const int n = xmlCharacterLength(u, e);
        if (n <= 0)
            return false;
        u += n;
    }
    return true;
}

bool startsWith(const char* p, const char* end, std::string_view prefix)
{
    return static_cast<std::size_t>(end - p) >= prefix.size() && std::memcmp(p, prefix.data(), prefix.size()) == 0;
}

// A prefix of `prefix` that is cut off by `end`: more bytes are needed to decide.
bool cutOffPrefixOf(const char* p, const char* end, std::string_view prefix)
{
    const auto have = static_cast<std::size_t>(end - p);
    return have < prefix.size() && std::memcmp(p, prefix.data(), have) == 0;
}

const char* skipSpace(const char* p, const char* end)
{
    while (p < end && isSpace(static_cast<unsigned char>(*p)))
        ++p;
    return p;
}

const char* skipName(const char* p, const char* end)
{
    if (p == end || !isNameStart(static_cast<unsigned char>(*p)))
        return p;
    ++p;
    while (p < end && isNameChar(static_cast<unsigned char>(*p)))
        ++p;
    return p;
}

// A quoted literal of printable ASCII that `allowed` accepts, ending before `end`; the position
// after its closing quote, or nullptr.
template <typename Allowed>
const char* skipLiteral(const char* p, const char* end, Allowed allowed)
{
    if (p == end || (*p != '"' && *p != '\''))
        return nullptr;
    const char quote = *p++;
    while (p < end && *p != quote) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c >= 0x7F || c == '<' || c == '&' || !allowed(c))
            return nullptr;
        ++p;
    }
    return p == end ? nullptr : p + 1;
}

// `S? = S?` then a literal; the position after it, or nullptr.
template <typename Allowed>
const char* skipAttributeValue(const char* p, const char* end, Allowed allowed)
{
    p = skipSpace(p, end);
    if (p == end || *p != '=')
        return nullptr;
    return skipLiteral(skipSpace(p + 1, end), end, allowed);
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

PlistXmlTokenizer::PlistXmlTokenizer(ExpatParser::Handler& handler, std::string& characters)
    : _handler(handler), _characters(characters)
{
}

char* PlistXmlTokenizer::buffer(std::size_t size)
{
    if (_pending.size() < _pendingSize + size)
        _pending.resize(_pendingSize + size);
    return _pending.data() + _pendingSize;
}

bool PlistXmlTokenizer::feedBuffer(std::size_t length, bool isFinal)
{
    if (_status != Status::Reading)
        return false;
    const std::size_t size = _pendingSize + length;
    const std::size_t used = run(_pending.data(), size, isFinal);
    if (_status != Status::Reading)
        return false;
    const std::size_t left = size - used;
    if (left > maxPending) {
        _status = Status::Unsupported;
        return false;
    }
    std::memmove(_pending.data(), _pending.data() + used, left);
    _pendingSize = left;
    _base += used;
    return true;
}

bool PlistXmlTokenizer::feed(std::string_view bytes, bool isFinal)
{
    if (_status != Status::Reading)
        return false;
    if (_pendingSize > 0) {
        std::memcpy(buffer(bytes.size()), bytes.data(), bytes.size());
        return feedBuffer(bytes.size(), isFinal);
    }
    const std::size_t used = run(bytes.data(), bytes.size(), isFinal);
    if (_status != Status::Reading)
        return false;
    const std::size_t left = bytes.size() - used;
    if (left > maxPending) {
        _status = Status::Unsupported;
        return false;
    }
    std::memcpy(buffer(left), bytes.data() + used, left);
    _pendingSize = left;
    _base += used;
    return true;
}

std::size_t PlistXmlTokenizer::run(const char* data, std::size_t size, bool isFinal)
{
    _data = data;
    const char* p = data;
    const char* const end = data + size;
    if (_phase == Phase::Start) {
        // Wait until the byte-order mark and the start of a declaration are there in full.
        if (!isFinal && (cutOffPrefixOf(p, end, "\xEF\xBB\xBF") || cutOffPrefixOf(p, end, "<?xml ")
                         || (startsWith(p, end, "\xEF\xBB\xBF") && cutOffPrefixOf(p + 3, end, "<?xml "))))
            return 0;
        if (startsWith(p, end, "\xEF\xBB\xBF"))
            p += 3;
        _phase = Phase::Prolog;
        if (startsWith(p, end, "<?xml") && end - p > 5 && isSpace(static_cast<unsigned char>(p[5]))) {
            const char* close = static_cast<const char*>(std::memchr(p, '>', static_cast<std::size_t>(end - p)));
            if (!close) {
                _phase = Phase::Start;
                if (isFinal)
                    _status = Status::Unsupported;
                return 0;
            }
            if (scanDeclaration(p, end, close) != Scan::Done) {
                _status = Status::Unsupported;
                return 0;
            }
        }
    }
    while (p < end) {
        const char* const at = p;
        Scan scan;
        if (*p == '<')
            scan = scanMarkup(p, end, isFinal);
        else if (_phase == Phase::Content)
            scan = scanText(p, end, isFinal);
        else
            scan = scanSpace(p, end);
        if (_status == Status::Stopped)
            return static_cast<std::size_t>(p - data);
        if (scan == Scan::Bad) {
            _status = Status::Unsupported;
            return static_cast<std::size_t>(at - data);
        }
        if (scan == Scan::Wait)
            break; // markup leaves `p` at its start; text at the first byte it could not decide on
    }
    if (isFinal) {
        _status = p == end && _phase == Phase::Epilog ? Status::Finished : Status::Unsupported;
        return static_cast<std::size_t>(p - data);
    }
    countTo(_base + static_cast<std::uint64_t>(p - data));
    return static_cast<std::size_t>(p - data);
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanSpace(const char*& p, const char* end)
{
    const char* q = skipSpace(p, end);
    if (q == p)
        return Scan::Bad; // text outside the root element, or a reference there
    p = q;
    return Scan::Done;
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanText(const char*& p, const char* end, bool isFinal)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    const auto* const e = reinterpret_cast<const unsigned char*>(end);
    const unsigned char* run = u;
    auto flush = [&] {
        _characters.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(u - run));
    };
    while (u < e) {
        if (plainXmlText[*u]) {
            ++u;
            continue;
        }
        const unsigned char c = *u;
        if (c >= 0x80) {
            const int n = xmlCharacterLength(u, e);
            if (n > 0) {
                u += n;
                continue;
            }
            flush();
            p = reinterpret_cast<const char*>(u);
            return n < 0 && !isFinal ? Scan::Wait : Scan::Bad;
        }
        if (c == ']') {
            // "]]>" may not appear in text.
            if (e - u < 3) {
                if (!isFinal && (e - u == 1 || u[1] == ']')) {
                    flush();
                    p = reinterpret_cast<const char*>(u);
                    return Scan::Wait;
                }
            } else if (u[1] == ']' && u[2] == '>') {
                flush();
                p = reinterpret_cast<const char*>(u);
                return Scan::Bad;
            }
            ++u;
            continue;
        }
        flush();
        if (c == '\r') {
            // CRLF and a lone CR both become one LF, as expat reports them.
            if (e - u < 2 && !isFinal) {
                p = reinterpret_cast<const char*>(u);
                return Scan::Wait;
            }
            _characters.push_back('\n');
            u += e - u >= 2 && u[1] == '\n' ? 2 : 1;
            run = u;
            continue;
        }
        p = reinterpret_cast<const char*>(u);
        if (c == '&') {
            const Scan scan = scanReference(p, end);
            if (scan != Scan::Done)
                return scan == Scan::Wait && isFinal ? Scan::Bad : scan;
            u = reinterpret_cast<const unsigned char*>(p);
            run = u;
            continue;
        }
        return c == '<' ? Scan::Done : Scan::Bad; // markup follows, or a control character
    }
    flush();
    p = end;
    return Scan::Done;
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanReference(const char*& p, const char* end)
{
    constexpr std::size_t longest = 12; // "&#x0010FFFF;" and the like; longer ones go to expat
    const char* semicolon =
        static_cast<const char*>(std::memchr(p, ';', std::min<std::size_t>(static_cast<std::size_t>(end - p), longest)));
    if (!semicolon)
        return static_cast<std::size_t>(end - p) < longest ? Scan::Wait : Scan::Bad;
    const std::string_view name(p + 1, static_cast<std::size_t>(semicolon - p - 1));
    if (name.empty())
        return Scan::Bad;
    if (name[0] == '#') {
        std::uint32_t value = 0;
        std::string_view digits = name.substr(1);
        const bool hex = !digits.empty() && digits[0] == 'x';
        if (hex)
            digits.remove_prefix(1);
        if (digits.empty() || digits.size() > 8)
            return Scan::Bad;
        for (char d : digits) {
            std::uint32_t v;
            if (d >= '0' && d <= '9')
                v = static_cast<std::uint32_t>(d - '0');
            else if (hex && d >= 'a' && d <= 'f')
                v = static_cast<std::uint32_t>(d - 'a' + 10);
            else if (hex && d >= 'A' && d <= 'F')
                v = static_cast<std::uint32_t>(d - 'A' + 10);
            else
                return Scan::Bad;
            value = value * (hex ? 16 : 10) + v;
        }
        if (!isXmlChar(value))
            return Scan::Bad;
        appendUtf8(_characters, value);
    } else if (name == "lt") {
        _characters.push_back('<');
    } else if (name == "gt") {
        _characters.push_back('>');
    } else if (name == "amp") {
        _characters.push_back('&');
    } else if (name == "apos") {
        _characters.push_back('\'');
    } else if (name == "quot") {
        _characters.push_back('"');
    } else {
        return Scan::Bad; // another entity: expat tells whether it is declared
    }
    p = semicolon + 1;
    return Scan::Done;
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanMarkup(const char*& p, const char* end, bool isFinal)
{
    if (end - p < 2)
        return isFinal ? Scan::Bad : Scan::Wait;
    const char second = p[1];
    if (second == '!') {
        if (startsWith(p, end, "<!--"))
            return scanComment(p, end);
        if (_phase == Phase::Content && startsWith(p, end, "<![CDATA["))
            return scanCdata(p, end);
        if (_phase == Phase::Prolog && !_seenDoctype && startsWith(p, end, "<!DOCTYPE")) {
            const char* close = static_cast<const char*>(std::memchr(p, '>', static_cast<std::size_t>(end - p)));
            if (!close)
                return Scan::Wait;
            return scanDoctype(p, end, close);
        }
        if (cutOffPrefixOf(p, end, "<!--") || cutOffPrefixOf(p, end, "<![CDATA[")
            || cutOffPrefixOf(p, end, "<!DOCTYPE"))
            return Scan::Wait;
        return Scan::Bad;
    }
    if (second == '?')
        return scanProcessingInstruction(p, end);
    const char* close = static_cast<const char*>(std::memchr(p, '>', static_cast<std::size_t>(end - p)));
    if (!close)
        return Scan::Wait;
    if (second == '/')
        return _phase == Phase::Content ? scanEndTag(p, end, close) : Scan::Bad;
    if (_phase == Phase::Epilog)
        return Scan::Bad;
    return scanStartTag(p, end, close);
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanStartTag(const char*& p, const char* /*end*/, const char* close)
{
    const char* at = p;
    const char* nameEnd = skipName(p + 1, close);
    if (nameEnd == p + 1)
        return Scan::Bad;
    const std::string_view name(p + 1, static_cast<std::size_t>(nameEnd - p - 1));
    const char* q = skipSpace(nameEnd, close);
    if (q != nameEnd && q < close && isNameStart(static_cast<unsigned char>(*q))) {
        // The one attribute accepted: <plist version="...">.
        const char* attributeEnd = skipName(q, close);
        if (name != "plist" || std::string_view(q, static_cast<std::size_t>(attributeEnd - q)) != "version")
            return Scan::Bad;
        q = skipAttributeValue(attributeEnd, close, [](unsigned char) { return true; });
        if (!q)
            return Scan::Bad;
        q = skipSpace(q, close);
    }
    bool empty = false;
    if (q + 1 == close && *q == '/') {
        empty = true;
        ++q;
    }
    if (q != close)
        return Scan::Bad;
    if (_phase != Phase::Content && _phase != Phase::Prolog)
        return Scan::Bad;
    p = close + 1;
    if (!startElement(at, name))
        return Scan::Done;
    if (empty)
        endElement(close + 1); // expat places the end of an empty-element tag after it
    return Scan::Done;
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanEndTag(const char*& p, const char* /*end*/, const char* close)
{
    const char* at = p;
    const char* nameEnd = skipName(p + 2, close);
    const std::string_view name(p + 2, static_cast<std::size_t>(nameEnd - p - 2));
    if (name.empty() || skipSpace(nameEnd, close) != close)
        return Scan::Bad;
    // The name must be that of the innermost open element (the last one in _openNames).
    const std::size_t open = _openNames.size() - 1; // the '\0' after the last name
    if (open < name.size() || std::memcmp(_openNames.data() + open - name.size(), name.data(), name.size()) != 0
        || (open > name.size() && _openNames[open - name.size() - 1] != '\0'))
        return Scan::Bad;
    p = close + 1;
    endElement(at);
    return Scan::Done;
}

bool PlistXmlTokenizer::startElement(const char* at, std::string_view name)
{
    _name.assign(name);
    _openNames.append(name);
    _openNames.push_back('\0');
    _phase = Phase::Content;
    _event = _base + static_cast<std::uint64_t>(at - _data);
    ++_elementEvents;
    _handler.xmlStartElement(_name.c_str());
    return _status == Status::Reading;
}

bool PlistXmlTokenizer::endElement(const char* at)
{
    // _openNames ends in "...\0name\0": report the last name, then drop it.
    const std::size_t last = _openNames.size() - 1;
    const std::size_t start = _openNames.rfind('\0', last - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    _name.assign(_openNames, from, last - from);
    _openNames.resize(from);
    if (_openNames.empty())
        _phase = Phase::Epilog;
    _event = _base + static_cast<std::uint64_t>(at - _data);
    ++_elementEvents;
    _handler.xmlEndElement(_name.c_str());
    return _status == Status::Reading;
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanComment(const char*& p, const char* end)
{
    const char* body = p + 4;
    const void* dashes = memmem(body, static_cast<std::size_t>(end - body), "--", 2);
    if (!dashes)
        return Scan::Wait;
    const char* d = static_cast<const char*>(dashes);
    if (end - d < 3)
        return Scan::Wait;
    if (d[2] != '>' || !allXmlChars(body, d))
        return Scan::Bad; // "--" inside a comment
    p = d + 3;
    return Scan::Done;
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanProcessingInstruction(const char*& p, const char* end)
{
    const char* target = p + 2;
    const char* targetEnd = skipName(target, end);
    if (targetEnd == end)
        return Scan::Wait;
    if (targetEnd == target)
        return Scan::Bad;
    // Targets beginning with "xml" are reserved (and expat refuses "xml" itself here).
    if (targetEnd - target >= 3 && equalsIgnoringAsciiCase(std::string_view(target, 3), "xml"))
        return Scan::Bad;
    const void* close = memmem(targetEnd, static_cast<std::size_t>(end - targetEnd), "?>", 2);
    if (!close)
        return Scan::Wait;
    const char* c = static_cast<const char*>(close);
    if (c != targetEnd && !isSpace(static_cast<unsigned char>(*targetEnd)))
        return Scan::Bad;
    if (!allXmlChars(targetEnd, c))
        return Scan::Bad;
    p = c + 2;
    return Scan::Done;
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanCdata(const char*& p, const char* end)
{
    const char* body = p + 9;
    const void* close = memmem(body, static_cast<std::size_t>(end - body), "]]>", 3);
    if (!close)
        return Scan::Wait;
    const char* c = static_cast<const char*>(close);
    if (!allXmlChars(body, c))
        return Scan::Bad;
    // Line ends become LF here too.
    for (const char* q = body; q < c;) {
        const char* cr = static_cast<const char*>(std::memchr(q, '\r', static_cast<std::size_t>(c - q)));
        if (!cr) {
            _characters.append(q, static_cast<std::size_t>(c - q));
            break;
        }
        _characters.append(q, static_cast<std::size_t>(cr - q));
        _characters.push_back('\n');
        q = cr + 1 < c && cr[1] == '\n' ? cr + 2 : cr + 1;
    }
    p = c + 3;
    return Scan::Done;
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanDeclaration(const char*& p, const char* end, const char* close)
{
    // <?xml version="1.0" [encoding="UTF-8"] [standalone="yes"|"no"] ?>
    (void)end;
    const char* q = p + 5;
    auto attribute = [&](std::string_view name, auto accept) {
        const char* s = skipSpace(q, close);
        if (s == q || !startsWith(s, close, name))
            return false;
        const char* equals = skipSpace(s + name.size(), close);
        if (equals == close || *equals != '=')
            return false;
        const char* literal = skipSpace(equals + 1, close);
        const char* valueEnd = skipLiteral(literal, close, [](unsigned char) { return true; });
        if (!valueEnd)
            return false;
        const std::string_view value(literal + 1, static_cast<std::size_t>(valueEnd - literal - 2));
        if (!accept(value))
            return false;
        q = valueEnd;
        return true;
    };
    if (!attribute("version", [](std::string_view v) { return v == "1.0"; }))
        return Scan::Bad;
    const char* before = q;
    if (!attribute("encoding", [](std::string_view v) { return equalsIgnoringAsciiCase(v, "UTF-8"); }))
        q = before;
    before = q;
    if (!attribute("standalone", [](std::string_view v) { return v == "yes" || v == "no"; }))
        q = before;
    q = skipSpace(q, close);
    if (q + 1 != close || *q != '?')
        return Scan::Bad;
    p = close + 1;
    return Scan::Done;
}

PlistXmlTokenizer::Scan PlistXmlTokenizer::scanDoctype(const char*& p, const char* /*end*/, const char* close)
{
    // <!DOCTYPE name [SYSTEM "system" | PUBLIC "public" "system"] >, no internal subset.
    const char* q = p + 9;
    const char* s = skipSpace(q, close);
    if (s == q)
        return Scan::Bad;
    q = skipName(s, close);
    if (q == s)
        return Scan::Bad;
    s = skipSpace(q, close);
    if (s != q && s < close) {
        auto system = [](unsigned char) { return true; };
        auto publicId = [](unsigned char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                   || std::strchr(" -'()+,./:=?;!*#@$_%", c) != nullptr;
        };
        if (startsWith(s, close, "SYSTEM")) {
            const char* t = skipSpace(s + 6, close);
            if (t == s + 6)
                return Scan::Bad;
            q = skipLiteral(t, close, system);
        } else if (startsWith(s, close, "PUBLIC")) {
            const char* t = skipSpace(s + 6, close);
            if (t == s + 6)
                return Scan::Bad;
            q = skipLiteral(t, close, publicId);
            if (!q)
                return Scan::Bad;
            t = skipSpace(q, close);
            if (t == q)
                return Scan::Bad;
            q = skipLiteral(t, close, system);
        } else {
            return Scan::Bad;
        }
        if (!q)
            return Scan::Bad;
        s = skipSpace(q, close);
    }
    if (s != close)
        return Scan::Bad;
    _seenDoctype = true;
    p = close + 1;
    return Scan::Done;
}

XmlPosition PlistXmlTokenizer::position() const
{
    countTo(_event);
    return XmlPosition{_line, _column + 1, _event};
}

void PlistXmlTokenizer::countTo(std::uint64_t offset) const
{
    if (offset <= _counted)
        return;
    const auto* p = reinterpret_cast<const unsigned char*>(_data) + (_counted - _base);
    const auto* const end = reinterpret_cast<const unsigned char*>(_data) + (offset - _base);
    _counted = offset;
    // Without a carriage return a line ends at each LF: count them sixteen bytes at a time and find
    // the last one; the column is what follows it. Otherwise the byte loop below, which knows CRLF.
    const auto length = static_cast<std::size_t>(end - p);
    if (length > 0 && !std::memchr(p, '\r', length)) {
        std::uint64_t lines = 0;
        const unsigned char* q = p;
#if PLISTABLE_AVX2
        if (useAvx2()) {
            const std::size_t blocks = length / 32;
            lines += countByteAvx2(reinterpret_cast<const char*>(q), blocks, '\n');
            q += 32 * blocks;
        }
#endif
#if PLISTABLE_SSE2
        const __m128i lf = _mm_set1_epi8('\n');
        while (end - q >= 16) {
            // Up to 255 blocks per byte counter, then the counters are summed.
            __m128i counts = _mm_setzero_si128();
            for (int block = 0; block < 255 && end - q >= 16; ++block, q += 16)
                counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), lf));
            const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
            lines += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums))
                     + static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
        }
#endif
        for (; q < end; ++q)
            lines += *q == '\n';
        if (const void* last = memrchr(p, '\n', length)) {
            if (_afterCr && *p == '\n')
                --lines; // the LF of a CRLF whose CR was counted already
            _line += lines;
            _column = 0;
            p = static_cast<const unsigned char*>(last) + 1;
        }
        for (; p < end; ++p)
            _column += (*p & 0xC0) != 0x80;
        _afterCr = false;
        return;
    }
    for (; p < end; ++p) {
        const unsigned char c = *p;
        if (c == '\n') {
            if (!_afterCr)
                ++_line;
            _column = 0;
            _afterCr = false;
        } else if (c == '\r') {
            ++_line;
            _column = 0;
            _afterCr = true;
        } else {
            _afterCr = false;
            _column += (c & 0xC0) != 0x80;
        }
    }
}

} // namespace plistable::detail
