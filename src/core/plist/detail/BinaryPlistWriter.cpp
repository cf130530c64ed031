#include "core/plist/detail/BinaryPlistWriter.hpp"

#include "core/io/AtomicFile.hpp"

#include <bit>
#include <cstring>

namespace plistable::detail {
namespace {

constexpr std::size_t flushThreshold = 1 << 16;
constexpr std::size_t maxSharedStrings = 1 << 16;

// Object types, the high nibble of an object's marker byte.
enum : std::uint8_t {
    IntegerType = 0x1,
    RealType = 0x2,
    DateType = 0x3,
    DataType = 0x4,
    AsciiType = 0x5,
    Utf16Type = 0x6,
    ArrayType = 0xA,
    DictionaryType = 0xD,
};

// The fewest of 1, 2, 4 or 8 bytes that hold `value`.
unsigned bytesFor(std::uint64_t value)
{
    if (value <= 0xFF)
        return 1;
    if (value <= 0xFFFF)
        return 2;
    if (value <= 0xFFFFFFFF)
        return 4;
    return 8;
}

} // namespace

BinaryPlistWriter::BinaryPlistWriter(AtomicFile& file) : _file(file)
{
    _buffer.reserve(flushThreshold * 2);
}

void BinaryPlistWriter::emit(std::string_view bytes)
{
    _buffer.append(bytes);
    _offset += bytes.size();
    if (_buffer.size() >= flushThreshold) {
        _file.write(_buffer);
        _buffer.clear();
    }
}

void BinaryPlistWriter::emitUnsigned(std::uint64_t value, unsigned size)
{
    char bytes[8];
    for (unsigned i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(value >> (8 * (size - 1 - i)));
    emit(std::string_view(bytes, size));
}

void BinaryPlistWriter::emitMarker(std::uint8_t type, std::uint64_t count)
{
    if (count < 15) {
        emitUnsigned(static_cast<std::uint64_t>(type << 4) | count, 1);
        return;
    }
    // A count of 15 or more follows the marker as an integer object.
    const unsigned size = bytesFor(count);
    emitUnsigned(static_cast<std::uint64_t>(type << 4) | 0xF, 1);
    emitUnsigned((IntegerType << 4) | static_cast<unsigned>(std::countr_zero(size)), 1);
    emitUnsigned(count, size);
}

std::uint64_t BinaryPlistWriter::newObject()
{
    _offsets.push_back(_offset);
    return _offsets.size() - 1;
}

void BinaryPlistWriter::beginValues(bool dictionaryRoot)
{
    _dictionaryRoot = dictionaryRoot;
    emit("bplist00");
}

std::uint64_t BinaryPlistWriter::addString(std::u16string_view text)
{
    _lookup.assign(text);
    // A lone surrogate is no character: readers refuse or replace it, so it is written as U+FFFD,
    // as the XML form writes it, and counted at every string that holds one.
    for (std::size_t i = 0; i < _lookup.size(); ++i) {
        const char16_t c = _lookup[i];
        if (c < 0xD800 || c > 0xDFFF)
            continue;
        if (c <= 0xDBFF && i + 1 < _lookup.size() && _lookup[i + 1] >= 0xDC00 && _lookup[i + 1] <= 0xDFFF) {
            ++i;
        } else {
            _lookup[i] = u'\uFFFD';
            ++_replaced;
        }
    }
    text = _lookup;
    const auto found = _strings.find(_lookup);
    if (found != _strings.end())
        return found->second;
    const std::uint64_t index = newObject();
    bool ascii = true;
    for (const char16_t c : text)
        ascii = ascii && c < 0x80;
    emitMarker(ascii ? AsciiType : Utf16Type, text.size());
    // Straight into the buffer; emit() below only counts the bytes and flushes.
    const std::size_t start = _buffer.size();
    _buffer.resize(start + text.size() * (ascii ? 1 : 2));
    char* out = _buffer.data() + start;
    for (const char16_t c : text) {
        if (!ascii)
            *out++ = static_cast<char>(c >> 8);
        *out++ = static_cast<char>(c & 0xFF);
    }
    _offset += _buffer.size() - start;
    emit({});
    // Bounded: the first distinct strings (header names among them) are shared, later new ones
    // are written each time they occur, so memory does not grow with the table.
    if (_strings.size() < maxSharedStrings)
        _strings.emplace(Text(text), index);
    return index;
}

std::uint64_t BinaryPlistWriter::addContainer(Container container)
{
    // Its number now, its bytes at the end, when the size of a reference is known.
    _offsets.push_back(0);
    container.index = _offsets.size() - 1;
    _containers.push_back(container);
    return container.index;
}

std::uint64_t BinaryPlistWriter::add(const PlistValue& value)
{
    switch (value.kind()) {
    case PlistValue::Kind::Boolean: {
        const std::uint64_t index = newObject();
        emitUnsigned(value.booleanValue() ? 0x09 : 0x08, 1);
        return index;
    }
    case PlistValue::Kind::Integer: {
        const std::uint64_t index = newObject();
        const std::int64_t number = value.integerValue();
        // Negative integers are always eight bytes.
        const unsigned size = number < 0 ? 8 : bytesFor(static_cast<std::uint64_t>(number));
        emitUnsigned((IntegerType << 4) | static_cast<unsigned>(std::countr_zero(size)), 1);
        emitUnsigned(static_cast<std::uint64_t>(number), size);
        return index;
    }
    case PlistValue::Kind::Real: {
        const std::uint64_t index = newObject();
        emitUnsigned((RealType << 4) | 3, 1);
        emitUnsigned(std::bit_cast<std::uint64_t>(value.realValue()), 8);
        return index;
    }
    case PlistValue::Kind::Array: {
        // Elements first: their numbers go into the references.
        std::vector<std::uint64_t> refs;
        refs.reserve(value.array().size());
        for (const PlistValue& element : value.array())
            refs.push_back(add(element));
        Container container{0, false, _refs.size(), refs.size()};
        _refs.insert(_refs.end(), refs.begin(), refs.end());
        return addContainer(container);
    }
    case PlistValue::Kind::Dictionary: {
        const auto& entries = value.dictionary();
        std::vector<std::uint64_t> refs(entries.size() * 2);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            refs[i] = addString(entries[i].first);
            refs[entries.size() + i] = add(entries[i].second);
        }
        Container container{0, true, _refs.size(), entries.size()};
        _refs.insert(_refs.end(), refs.begin(), refs.end());
        return addContainer(container);
    }
    case PlistValue::Kind::String: return addString(value.string());
    case PlistValue::Kind::Date: {
        const std::uint64_t index = newObject();
        emitUnsigned((DateType << 4) | 3, 1);
        emitUnsigned(std::bit_cast<std::uint64_t>(value.realValue()), 8);
        return index;
    }
    case PlistValue::Kind::Data: {
        const std::uint64_t index = newObject();
        emitMarker(DataType, value.dataValue().size());
        emit(value.dataValue());
        return index;
    }
    case PlistValue::Kind::Unsigned: {
        // Above the signed range: a 16-byte integer, its upper half zero.
        const std::uint64_t index = newObject();
        emitUnsigned((IntegerType << 4) | 4, 1);
        emitUnsigned(0, 8);
        emitUnsigned(value.unsignedValue(), 8);
        return index;
    }
    }
    return addString(value.description());
}

void BinaryPlistWriter::writeValue(const PlistValue& value)
{
    _rootValues.push_back(add(value));
}

void BinaryPlistWriter::writeEntry(const Text& key, const PlistValue& value)
{
    _rootKeys.push_back(addString(key));
    _rootValues.push_back(add(value));
}

void BinaryPlistWriter::endValues()
{
    Container root{0, _dictionaryRoot, _refs.size(), _rootValues.size()};
    _refs.insert(_refs.end(), _rootKeys.begin(), _rootKeys.end());
    _refs.insert(_refs.end(), _rootValues.begin(), _rootValues.end());
    _rootKeys = {};
    _rootValues = {};
    const std::uint64_t top = addContainer(root);
    const unsigned refSize = bytesFor(_offsets.size() - 1);
    for (const Container& container : _containers) {
        _offsets[container.index] = _offset;
        emitMarker(container.dictionary ? DictionaryType : ArrayType, container.refCount);
        const std::size_t refs = container.refCount * (container.dictionary ? 2 : 1);
        for (std::size_t i = 0; i < refs; ++i)
            emitUnsigned(_refs[container.firstRef + i], refSize);
    }
    const std::uint64_t tableOffset = _offset;
    const unsigned offsetSize = bytesFor(tableOffset);
    for (const std::uint64_t offset : _offsets)
        emitUnsigned(offset, offsetSize);
    // Trailer: five unused bytes, the sort version, both sizes, object count, top object, table offset.
    emit(std::string_view("\0\0\0\0\0\0", 6));
    emitUnsigned(offsetSize, 1);
    emitUnsigned(refSize, 1);
    emitUnsigned(_offsets.size(), 8);
    emitUnsigned(top, 8);
    emitUnsigned(tableOffset, 8);
    _file.write(_buffer);
    _buffer.clear();
}

} // namespace plistable::detail
