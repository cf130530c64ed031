#pragma once

#include "core/csv/CHCSVParserDelegate.hpp"
#include "core/csv/CSVParser.hpp"
#include "core/text/TextEncoding.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Helpers shared by the fuzz targets. A target lets every exception escape (data must never throw)
// and stops the process with FUZZ_CHECK when an oracle disagrees, so libFuzzer keeps the input.

/// Aborts with the failed condition and its place when `condition` is false.
#define FUZZ_CHECK(condition)                                                                                     \
    do {                                                                                                          \
        if (!(condition))                                                                                         \
            plistable::fuzz::checkFailed(#condition, __FILE__, __LINE__);                                         \
    } while (false)

namespace plistable::fuzz {

using Rows = std::vector<std::vector<Text>>;

/// Whether two parses stopped alike: every field of the stop the same.
bool sameStop(const CSVParseStop& a, const CSVParseStop& b);

/// A supplier handing `source` over `piece` units at a time from its start, as the windowed readers
/// pull their text. `source` must outlive it.
template <class String>
auto inPieces(const String& source, std::size_t piece)
{
    return [&source, piece, given = std::size_t(0)](String& out) mutable {
        if (given == source.size())
            return false;
        const std::size_t n = std::min(piece, source.size() - given);
        out.append(source, given, n);
        given += n;
        return true;
    };
}

/// `field` without whitespace and line breaks at either end, as the sanitizing reader trims fields.
Text trimmed(const Text& field);

/// Prints the oracle that failed and aborts.
[[noreturn]] void checkFailed(const char* condition, const char* file, int line);

/// Takes bytes from the front of the input for choices; the rest is the payload.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : _data(data), _size(size) {}
    /// The next byte, or 0 when none is left.
    std::uint8_t take() { return _position < _size ? _data[_position++] : 0; }
    bool empty() const { return _position >= _size; }
    /// Everything not yet taken.
    std::string_view rest() const
    {
        return {reinterpret_cast<const char*>(_data) + _position, _size - _position};
    }

private:
    const std::uint8_t* _data;
    std::size_t _size;
    std::size_t _position = 0;
};

/// Text from bytes: UTF-16 little-endian units taken as they are (lone surrogates included) when
/// `rawUnits`, else the bytes read as UTF-8 with bad sequences replaced.
Text textFromBytes(std::string_view bytes, bool rawUnits);

/// Text from one byte per character: ASCII bytes stand for themselves, the others pick characters
/// the readers and the writer treat specially (line breaks, spaces, letters with case variants,
/// a surrogate pair as a whole). Never a lone surrogate.
Text charactersFromBytes(std::string_view bytes);

/// A CSV separator of `length` units, one taken byte's character each (half of a surrogate pair when
/// cut); nothing when the readers refuse it (a '"' or a line break in it).
std::optional<Text> separatorFrom(ByteReader& in, std::size_t length);

/// A readable dump of rows, for comparing and for messages.
std::string describe(const Rows& rows);

/// A temporary folder made at the first use and removed, with its files, when the process ends.
/// write() and read() fail the run (FUZZ_CHECK) when the file system refuses.
namespace scratch {
/// The folder's path, without a trailing "/".
const std::string& folder();
/// folder() + "/" + name.
std::string path(std::string_view name);
/// Creates or replaces the file `name` with `bytes`; returns its path.
std::string write(std::string_view name, std::string_view bytes);
/// The bytes of the file `name`, or nothing when it does not exist.
std::optional<std::string> read(std::string_view name);
/// Removes the file `name` if it exists.
void remove(std::string_view name);
} // namespace scratch

/// Records every event of a CHCSVParser as one line of a log.
class EventLog : public CHCSVParserDelegate {
public:
    void parserDidBeginDocument(CHCSVParser& parser) override;
    void parserDidBeginLine(CHCSVParser& parser, std::uint64_t recordNumber) override;
    void parserDidReadField(CHCSVParser& parser, std::u16string_view field, std::int64_t fieldIndex) override;
    void parserDidEndLine(CHCSVParser& parser, std::uint64_t recordNumber) override;
    void parserDidReadComment(CHCSVParser& parser, const Text& comment) override;
    void parserDidFailWithError(CHCSVParser& parser, const CHCSVError& error) override;
    void parserDidEndDocument(CHCSVParser& parser) override;

    std::string log;
    /// Leaves the offset and message out of code-3 (undecodable bytes) errors.
    bool omitDecodingOffset = false;
};

} // namespace plistable::fuzz
