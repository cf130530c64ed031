#pragma once

#include "core/plist/PlistReaderDelegate.hpp"
#include "core/plist/PlistValue.hpp"
#include "core/plist/PropertyListReadResult.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plistable::detail {

/// Why a binary property list was refused, and the byte offset of the damaged part.
struct BinaryPlistProblem {
    PropertyListReadResult::Status status = PropertyListReadResult::Status::NotPropertyList;
    std::string message;          ///< what is damaged, English (UTF-8)
    std::uint64_t byteOffset = 0; ///< offset in bytes from the start of the file

    /// "byte 40: <message>".
    std::string description() const { return "byte " + std::to_string(byteOffset) + ": " + message; }
};

/// A binary property list ("bplist00") whose structure has been checked completely before any
/// value is decoded: trailer, offset table, every object reachable from the top object (type,
/// length, bounds, contents of strings), every reference (in range, no cycles), dictionary keys
/// (strings), nesting depth (at most maxPropertyListDepth) and the size of the values
/// once shared objects are expanded (at most about twice the file's size). Decoding is iterative
/// and cannot fail afterwards. The bytes are not copied and must outlive the object.
class BinaryPropertyList {
public:
    /// The checked list over `bytes`, or nothing with `problem` filled in.
    static std::optional<BinaryPropertyList> open(std::string_view bytes, BinaryPlistProblem& problem);

    /// True when the top object is an array.
    bool rootIsArray() const { return _rootIsArray; }
    /// Number of elements of the root array (0 when the root is no array).
    std::uint64_t rootArrayCount() const { return _rootArrayCount; }
    /// Decodes element `index` of the root array.
    PlistValue rootArrayElement(std::uint64_t index) const;
    /// Decodes the whole top object.
    PlistValue root() const;
    /// Where decoding reports a dictionary that repeats a key (the later value is kept, in the
    /// earlier one's place), with the byte offset of the repeated key object; nullptr for nowhere.
    void reportRepeatedKeys(PlistReaderDelegate& delegate) { _repeats = &delegate; }

private:
    struct Object {
        std::uint8_t marker = 0;  // the object's first byte
        std::uint64_t count = 0;  // bytes, characters, elements or entries, by type
        std::uint64_t start = 0;  // offset of the object's contents
    };

    explicit BinaryPropertyList(std::string_view bytes) : _bytes(bytes) {}

    // Both parts of the check open() runs, then the root's shape.
    bool check(BinaryPlistProblem& problem);
    // The header and the trailer's sizes, count, top object and offset-table position.
    bool readTrailer(BinaryPlistProblem& problem);
    // Every object reachable from the top: bounds, types, references, cycles, depth, expanded size.
    bool walkObjects(BinaryPlistProblem& problem) const;
    bool readObject(std::uint64_t index, Object& object, BinaryPlistProblem& problem) const;
    Object objectAt(std::uint64_t index) const;
    std::uint64_t offsetOf(std::uint64_t index) const;
    std::uint64_t referenceAt(std::uint64_t position) const;
    std::uint64_t readUnsigned(std::uint64_t position, unsigned size) const;
    PlistValue decodeScalar(const Object& object) const;
    PlistValue decode(std::uint64_t index) const;

    std::string_view _bytes;
    unsigned _offsetSize = 0;
    unsigned _referenceSize = 0;
    std::uint64_t _objectCount = 0;
    std::uint64_t _topObject = 0;
    std::uint64_t _offsetTable = 0;
    bool _rootIsArray = false;
    std::uint64_t _rootArrayCount = 0;
    std::uint64_t _rootArrayRefs = 0;
    PlistReaderDelegate* _repeats = nullptr;
};

} // namespace plistable::detail
