#include "core/plist/detail/PlistXmlWriter.hpp"

#include "core/io/AtomicFile.hpp"
#include "core/text/detail/Avx2Scans.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>

#include "core/text/detail/Simd.hpp"

namespace plistable::detail {
namespace {

constexpr std::string_view prologText =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">";

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

// ASCII characters that go out unchanged: everything printable but & < >, and TAB, LF. A CR is
// written as a character reference: a reader of XML turns a raw CR (and CR LF) into LF, so the
// field would come back changed.
constexpr auto plainAscii = [] {
    std::array<bool, 128> table{};
    for (int c = 0x20; c < 0x80; ++c)
        table[c] = c != '&' && c != '<' && c != '>';
    table['\t'] = table['\n'] = true;
    return table;
}();

// Copies `bytes` to `out`; returns their end.
char* copyInto(char* out, std::string_view bytes)
{
    return out + bytes.copy(out, bytes.size());
}

// Every UTF-16 unit becomes at most 5 bytes ("&amp;", "&#13;"); U+FFFD for a lone surrogate is 3.
constexpr std::size_t maxBytesPerUnit = 5;

} // namespace

PlistXmlWriter::PlistXmlWriter(AtomicFile& file) : _file(file) {}

std::string_view PlistXmlWriter::prolog()
{
    return prologText;
}

void PlistXmlWriter::append(std::string_view bytes)
{
    bytes.copy(_file.beginWrite(bytes.size()), bytes.size());
    _file.endWrite(bytes.size());
}

char* PlistXmlWriter::escapeInto(char* out, std::u16string_view text)
{
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    while (p < end) {
#if PLISTABLE_SSE2
        // Eight units at a time while they are plain ASCII (U+0020..U+007F but & < >): narrowed to
        // bytes and stored at once. The first unit that is not stops the run and takes the path below.
        while (end - p >= 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            // Unsigned units - 0x20 < 0x60, as a signed comparison with the sign bit flipped.
            const __m128i offset = _mm_xor_si128(_mm_sub_epi16(units, _mm_set1_epi16(0x20)),
                                                 _mm_set1_epi16(static_cast<short>(0x8000)));
            __m128i plain = _mm_cmplt_epi16(offset, _mm_set1_epi16(static_cast<short>(0x8060)));
            const __m128i markup = _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('&')),
                                                _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('<')),
                                                             _mm_cmpeq_epi16(units, _mm_set1_epi16('>'))));
            plain = _mm_andnot_si128(markup, plain);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
            const unsigned notPlain = ~static_cast<unsigned>(_mm_movemask_epi8(plain)) & 0xFFFF;
            if (notPlain == 0) {
                p += 8;
                out += 8;
                continue;
            }
            const auto run = static_cast<std::size_t>(std::countr_zero(notPlain) >> 1);
            p += run;
            out += run;
            break;
        }
        if (p == end)
            break;
#endif
        const char16_t c = *p++;
        if (c < 0x80) {
            if (plainAscii[c]) {
                *out++ = static_cast<char>(c);
            } else if (c == u'&') {
                std::memcpy(out, "&amp;", 5), out += 5;
            } else if (c == u'<') {
                std::memcpy(out, "&lt;", 4), out += 4;
            } else if (c == u'>') {
                std::memcpy(out, "&gt;", 4), out += 4;
            } else if (c == u'\r') {
                std::memcpy(out, "&#13;", 5), out += 5;
            } else {
                std::memcpy(out, replacement.data(), 3), out += 3;
                ++_replaced;
            }
        } else if (c < 0x800) {
            *out++ = static_cast<char>(0xC0 | (c >> 6));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (*p++ - 0xDC00);
            *out++ = static_cast<char>(0xF0 | (cp >> 18));
            *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) {
            std::memcpy(out, replacement.data(), 3), out += 3;
            ++_replaced;
        } else {
            *out++ = static_cast<char>(0xE0 | (c >> 12));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

char* PlistXmlWriter::escapeInto(char* out, std::string_view text)
{
    // Well-formed UTF-8 goes out as it stands but for ASCII markup, CR and controls, and U+FFFE and
    // U+FFFF (EF BF BE, EF BF BF): the bytes the UTF-16 path writes for the same characters.
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
#if PLISTABLE_SSE2
        // Sixteen bytes at a time up to the first that needs a look: a control byte, & < > or 0xEF.
        // The bytes past the field's end that a block reads are readable (utf8Slack) and ignored;
        // each block is stored whole (the room has utf8Slack bytes more) and kept up to that byte.
        const std::size_t left = static_cast<std::size_t>(end - p);
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(bytes, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
        const __m128i markup = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')),
                                                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8('<'))),
                                            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('>')),
                                                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0xEF)))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
        auto look = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, markup)));
        if (left < 16)
            look &= (1u << left) - 1;
        if (look == 0) {
            const std::size_t taken = std::min<std::size_t>(left, 16);
            p += taken;
            out += taken;
#if PLISTABLE_AVX2
            // A long clean run goes on 32 bytes a step where the processor has them.
            if (end - p >= 32 && useAvx2()) {
                const auto* stop = reinterpret_cast<const char*>(
                    skipUnescapedXmlAvx2(reinterpret_cast<const unsigned char*>(p), reinterpret_cast<const unsigned char*>(end)));
                std::memcpy(out, p, static_cast<std::size_t>(stop - p));
                out += stop - p;
                p = stop;
            }
#endif
            continue;
        }
        const auto run = static_cast<std::size_t>(std::countr_zero(look));
        p += run;
        out += run;
