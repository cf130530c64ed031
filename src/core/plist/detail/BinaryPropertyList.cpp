#include "core/plist/detail/BinaryPropertyList.hpp"

#include "core/plist/detail/DictionaryKeys.hpp"
#include "core/text/detail/Utf8.hpp"

#include <cstring>
#include <limits>
#include <vector>

// How this works
//
// Layout: "bplist00", the objects, an offset table (one big-endian offset per object) and a
// 32-byte trailer (offset size, reference size, object count, top object, table offset). Each
// object starts with a marker byte: type in the high nibble, a small count in the low one (15
// means an integer object with the real count follows). Arrays hold references (object indexes),
// dictionaries all their key references and then all their value references.
//
// A hostile file can point outside itself, refer to itself, nest without end or share one
// collection many times so that expanding it explodes. check() reads the trailer, then
// walkObjects() walks every object reachable from the top once, with an explicit stack, before
// anything is decoded: it checks bounds and types,
// finds cycles (a reference to an object still on the walk's path), and computes for each
// collection its height and expanded size from its children, refusing heights above maxDepth
// and an expanded size above about twice the file size (a list whose collections are not shared
// expands to at most one value per reference byte). decode() then trusts the structure.
// A UID (keyed archives) is read as the dictionary {"CF$UID": n}, as its XML form is written: it
// counts as one level of nesting but holds no references.
// If you accept a new object type, teach both readObject() and decodeScalar()/decode().

