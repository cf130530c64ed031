#pragma once

#include "core/plist/PlistValue.hpp"

#include <cstddef>
#include <string>

namespace plistable {
class AtomicFile;
}

namespace plistable::detail {

/// Writes an old-style text property list value by value into a file: a root array "( ... )" of
/// the values written (or a root dictionary "{ ... }" of the entries written), one per line; in the
/// strings-file form, the entries alone, `"key" = "value";` a line. Every string is quoted (see
/// OpenStepParser::quoted()); other scalars are written as the strings of their description(),
/// data as <hex>, since the syntax has strings only. UTF-8, or UTF-16LE with a byte-order mark.
class OpenStepWriter {
public:
    OpenStepWriter(AtomicFile& file, bool stringsForm, bool utf16);

    /// "{" when `dictionaryRoot`, "(" otherwise; nothing in the strings-file form.
    void beginValues(bool dictionaryRoot);
    /// One element of the root array.
    void writeValue(const PlistValue& value);
    /// One entry of the root dictionary.
    void writeEntry(const Text& key, const PlistValue& value);
    /// Closes the root and writes the last buffered bytes.
    void endValues();

    /// Always 0: the syntax holds any text.
    std::size_t replacedCharacters() const { return 0; }

private:
    void appendValue(const PlistValue& value);
    void flush(bool always);

    AtomicFile& _file;
    std::string _buffer;
    std::string _wide;
    const bool _stringsForm;
    const bool _utf16;
    bool _dictionaryRoot = false;
    bool _empty = true;
};

} // namespace plistable::detail