#endif
        const auto c = static_cast<unsigned char>(*p++);
        if (c >= 0x80) {
            if (c == 0xEF && end - p >= 2 && static_cast<unsigned char>(p[0]) == 0xBF
                && (static_cast<unsigned char>(p[1]) & 0xFE) == 0xBE) {
                std::memcpy(out, replacement.data(), 3), out += 3;
                p += 2;
                ++_replaced;
            } else {
                *out++ = static_cast<char>(c);
            }
        } else if (plainAscii[c]) {
            *out++ = static_cast<char>(c);
        } else if (c == '&') {
            std::memcpy(out, "&amp;", 5), out += 5;
        } else if (c == '<') {
            std::memcpy(out, "&lt;", 4), out += 4;
        } else if (c == '>') {
            std::memcpy(out, "&gt;", 4), out += 4;
        } else if (c == '\r') {
            std::memcpy(out, "&#13;", 5), out += 5;
        } else {
            std::memcpy(out, replacement.data(), 3), out += 3;
            ++_replaced;
        }
    }
    return out;
}

void PlistXmlWriter::appendEscaped(std::u16string_view text)
{
    char* const start = _file.beginWrite(text.size() * maxBytesPerUnit);
    _file.endWrite(static_cast<std::size_t>(escapeInto(start, text) - start));
}

void PlistXmlWriter::beginDocument()
{
    append(prologText);
    append("\n<array>");
}

template <class View>
void PlistXmlWriter::writeRowOf(std::span<const View> fields)
{
    constexpr std::string_view open = "\n\t<array>", close = "\n\t</array>", openString = "\n\t\t<string>",
                               endString = "</string>";
    std::size_t bound = open.size() + close.size();
    for (const View field : fields)
        bound += openString.size() + endString.size() + field.size() * maxBytesPerUnit;
    char* const start = _file.beginWrite(bound + utf8Slack);
    char* out = copyInto(start, open);
    for (const View field : fields)
        out = copyInto(escapeInto(copyInto(out, openString), field), endString);
    out = copyInto(out, close);
    _file.endWrite(static_cast<std::size_t>(out - start));
}

