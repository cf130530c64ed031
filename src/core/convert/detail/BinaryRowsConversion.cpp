#include "core/convert/detail/BinaryRowsConversion.hpp"

#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/RowsScanner.hpp"
#include "core/csv/detail/CsvSink.hpp"
#include "core/io/AtomicFileOutputStream.hpp"
#include "core/io/detail/FileDescriptor.hpp"
#include "core/text/detail/Utf8.hpp"

#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

// How this works
//
// The general binary reader (BinaryPropertyList) checks every object reachable from the top before
// it decodes any, then builds a value per root-array element. Here each element is read and written
// at once, and every check that reader makes of an object this shape can meet is made on the way:
// the trailer as it reads it, each object's offset, type, length and bounds, references in range,
// strings of "ASCII" type being well-formed UTF-8, dictionary keys being strings, and the expanded
// size (one per reference and per collection, shared rows counted each time) against the same
// limit. Cycles and nesting need no check: a value that is an array or a dictionary gives up, so
// the objects met are the root, its rows and their scalars. Any failed check, and anything the
// general conversion treats specially (a repeated key, a key list other than the first row's, a
// date without a calendar date, data, UIDs), answers Other: the general reader then reads the list
// from its start and says what it says. So accepting less is always safe; if you accept more, or
// the general reader learns a new check, change both (BinaryRowsConversionFuzzer compares them).
//
// The bytes come through a BlockReader: a view it gives lasts until the next read, so nothing is
// kept of one beyond its use (the first row's key bytes are copied). A read that fails gives zeros,
// which at worst write wrong lines before the failure is seen after the row: the run then answers
// Other, and those lines go with the output.

