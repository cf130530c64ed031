#pragma once

#include "core/plist/PlistValue.hpp"
#include "core/text/TextEncoding.hpp"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {
class AtomicFile;
}

namespace plistable::detail {

/// Writes the XML property-list document of CSV records piece by piece into a file: the prolog,
/// "\n<array>", one element per record, "\n</array>\n</plist>". LF line ends, TAB indents, UTF-8,
/// no line end after the last line. The bytes are those of the whole document built at once.
///
/// Text in <key> and <string> elements is escaped with &amp; &lt; &gt; only. Characters that XML 1.0
/// does not allow (controls other than TAB, LF and CR; lone surrogates; U+FFFE and U+FFFF) are written
/// as U+FFFD, so the document is always well-formed; replacedCharacters() counts them.
class PlistXmlWriter {
public:
    explicit PlistXmlWriter(AtomicFile& file);

    /// The prolog (XML declaration, document type, <plist version="1.0">) and "\n<array>".
    void beginDocument();
    /// "\n\t<array>", one "\n\t\t<string>...</string>" per field, "\n\t</array>".
    void writeRow(std::span<const std::u16string_view> fields);
    /// "\n\t<dict>", then per name "\n\t\t<key>name</key>" and "\n\t\t<string>value</string>" with
    /// `values[i]` for `names[i]`, then "\n\t</dict>". `values` has one entry per name (an empty one
    /// where the record has no field). Pass the same `names` object for every record: its key
    /// elements are escaped once.
    void writeDictionary(const std::vector<Text>& names, std::span<const std::u16string_view> values);
    /// The same two elements from fields that are well-formed UTF-8 (as a reader of UTF-8 bytes
    /// hands them over): the same bytes as for their UTF-16 form. Up to utf8Slack bytes past the end
    /// of each field are read (and ignored): the caller keeps them readable, e.g. by ending the
    /// buffer that holds the fields with utf8Slack more bytes.
    static constexpr std::size_t utf8Slack = 16;
    void writeRow(std::span<const std::string_view> fields);
    void writeDictionary(const std::vector<Text>& names, std::span<const std::string_view> values);
    /// "\n</array>\n</plist>" and the last buffered bytes.
    void endDocument();

    // Value by value, for tables of typed or keyed records: the same layout, one more TAB per level.

    /// The prolog and "\n<dict>" when `dictionaryRoot`, "\n<array>" otherwise.
    void beginValues(bool dictionaryRoot);
    /// One element of the root array: strings, integers, reals (shortest round-trip text), booleans,
    /// dates (ISO 8601; one without a calendar form as the string of its seconds), data (base64),
    /// arrays and dictionaries.
    void writeValue(const PlistValue& value);
    /// One entry of the root dictionary: "\n\t<key>key</key>" and the value.
    void writeEntry(const Text& key, const PlistValue& value);
    /// Closes the root begun by beginValues() and "\n</plist>", then the last buffered bytes.
    void endValues();

    std::size_t replacedCharacters() const { return _replaced; }

    /// The prolog's exact text (163 bytes).
    static std::string_view prolog();

private:
    void append(std::string_view bytes);
    void appendEscaped(std::u16string_view text);
    // Writes `text` escaped at `out`, which has room for maxBytesPerUnit bytes per unit; returns the end.
    char* escapeInto(char* out, std::u16string_view text);
    // The same for well-formed UTF-8 `text`, with room for maxBytesPerUnit bytes per byte.
    char* escapeInto(char* out, std::string_view text);
    template <class View>
    void writeRowOf(std::span<const View> fields);
    template <class View>
    void writeDictionaryOf(const std::vector<Text>& names, std::span<const View> values);
    void writeIndented(const PlistValue& value, std::size_t depth);
    void appendIndent(std::size_t depth);

    // Bytes are escaped straight into the file's buffer: a buffer of our own would cost one more
    // copy of the whole document.
    AtomicFile& _file;
    std::size_t _replaced = 0;
    bool _dictionaryRoot = false;
    // "\n\t\t<key>NAME</key>\n\t\t<string>" per header name, escaped once per document.
    std::vector<std::string> _keyPrefixes;
    const std::vector<Text>* _prefixedNames = nullptr;
};

} // namespace plistable::detail