template <class View>
void PlistXmlWriter::writeDictionaryOf(const std::vector<Text>& names, std::span<const View> values)
{
    constexpr std::string_view open = "\n\t<dict>", close = "\n\t</dict>", endString = "</string>";
    if (_prefixedNames != &names || _keyPrefixes.size() != names.size()) {
        // The key elements are the same in every record: escape them once, in the file's room
        // without keeping them there. Replaced characters in names are counted once, not once per
        // record.
        _keyPrefixes.clear();
        std::size_t longest = 0;
        for (const Text& name : names)
            longest = std::max(longest, name.size());
        char* const room = _file.beginWrite(longest * maxBytesPerUnit + 32);
        for (const Text& name : names) {
            char* out = copyInto(room, "\n\t\t<key>");
            out = copyInto(escapeInto(out, name), "</key>\n\t\t<string>");
            _keyPrefixes.emplace_back(room, out);
        }
        _prefixedNames = &names;
    }
    // One reservation for the whole element, then plain copies: this loop runs for every field of
    // every record.
    std::size_t bound = open.size() + close.size();
    for (std::size_t i = 0; i < names.size(); ++i)
        bound += _keyPrefixes[i].size() + endString.size() + values[i].size() * maxBytesPerUnit;
    char* const start = _file.beginWrite(bound + utf8Slack);
    char* out = copyInto(start, open);
    for (std::size_t i = 0; i < names.size(); ++i) {
        out = copyInto(out, _keyPrefixes[i]);
        out = copyInto(escapeInto(out, values[i]), endString);
    }
    out = copyInto(out, close);
    _file.endWrite(static_cast<std::size_t>(out - start));
}

void PlistXmlWriter::writeRow(std::span<const std::u16string_view> fields)
{
    writeRowOf(fields);
}

void PlistXmlWriter::writeRow(std::span<const std::string_view> fields)
{
    writeRowOf(fields);
}

void PlistXmlWriter::writeDictionary(const std::vector<Text>& names, std::span<const std::u16string_view> values)
{
    writeDictionaryOf(names, values);
}

void PlistXmlWriter::writeDictionary(const std::vector<Text>& names, std::span<const std::string_view> values)
{
    writeDictionaryOf(names, values);
}

void PlistXmlWriter::beginValues(bool dictionaryRoot)
{
    _dictionaryRoot = dictionaryRoot;
    append(prologText);
    append(dictionaryRoot ? "\n<dict>" : "\n<array>");
}

void PlistXmlWriter::appendIndent(std::size_t depth)
{
    append("\n");
    for (std::size_t i = 0; i < depth; ++i)
        append("\t");
}

void PlistXmlWriter::writeIndented(const PlistValue& value, std::size_t depth)
{
    appendIndent(depth);
    switch (value.kind()) {
    case PlistValue::Kind::Integer: append("<integer>" + std::to_string(value.integerValue()) + "</integer>"); return;
    case PlistValue::Kind::Unsigned:
        append("<integer>" + std::to_string(value.unsignedValue()) + "</integer>");
        return;
    case PlistValue::Kind::Real: {
        const Text text = value.description();
        append("<real>" + std::string(text.begin(), text.end()) + "</real>");
        return;
    }
    case PlistValue::Kind::Boolean: append(value.booleanValue() ? "<true/>" : "<false/>"); return;
    case PlistValue::Kind::Array:
        append("<array>");
        for (const PlistValue& element : value.array())
            writeIndented(element, depth + 1);
        appendIndent(depth);
        append("</array>");
        return;
    case PlistValue::Kind::Dictionary:
        append("<dict>");
        for (const auto& [key, element] : value.dictionary()) {
            appendIndent(depth + 1);
            append("<key>");
            appendEscaped(key);
            append("</key>");
            writeIndented(element, depth + 1);
        }
        appendIndent(depth);
        append("</dict>");
        return;
    case PlistValue::Kind::String: break;
    case PlistValue::Kind::Date:
        // The calendar form; a date too far out for one is written as the string of its seconds.
        if (PlistValue::isRepresentableDate(value.realValue())) {
            append("<date>");
            appendEscaped(value.description());
            append("</date>");
            return;
        }
        append("<string>");
        appendEscaped(value.description());
        append("</string>");
        return;
    case PlistValue::Kind::Data:
        append("<data>");
        appendEscaped(value.description());
        append("</data>");
        return;
    }
    append("<string>");
    appendEscaped(value.string());
    append("</string>");
}

void PlistXmlWriter::writeValue(const PlistValue& value)
{
    writeIndented(value, 1);
}

void PlistXmlWriter::writeEntry(const Text& key, const PlistValue& value)
{
    append("\n\t<key>");
    appendEscaped(key);
    append("</key>");
    writeIndented(value, 1);
}

void PlistXmlWriter::endValues()
{
    append(_dictionaryRoot ? "\n</dict>\n</plist>" : "\n</array>\n</plist>");
}

void PlistXmlWriter::endDocument()
{
    append("\n</array>\n</plist>");
}

} // namespace plistable::detail