namespace plistable::detail {
namespace {

using Status = PropertyListReadResult::Status;

constexpr std::size_t headerSize = 8;
constexpr std::size_t trailerSize = 32;

enum Type : std::uint8_t {
    Simple = 0x0, Int = 0x1, Real = 0x2, Date = 0x3, Data = 0x4, Ascii = 0x5, Utf16 = 0x6, Uid = 0x8, Array = 0xA,
    Dict = 0xD
};

// Where the walk of walkObjects() stands with one object.
enum class WalkState : std::uint8_t {
    NotSeen, ///< not reached yet
    OnPath,  ///< a collection on the path from the top object: reaching it again is a cycle
    Done,    ///< checked, with its height and expanded size known
};

bool isCollection(std::uint8_t marker)
{
    return (marker >> 4) == Array || (marker >> 4) == Dict;
}

bool fail(BinaryPlistProblem& problem, std::string message, std::uint64_t offset, Status status = Status::NotPropertyList)
{
    problem.status = status;
    problem.message = std::move(message);
    problem.byteOffset = offset;
    return false;
}

double doubleFromBits(std::uint64_t bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

float floatFromBits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

std::optional<BinaryPropertyList> BinaryPropertyList::open(std::string_view bytes, BinaryPlistProblem& problem)
{
    BinaryPropertyList list(bytes);
    if (!list.check(problem))
        return std::nullopt;
    return list;
}

std::uint64_t BinaryPropertyList::readUnsigned(std::uint64_t position, unsigned size) const
{
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size; ++i)
        value = (value << 8) | static_cast<unsigned char>(_bytes[position + i]);
    return value;
}

std::uint64_t BinaryPropertyList::offsetOf(std::uint64_t index) const
{
    return readUnsigned(_offsetTable + index * _offsetSize, _offsetSize);
}

std::uint64_t BinaryPropertyList::referenceAt(std::uint64_t position) const
{
    return readUnsigned(position, _referenceSize);
}

bool BinaryPropertyList::readObject(std::uint64_t index, Object& object, BinaryPlistProblem& problem) const
{
    const std::uint64_t offset = offsetOf(index);
    // Objects lie between the header and the offset table.
    if (offset < headerSize || offset >= _offsetTable)
        return fail(problem, "object offset outside the object area", _offsetTable + index * _offsetSize);
    const std::uint64_t limit = _offsetTable;
    object.marker = static_cast<std::uint8_t>(_bytes[offset]);
    const std::uint8_t type = object.marker >> 4;
    const std::uint8_t low = object.marker & 0x0F;
    object.start = offset + 1;
    object.count = low;
    const bool hasCount = type == Data || type == Ascii || type == Utf16 || type == Array || type == Dict;
    if (hasCount && low == 0x0F) {
        if (object.start >= limit)
            return fail(problem, "object cut off", offset);
        const std::uint8_t countMarker = static_cast<std::uint8_t>(_bytes[object.start]);
        if ((countMarker >> 4) != Int || (countMarker & 0x0F) > 3)
            return fail(problem, "invalid object length", offset);
        const unsigned size = 1u << (countMarker & 0x0F);
        if (limit - object.start - 1 < size)
            return fail(problem, "object cut off", offset);
        object.count = readUnsigned(object.start + 1, size);
        object.start += 1 + size;
    }
    std::uint64_t unit = 0; // bytes per counted item
    switch (type) {
    case Simple:
        if (low != 0x8 && low != 0x9)
            return fail(problem, "unsupported object type", offset);
        object.count = 0;
        break;
    case Int:
        if (low > 4)
            return fail(problem, "invalid integer size", offset);
        object.count = 1u << low;
        unit = 1;
        break;
    case Real:
        if (low != 2 && low != 3)
            return fail(problem, "invalid real size", offset);
        object.count = 1u << low;
        unit = 1;
        break;
    case Date:
        if (low != 3)
            return fail(problem, "invalid date size", offset);
        object.count = 8;
        unit = 1;
        break;
    case Uid:
        // 1 to 8 big-endian bytes of an unsigned number.
        if (low > 7)
            return fail(problem, "invalid UID size", offset);
        object.count = low + 1u;
        unit = 1;
        break;
    case Data:
    case Ascii: unit = 1; break;
    case Utf16: unit = 2; break;
    case Array: unit = _referenceSize; break;
    case Dict: unit = 2 * std::uint64_t{_referenceSize}; break;
    default: return fail(problem, "unsupported object type", offset);
    }
    if (unit != 0 && object.count > (limit - object.start) / unit)
        return fail(problem, "object cut off", offset);
    if (type == Int && object.count == 16 && readUnsigned(object.start, 8) != 0)
        return fail(problem, "integer out of range", offset);
    if (type == Ascii && !isWellFormedUtf8(_bytes.substr(object.start, object.count)))
        return fail(problem, "string is not well-formed", offset);
    return true;
}

BinaryPropertyList::Object BinaryPropertyList::objectAt(std::uint64_t index) const
{
    Object object;
    BinaryPlistProblem ignored;
    readObject(index, object, ignored); // checked before
    return object;
}

bool BinaryPropertyList::check(BinaryPlistProblem& problem)
{
    if (!readTrailer(problem) || !walkObjects(problem))
        return false;
    const Object top = objectAt(_topObject);
    _rootIsArray = (top.marker >> 4) == Array;
    if (_rootIsArray) {
        _rootArrayCount = top.count;
        _rootArrayRefs = top.start;
    }
    return true;
}

bool BinaryPropertyList::readTrailer(BinaryPlistProblem& problem)
{
    const std::uint64_t size = _bytes.size();
    if (_bytes.substr(0, headerSize) != std::string_view("bplist00", headerSize))
        return fail(problem, "unsupported binary property list version", 0);
    if (size < headerSize + 1 + trailerSize)
        return fail(problem, "binary property list cut off", size);
    const std::uint64_t trailer = size - trailerSize;
    _offsetSize = static_cast<unsigned char>(_bytes[trailer + 6]);
    _referenceSize = static_cast<unsigned char>(_bytes[trailer + 7]);
    _objectCount = readUnsigned(trailer + 8, 8);
    _topObject = readUnsigned(trailer + 16, 8);
    _offsetTable = readUnsigned(trailer + 24, 8);
    if (_offsetSize < 1 || _offsetSize > 8 || _referenceSize < 1 || _referenceSize > 8)
        return fail(problem, "invalid offset or reference size", trailer + 6);
    if (_objectCount == 0 || _topObject >= _objectCount)
        return fail(problem, "invalid object count or top object", trailer + 8);
    if (_offsetTable <= headerSize || _offsetTable > trailer
        || _objectCount > (trailer - _offsetTable) / _offsetSize)
        return fail(problem, "offset table outside the file", trailer + 24);
    return true;
}

bool BinaryPropertyList::walkObjects(BinaryPlistProblem& problem) const
{
    std::vector<WalkState> state(_objectCount, WalkState::NotSeen);
    std::vector<std::uint16_t> height(_objectCount, 0);
    std::vector<std::uint64_t> expanded(_objectCount, 0);
    const std::uint64_t expandedLimit = 2 * _bytes.size() + 1024;
    struct Step {
        std::uint64_t index;
        Object object;
        std::uint64_t next = 0;      // next reference to follow
        std::uint64_t references = 0;
        std::uint16_t height = 0;    // highest child so far
        std::uint64_t expanded = 1;  // this object plus its children so far
    };
    std::vector<Step> path;

    // Looks at one object reached by a reference: a scalar is done at once, a collection joins the path.
    auto enter = [&](std::uint64_t index) -> bool {
        Object object;
        if (!readObject(index, object, problem))
            return false;
        if (!isCollection(object.marker)) {
            state[index] = WalkState::Done;
            height[index] = (object.marker >> 4) == Uid ? 1 : 0;
            expanded[index] = 1;
            return true;
        }
        if (path.size() >= maxPropertyListDepth)
            return fail(problem,
                        "arrays and dictionaries nested deeper than " + std::to_string(maxPropertyListDepth)
                            + " levels",
                        offsetOf(index), Status::TooDeep);
        state[index] = WalkState::OnPath;
        const std::uint64_t references = (object.marker >> 4) == Dict ? 2 * object.count : object.count;
        path.push_back(Step{index, object, 0, references});
        return true;
    };

    if (!enter(_topObject))
        return false;
    while (!path.empty()) {
        Step& step = path.back();
        if (step.next < step.references) {
            const std::uint64_t position = step.object.start + step.next * _referenceSize;
            const bool isKey = (step.object.marker >> 4) == Dict && step.next < step.object.count;
            ++step.next;
            const std::uint64_t child = referenceAt(position);
            if (child >= _objectCount)
                return fail(problem, "object reference out of range", position);
            if (isKey) {
                const std::uint64_t keyOffset = offsetOf(child);
                if (keyOffset < headerSize || keyOffset >= _offsetTable)
                    return fail(problem, "object offset outside the object area", _offsetTable + child * _offsetSize);
                const std::uint8_t keyType = static_cast<std::uint8_t>(_bytes[keyOffset]) >> 4;
                if (keyType != Ascii && keyType != Utf16)
                    return fail(problem, "dictionary key is not a string", keyOffset);
            }
            if (state[child] == WalkState::OnPath)
                return fail(problem, "object reference cycle", position);
            if (state[child] == WalkState::NotSeen) {
                // `step` may move when the path grows; the child is folded in when it is done.
                if (!enter(child))
                    return false;
                if (state[child] == WalkState::OnPath)
                    continue;
            }
            Step& parent = path.back();
            parent.height = std::max(parent.height, height[child]);
            parent.expanded += expanded[child];
            if (parent.expanded > expandedLimit)
                return fail(problem, "shared objects expand beyond the file's size", offsetOf(parent.index));
            continue;
        }
        const Step done = path.back();
        path.pop_back();
        const std::uint16_t doneHeight = static_cast<std::uint16_t>(done.height + 1);
        if (doneHeight > maxPropertyListDepth)
            return fail(problem,
                        "arrays and dictionaries nested deeper than " + std::to_string(maxPropertyListDepth)
                            + " levels",
                        offsetOf(done.index), Status::TooDeep);
        state[done.index] = WalkState::Done;
        height[done.index] = doneHeight;
        expanded[done.index] = done.expanded;
        if (!path.empty()) {
            Step& parent = path.back();
            parent.height = std::max(parent.height, doneHeight);
            parent.expanded += done.expanded;
            if (parent.expanded > expandedLimit)
                return fail(problem, "shared objects expand beyond the file's size", offsetOf(parent.index));
        }
    }
    return true;
}

PlistValue BinaryPropertyList::decodeScalar(const Object& object) const
{
    const std::uint8_t type = object.marker >> 4;
    switch (type) {
    case Simple: return PlistValue::boolean((object.marker & 0x0F) == 0x9);
    case Int: {
        if (object.count == 16) {
            const std::uint64_t value = readUnsigned(object.start + 8, 8);
            if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return PlistValue::unsignedInteger(value);
            return PlistValue::integer(static_cast<std::int64_t>(value));
        }
        // Integers of 1, 2 and 4 bytes are unsigned, of 8 bytes signed (two's complement).
        return PlistValue::integer(static_cast<std::int64_t>(readUnsigned(object.start, static_cast<unsigned>(object.count))));
    }
    case Real:
        if (object.count == 4)
            return PlistValue::real(floatFromBits(static_cast<std::uint32_t>(readUnsigned(object.start, 4))));
        return PlistValue::real(doubleFromBits(readUnsigned(object.start, 8)));
    case Date: return PlistValue::date(doubleFromBits(readUnsigned(object.start, 8)));
    case Data: return PlistValue::data(std::string(_bytes.substr(object.start, object.count)));
    case Ascii: {
        Text text;
        appendUtf8AsUtf16(_bytes.substr(object.start, object.count), text); // checked well-formed
        return PlistValue(std::move(text));
    }
    case Utf16: {
        Text text(object.count, u'\0');
        for (std::uint64_t i = 0; i < object.count; ++i)
            text[i] = static_cast<char16_t>(readUnsigned(object.start + 2 * i, 2));
        return PlistValue(std::move(text));
    }
    case Uid: {
        const std::uint64_t value = readUnsigned(object.start, static_cast<unsigned>(object.count));
        PlistValue uid{PlistValue::Dictionary()};
        // As the XML form's <integer> reads: signed where it fits.
        uid.dictionary().emplace_back(u"CF$UID", value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                                                     ? PlistValue::unsignedInteger(value)
                                                     : PlistValue::integer(static_cast<std::int64_t>(value)));
        return uid;
    }
    default: return PlistValue();
    }
}

PlistValue BinaryPropertyList::decode(std::uint64_t index) const
{
    Object object = objectAt(index);
    if (!isCollection(object.marker))
        return decodeScalar(object);

    struct Step {
        Object object;
        std::uint64_t next = 0;
        PlistValue value;
        Text key; // dictionary: key of the value being decoded
        std::uint64_t keyOffset = 0;
        DictionaryKeys keys;
    };
    // A repeated key keeps the later value in the earlier one's place, as a look-up finds it.
    auto addEntry = [this](Step& step, PlistValue&& value) {
        PlistValue::Dictionary& entries = step.value.dictionary();
        if (const auto earlier = step.keys.find(entries, step.key)) {
            if (_repeats)
                _repeats->readerDidFindRepeatedKey(step.key, 0, step.keyOffset);
            entries[*earlier].second = std::move(value);
        } else {
            entries.emplace_back(std::move(step.key), std::move(value));
        }
        step.key = Text();
    };
    auto makeStep = [](const Object& o) {
        const bool dict = (o.marker >> 4) == Dict;
        Step step{o, 0, dict ? PlistValue(PlistValue::Dictionary()) : PlistValue(PlistValue::Array()), Text(), 0, {}};
        if (dict)
            step.value.dictionary().reserve(o.count);
        else
            step.value.array().reserve(o.count);
        return step;
    };
    std::vector<Step> path;
    path.push_back(makeStep(object));
    while (true) {
        Step& step = path.back();
        const bool dict = (step.object.marker >> 4) == Dict;
        if (step.next < step.object.count) {
            const std::uint64_t i = step.next++;
            const std::uint64_t valueRef =
                referenceAt(step.object.start + (dict ? step.object.count + i : i) * _referenceSize);
            if (dict) {
                const std::uint64_t keyRef = referenceAt(step.object.start + i * _referenceSize);
                step.key = decodeScalar(objectAt(keyRef)).string();
                step.keyOffset = offsetOf(keyRef);
            }
            const Object child = objectAt(valueRef);
            if (isCollection(child.marker)) {
                path.push_back(makeStep(child));
                continue;
            }
            PlistValue value = decodeScalar(child);
            if (dict)
                addEntry(step, std::move(value));
            else
                step.value.array().push_back(std::move(value));
            continue;
        }
        PlistValue finished = std::move(step.value);
        path.pop_back();
        if (path.empty())
            return finished;
        Step& parent = path.back();
        if ((parent.object.marker >> 4) == Dict)
            addEntry(parent, std::move(finished));
        else
            parent.value.array().push_back(std::move(finished));
    }
}

PlistValue BinaryPropertyList::rootArrayElement(std::uint64_t index) const
{
    return decode(referenceAt(_rootArrayRefs + index * _referenceSize));
}

PlistValue BinaryPropertyList::root() const
{
    return decode(_topObject);
}

} // namespace plistable::detail