namespace plistable::detail {
namespace {

constexpr std::size_t headerSize = 8;
constexpr std::size_t trailerSize = 32;
constexpr std::string_view magic = "bplist00";
// Elements written between two questions to the monitor, as the general reader asks it.
constexpr std::uint64_t elementsPerCheck = 4096;

enum Type : std::uint8_t { Simple = 0x0, Int = 0x1, Real = 0x2, Date = 0x3, Ascii = 0x5, Utf16 = 0x6, Array = 0xA, Dict = 0xD };

// Whether every byte is below 0x80, a word at a time.
bool isAscii(std::string_view text)
{
    constexpr std::uint64_t highBits = 0x8080808080808080u;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        if (word & highBits)
            return false;
    }
    unsigned char any = 0;
    for (; i < text.size(); ++i)
        any |= static_cast<unsigned char>(text[i]);
    return any < 0x80;
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

BinaryRowsConversion::BinaryRowsConversion(BlockReader& bytes, CHCSVWriter& writer, bool header,
                                           FileConverter& keyListPass)
    : _bytes(bytes), _writer(writer), _header(header), _keyListPass(keyListPass)
{
}

bool BinaryRowsConversion::hasMagic(std::string_view head)
{
    return head.substr(0, magic.size()) == magic;
}

[[gnu::always_inline]] inline std::uint64_t BinaryRowsConversion::readUnsigned(std::uint64_t position, unsigned size,
                                                                                unsigned lane)
{
    return bigEndian(_bytes.bytes(position, size, lane).data(), size);
}

[[gnu::always_inline]] inline std::uint64_t BinaryRowsConversion::bigEndian(const char* bytes, unsigned size)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    switch (size) {
    case 1: return p[0];
    case 2: return (std::uint64_t{p[0]} << 8) | p[1];
    case 4: {
        std::uint32_t value;
        std::memcpy(&value, p, sizeof value);
        return __builtin_bswap32(value);
    }
    case 8: {
        std::uint64_t value;
        std::memcpy(&value, p, sizeof value);
        return __builtin_bswap64(value);
    }
    default: {
        std::uint64_t value = 0;
        for (unsigned i = 0; i < size; ++i)
            value = (value << 8) | p[i];
        return value;
    }
    }
}

bool BinaryRowsConversion::readTrailer()
{
    const std::uint64_t size = _bytes.size();
    if (size < headerSize + 1 + trailerSize || !hasMagic(_bytes.bytes(0, headerSize, TableLane)))
        return false;
    const std::uint64_t trailer = size - trailerSize;
    _offsetSize = static_cast<unsigned>(readUnsigned(trailer + 6, 1, TableLane));
    _referenceSize = static_cast<unsigned>(readUnsigned(trailer + 7, 1, TableLane));
    if (_offsetSize < 1 || _offsetSize > 8 || _referenceSize < 1 || _referenceSize > 8)
        return false;
    _objectCount = readUnsigned(trailer + 8, 8, TableLane);
    _topObject = readUnsigned(trailer + 16, 8, TableLane);
    _offsetTable = readUnsigned(trailer + 24, 8, TableLane);
    return _objectCount != 0 && _topObject < _objectCount && _offsetTable > headerSize && _offsetTable <= trailer
           && _objectCount <= (trailer - _offsetTable) / _offsetSize;
}

[[gnu::always_inline]] inline bool BinaryRowsConversion::readReference(std::uint64_t position, std::uint64_t& index,
                                                                       unsigned lane)
{
    index = readUnsigned(position, _referenceSize, lane);
    return index < _objectCount;
}

bool BinaryRowsConversion::readObject(std::uint64_t index, Object& object, unsigned lane)
{
    // Writers number a row's new values after those of the rows before; a value numbered before
    // the last new one is shared with an earlier row, and read in lanes of its own.
    const bool shared = lane == ObjectLane && index < _newestValue;
    if (lane == ObjectLane && !shared)
        _newestValue = index;
    if (shared)
        lane = SharedLane;
    // The general reader's checks for the types taken here; every other type gives up.
    const std::uint64_t offset =
        readUnsigned(_offsetTable + index * _offsetSize, _offsetSize, shared ? SharedTableLane : TableLane);
    if (offset < headerSize || offset >= _offsetTable)
        return false;
    const std::uint64_t limit = _offsetTable;
    const auto marker = static_cast<std::uint8_t>(readUnsigned(offset, 1, lane));
    object.lane = static_cast<std::uint8_t>(lane);
    object.type = marker >> 4;
    object.low = marker & 0x0F;
    object.start = offset + 1;
    object.count = object.low;
    std::uint64_t unit = 1; // bytes per counted item
    switch (object.type) {
    case Simple:
        object.count = 0;
        return object.low == 0x8 || object.low == 0x9;
    case Int:
        if (object.low > 4)
            return false;
        object.count = 1u << object.low;
        break;
    case Real:
        if (object.low != 2 && object.low != 3)
            return false;
        object.count = 1u << object.low;
        break;
    case Date:
        if (object.low != 3)
            return false;
        object.count = 8;
        break;
    case Ascii: break;
    case Utf16: unit = 2; break;
    case Array: unit = _referenceSize; break;
    case Dict: unit = 2 * std::uint64_t{_referenceSize}; break;
    default: return false;
    }
    const bool hasCount = object.type == Ascii || object.type == Utf16 || object.type == Array || object.type == Dict;
    if (hasCount && object.low == 0x0F) {
        if (object.start >= limit)
            return false;
        const auto countMarker = static_cast<std::uint8_t>(readUnsigned(object.start, 1, lane));
        if ((countMarker >> 4) != Int || (countMarker & 0x0F) > 3)
            return false;
        const unsigned size = 1u << (countMarker & 0x0F);
        if (limit - object.start - 1 < size)
            return false;
        object.count = readUnsigned(object.start + 1, size, lane);
        object.start += 1 + size;
    }
    // Most objects counted are counted in bytes: no division for them.
    if (unit == 1 ? object.count > limit - object.start : object.count > (limit - object.start) / unit)
        return false;
    if (object.type == Int && object.count == 16 && readUnsigned(object.start, 8, lane) != 0)
        return false;
    if (object.type != Ascii)
        return true;
    object.text = _bytes.bytes(object.start, static_cast<std::size_t>(object.count), lane);
    return isAscii(object.text) || isWellFormedUtf8(object.text);
}

void BinaryRowsConversion::readText(const Object& object, Text& text)
{
    text.clear();
    if (object.type == Ascii) {
        appendUtf8AsUtf16(object.text, text); // checked well-formed
        return;
    }
    const auto* units = reinterpret_cast<const unsigned char*>(
        _bytes.bytes(object.start, static_cast<std::size_t>(2 * object.count), object.lane).data());
    text.resize(object.count);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(units[2 * i] << 8 | units[2 * i + 1]);
}

PlistValue BinaryRowsConversion::number(const Object& object)
{
    switch (object.type) {
    case Int: {
        if (object.count == 16) {
            const std::uint64_t value = readUnsigned(object.start + 8, 8, object.lane);
            if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return PlistValue::unsignedInteger(value);
            return PlistValue::integer(static_cast<std::int64_t>(value));
        }
        return PlistValue::integer(
            static_cast<std::int64_t>(readUnsigned(object.start, static_cast<unsigned>(object.count), object.lane)));
    }
    case Real:
        if (object.count == 4)
            return PlistValue::real(
                floatFromBits(static_cast<std::uint32_t>(readUnsigned(object.start, 4, object.lane))));
        return PlistValue::real(doubleFromBits(readUnsigned(object.start, 8, object.lane)));
    default: return PlistValue::date(doubleFromBits(readUnsigned(object.start, 8, object.lane)));
    }
}

bool BinaryRowsConversion::readColumns(const Object& row)
{
    // The first dictionary's keys are the columns, each once.
    if (row.count == 0)
        return false;
    std::unordered_set<std::u16string_view> distinct;
    _keys.resize(row.count);
    for (std::uint64_t k = 0; k < row.count; ++k) {
        std::uint64_t& index = _keyIndexes.emplace_back();
        Object key;
        if (!readReference(row.start + k * _referenceSize, index, RowLane) || !readObject(index, key)
            || (key.type != Ascii && key.type != Utf16))
            return false;
        _keyBytes.push_back(key.type == Ascii ? std::optional(std::string(key.text)) : std::nullopt);
        readText(key, _keys[k]);
    }
    for (const Text& key : _keys)
        if (!distinct.insert(key).second)
            return false;
    return true;
}

bool BinaryRowsConversion::hasColumns(const Object& row)
{
    if (row.count != _keys.size())
        return false;
    for (std::uint64_t k = 0; k < row.count; ++k) {
        const std::uint64_t index = bigEndian(_references.data() + k * _referenceSize, _referenceSize);
        if (index >= _objectCount || (index != _keyIndexes[k] && !isKey(index, k)))
            return false;
    }
    return true;
}

bool BinaryRowsConversion::isKey(std::uint64_t index, std::size_t column)
{
    // Two well-formed UTF-8 strings are the same text exactly when their bytes are equal.
    Object object;
    if (!readObject(index, object) || (object.type != Ascii && object.type != Utf16))
        return false;
    if (object.type == Ascii && _keyBytes[column])
        return object.text == *_keyBytes[column];
    readText(object, _wide);
    return _wide == _keys[column];
}

bool BinaryRowsConversion::writeValue(std::uint64_t index)
{
    Object object;
    if (!readObject(index, object))
        return false;
    switch (object.type) {
    case Ascii: _writer.writeUtf8Field(object.text); return true;
    case Utf16:
        // Written as the general reader's text is, so that a lone surrogate fails the writer alike.
        readText(object, _wide);
        _writer.writeField(std::u16string_view(_wide));
        return true;
    case Int: {
        // 1, 2 and 4 bytes are unsigned, 8 signed, 16 unsigned (its high half checked zero).
        char digits[24];
        std::to_chars_result end{};
        if (object.count == 16)
            end = std::to_chars(std::begin(digits), std::end(digits),
                                readUnsigned(object.start + 8, 8, object.lane));
        else
            end = std::to_chars(std::begin(digits), std::end(digits),
                                static_cast<std::int64_t>(readUnsigned(
                                    object.start, static_cast<unsigned>(object.count), object.lane)));
        _writer.writeUtf8Field(std::string_view(digits, static_cast<std::size_t>(end.ptr - digits)));
        return true;
    }
    case Real: _writer.writeField(std::u16string_view(number(object).description())); return true;
    case Date: {
        const PlistValue date = number(object);
        if (date.unrepresentableDates() > 0)
            return false; // the general conversion reports it
        _writer.writeField(std::u16string_view(date.description()));
        return true;
    }
    case Simple: _writer.writeUtf8Field(object.low == 0x9 ? "true" : "false"); return true;
    default: return false;
    }
}

bool BinaryRowsConversion::reportFirstRow(const Object& row)
{
    // The events of the first element's XML form, which the key-list pass takes its keys from; the
    // later elements change nothing there.
    const bool dictionary = row.type == Dict;
    _keyListPass.parserDidStartElement(dictionary ? u"dict" : u"array");
    const std::uint64_t values = row.start + (dictionary ? row.count * _referenceSize : 0);
    for (std::uint64_t i = 0; i < row.count; ++i) {
        if (dictionary) {
            _keyListPass.parserDidStartElement(u"key");
            if (!_keys[i].empty())
                _keyListPass.parserFoundCharacters(_keys[i]);
            _keyListPass.parserDidEndElement(u"key");
        }
        std::uint64_t index;
        Object object;
        if (!readReference(values + i * _referenceSize, index, RowLane) || !readObject(index, object))
            return false;
        std::u16string_view name;
        Text characters;
        switch (object.type) {
        case Ascii:
        case Utf16:
            name = u"string";
            readText(object, characters);
            break;
        case Int:
        case Real:
        case Date:
            name = object.type == Int ? u"integer" : object.type == Real ? u"real" : u"date";
            characters = number(object).description();
            break;
        case Simple: name = object.low == 0x9 ? u"true" : u"false"; break;
        default: return false;
        }
        _keyListPass.parserDidStartElement(name);
        if (!characters.empty())
            _keyListPass.parserFoundCharacters(characters);
        _keyListPass.parserDidEndElement(name);
    }
    _keyListPass.parserDidEndElement(dictionary ? u"dict" : u"array");
    return true;
}

BinaryRowsConversion::Status BinaryRowsConversion::run(const std::function<bool(std::uint64_t)>& goOn)
{
    Object root;
    if (!readTrailer() || !readObject(_topObject, root, RootLane) || root.type != Array || _bytes.failed())
        return Status::Other;
    // Shared rows could expand far beyond the file: the general reader refuses past this many values.
    const std::uint64_t expandedLimit = 2 * std::uint64_t{_bytes.size()} + 1024;
    std::uint64_t expanded = 1;
    _keyListPass.parserDidStartDocument();
    _keyListPass.parserDidStartElement(u"plist");
    _keyListPass.parserDidStartElement(u"array");
    std::uint8_t rowType = 0;
    for (std::uint64_t i = 0; i < root.count; ++i) {
        if (goOn && i % elementsPerCheck == elementsPerCheck - 1) {
            const double share = static_cast<double>(i) / static_cast<double>(root.count);
            if (!goOn(static_cast<std::uint64_t>(share * static_cast<double>(_bytes.size()))))
                return Status::Stopped;
        }
        std::uint64_t rowIndex;
        Object row;
        if (!readReference(root.start + i * _referenceSize, rowIndex, RootLane) || !readObject(rowIndex, row, RowLane)
            || (row.type != Array && row.type != Dict) || (i > 0 && row.type != rowType))
            return Status::Other;
        rowType = row.type;
        const bool dictionary = row.type == Dict;
        expanded += 1 + (dictionary ? 2 : 1) * row.count;
        if (expanded > expandedLimit)
            return Status::Other;
        // The row's references (keys, then values), kept: the reader's views last one read.
        _references.assign(_bytes.bytes(row.start, (dictionary ? 2 : 1) * row.count * _referenceSize, RowLane));
        if (dictionary && !(i == 0 ? readColumns(row) : hasColumns(row)))
            return Status::Other;
        if (i == 0) {
            if (!reportFirstRow(row))
                return Status::Other;
            if (dictionary && _header) {
                _writer.writeLineOfFields(_keys);
                ++_lines;
            }
        }
        const char* values = _references.data() + (dictionary ? row.count * _referenceSize : 0);
        for (std::uint64_t k = 0; k < row.count; ++k) {
            const std::uint64_t value = bigEndian(values + k * _referenceSize, _referenceSize);
            if (value >= _objectCount || !writeValue(value))
                return Status::Other;
        }
        if (_bytes.failed())
            return Status::Other;
        _writer.finishLine();
        ++_lines;
    }
    _keyListPass.parserDidEndElement(u"array");
    _keyListPass.parserDidEndElement(u"plist");
    _keyListPass.parserDidEndDocument();
    return Status::Finished;
}

std::optional<ConversionReport> convertBinaryRows(const std::string& path, const std::string& outputPath, bool header,
                                                  FileConverter& keyListPass, const CsvWriteDialect& dialect,
                                                  ConversionMonitor& progress, std::size_t blockSize,
                                                  std::size_t blockCount)
{
    // Only plain UTF-8 lines into a file, which can be dropped unseen if the list turns out otherwise.
    if (dialect.encodingName || progress.outputStream())
        return std::nullopt;
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat before {};
    if (!file.valid() || ::fstat(file.get(), &before) != 0 || !S_ISREG(before.st_mode))
        return std::nullopt;
    char head[magic.size()];
    if (::pread(file.get(), head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)
        || !BinaryRowsConversion::hasMagic(std::string_view(head, sizeof head)))
        return std::nullopt;

    // Read at the size seen now: a file that shrinks fails a read, and one that grows or is written
    // while read is caught by comparing after; either way the general reader takes it from there.
    const auto size = static_cast<std::uint64_t>(before.st_size);
    BlockReader bytes(file.get(), size, blockSize, blockCount);
    auto stream = std::make_shared<AtomicFileOutputStream>(outputPath, progress.existingOutput());
    std::string unknown;
    std::optional<CsvSink> sink =
        CsvSink::open(stream, {dialect.delimiter, dialect.crlf, dialect.byteOrderMark, &dialect.encodingName}, unknown);
    if (!sink)
        return std::nullopt;
    CHCSVWriter& writer = sink->writer();
    BinaryRowsConversion conversion(bytes, writer, header, keyListPass);
    const auto status =
        conversion.run([&](std::uint64_t done) { return progress.advance(done) && !progress.cancelled(); });
    if (status == BinaryRowsConversion::Status::Other || bytes.failed())
        return std::nullopt; // the stream goes, and its temporary file with it
    if (status == BinaryRowsConversion::Status::Stopped || progress.cancelled())
        return ConversionMonitor::cancelledReport(path);
    struct stat after {};
    if (::fstat(file.get(), &after) != 0 || after.st_size != before.st_size
        || after.st_mtim.tv_sec != before.st_mtim.tv_sec || after.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
        return std::nullopt;
    progress.finish(progress.total() > 0 ? progress.total() : size);

    return commitStraightRows(path, outputPath, conversion.lines(), writer, *stream, progress);
}

} // namespace plistable::detail
