#pragma once

#include "core/plist/PlistValue.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace plistable {
class AtomicFile;
}

namespace plistable::detail {

/// Writes a binary property list ("bplist00") value by value into a file. Strings, integers, reals
/// and booleans go to the file as they come; equal strings are one object while the table of shared
/// strings has room (the first 65,536 distinct strings; numbers are never shared). Arrays and dictionaries
/// keep only their object references until endValues(), which writes them, the offset table and the
/// trailer with offsets and references sized to fit. Strings of ASCII characters are written as
/// ASCII, others as UTF-16BE; a lone surrogate, which is no character, as U+FFFD.
class BinaryPlistWriter {
public:
    explicit BinaryPlistWriter(AtomicFile& file);

    /// The "bplist00" header; the root is a dictionary when `dictionaryRoot`, an array otherwise.
    void beginValues(bool dictionaryRoot);
    /// One element of the root array.
    void writeValue(const PlistValue& value);
    /// One entry of the root dictionary.
    void writeEntry(const Text& key, const PlistValue& value);
    /// The containers, the root, the offset table and the trailer.
    void endValues();

    /// The lone surrogates (halves of UTF-16 pairs standing alone) written as U+FFFD so far.
    std::size_t replacedCharacters() const { return _replaced; }

private:
    struct Container {
        std::uint64_t index = 0;  // its object number
        bool dictionary = false;
        std::size_t firstRef = 0; // its references in _refs: keys then values for a dictionary
        std::size_t refCount = 0;
    };

    std::uint64_t add(const PlistValue& value);
    std::uint64_t addString(std::u16string_view text);
    std::uint64_t addContainer(Container container);
    std::uint64_t newObject(); // the next object number, at the current offset
    void emit(std::string_view bytes);
    void emitMarker(std::uint8_t type, std::uint64_t count);
    void emitUnsigned(std::uint64_t value, unsigned size);

    AtomicFile& _file;
    std::string _buffer;
    std::uint64_t _offset = 0;
    std::vector<std::uint64_t> _offsets; // per object number; containers get theirs at the end
    std::vector<Container> _containers;
    std::vector<std::uint64_t> _refs;
    std::unordered_map<Text, std::uint64_t> _strings;
    Text _lookup; // the string looked up, in storage kept from one look-up to the next
    bool _dictionaryRoot = false;
    std::vector<std::uint64_t> _rootKeys;
    std::vector<std::uint64_t> _rootValues;
    std::size_t _replaced = 0;
};

} // namespace plistable::detail
