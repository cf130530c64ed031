#pragma once

#include "core/plist/PlistValue.hpp"

#include <cstddef>
#include <string>

namespace plistable {
class AtomicFile;
}

namespace plistable::detail {

/// Writes a JSON document value by value into a file, UTF-8: an array of the values written (or an
/// object of the entries written), one per line, each compact. Strings are escaped as JSON requires;
/// a lone surrogate, which is no character, is written as U+FFFD and counted. Integers and reals are
/// numbers (a real always with a "." or an exponent), booleans true/false, arrays and dictionaries
/// arrays and objects in their order.
class JsonWriter {
public:
    explicit JsonWriter(AtomicFile& file);

    /// "{" when `dictionaryRoot`, "[" otherwise.
    void beginValues(bool dictionaryRoot);
    /// One element of the root array (dates and data as the strings of their description()).
    void writeValue(const PlistValue& value);
    /// One member of the root object.
    void writeEntry(const Text& key, const PlistValue& value);
    /// Closes the root and writes the last buffered bytes.
    void endValues();

    /// The lone surrogates written as U+FFFD so far.
    std::size_t replacedCharacters() const { return _replaced; }

private:
    void separate();
    void appendValue(const PlistValue& value);
    void appendString(std::u16string_view text);
    void flushIfFull();

    AtomicFile& _file;
    std::string _buffer;
    bool _dictionaryRoot = false;
    bool _empty = true;
    std::size_t _replaced = 0;
};

} // namespace plistable::detail
