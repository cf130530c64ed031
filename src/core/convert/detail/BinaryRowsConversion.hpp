#pragma once

#include "core/convert/ConversionOptions.hpp"
#include "core/convert/ConversionReport.hpp"
#include "core/convert/detail/ConversionMonitor.hpp"
#include "core/csv/CHCSVWriter.hpp"
#include "core/io/detail/BlockReader.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {
class FileConverter;
}

namespace plistable::detail {

/// Writes the CSV lines of the most common binary property list of a table straight from its
/// objects, with no value built: a root array whose elements are either all dictionaries under the
/// same keys in the same order (each key once), or all arrays, each value a string, an integer, a
/// real, a date that has a calendar date, or a boolean. It checks what the general binary reader
/// checks of the objects it meets (trailer, offsets, references, lengths, string contents, the
/// size shared rows expand to) and gives up at anything else, so that the general reader, which
/// writes the same lines for what this one accepts, says what is wrong with the rest.
class BinaryRowsConversion {
public:
    enum class Status : std::uint8_t {
        Finished, ///< every line written
        Other,    ///< not of this shape (lines may have been written: discard them)
        Stopped   ///< `goOn` asked to stop
    };

    /// Reads the list through `bytes`, which must outlive the object; a read that fails answers
    /// Other. Lines go to `writer`; with `header` a line of the keys comes before the first
    /// dictionary's. The first element's events go to `keyListPass`, so that its key list is what the
    /// general reader leaves there.
    BinaryRowsConversion(BlockReader& bytes, CHCSVWriter& writer, bool header, FileConverter& keyListPass);

    /// Writes every line. `goOn`, when given, is asked now and then with the share of the list
    /// done, in bytes of the list; false stops.
    Status run(const std::function<bool(std::uint64_t)>& goOn = {});
    /// Lines written, the header line included.
    std::size_t lines() const { return _lines; }

    /// True when `head` starts as every list this class reads does ("bplist00").
    static bool hasMagic(std::string_view head);

private:
    // The places read in turn, each with its own lane of the reader: the root's references, a row
    // (its object and references), the offset table and the values' objects as they come, and the
    // table and objects of values shared with earlier rows.
    enum Lane : unsigned { RootLane, RowLane, TableLane, ObjectLane, SharedTableLane, SharedLane };

    struct Object {
        std::uint8_t type = 0;   // the marker's high nibble
        std::uint8_t low = 0;    // its low nibble
        std::uint8_t lane = 0;   // the reader's lane it was read in
        std::uint64_t count = 0; // bytes, characters, elements or entries, by type
        std::uint64_t start = 0; // offset of the contents
        std::string_view text;   // an ASCII-type string's bytes, until the next read
    };

    bool readTrailer();
    // `lane`: the reader's lane for the object's bytes (its offset is read in the table's).
    bool readObject(std::uint64_t index, Object& object, unsigned lane = ObjectLane);
    bool readReference(std::uint64_t position, std::uint64_t& index, unsigned lane);
    // The text of a string object just read.
    void readText(const Object& object, Text& text);
    // The value of an integer, real or date object, as the general reader decodes it.
    PlistValue number(const Object& object);
    // The first dictionary's keys into the columns; false when one is not a string or repeats.
    bool readColumns(const Object& row);
    // Whether a later dictionary has exactly those keys, in that order.
    bool hasColumns(const Object& row);
    // Whether the key object `index` holds the text of the first dictionary's key `column`.
    bool isKey(std::uint64_t index, std::size_t column);
    bool writeValue(std::uint64_t index);
    bool reportFirstRow(const Object& row);
    std::uint64_t readUnsigned(std::uint64_t position, unsigned size, unsigned lane);
    static std::uint64_t bigEndian(const char* bytes, unsigned size);

    BlockReader& _bytes;
    CHCSVWriter& _writer;
    const bool _header;
    FileConverter& _keyListPass;
    unsigned _offsetSize = 0;
    unsigned _referenceSize = 0;
    std::uint64_t _objectCount = 0;
    std::uint64_t _topObject = 0;
    std::uint64_t _offsetTable = 0;
    std::uint64_t _newestValue = 0; // the index of the last value not shared
    std::size_t _lines = 0;
    std::vector<std::uint64_t> _keyIndexes; // the first dictionary's key objects
    std::vector<Text> _keys;                // and their text
    std::vector<std::optional<std::string>> _keyBytes; // and their UTF-8 bytes (ASCII-type objects)
    Text _wide;                             // a UTF-16 value or key being compared
    std::string _references;                // the row's references
};

/// Converts the binary list at `path` as convertPlistToCsv() does, when BinaryRowsConversion reads
/// it in full: then the report, the output written or its failure said. Nothing (no output, no file
/// touched) when the list is not of that shape, the options ask for more than plain UTF-8 lines to
/// a file, or the file cannot be read or changes while read; the caller then converts it the general
/// way. The file is read through a BlockReader of `blockCount` blocks of `blockSize` bytes, so that
/// the memory taken does not grow with the list's size (only with its longest string).
std::optional<ConversionReport> convertBinaryRows(const std::string& path, const std::string& outputPath, bool header,
                                                  FileConverter& keyListPass, const CsvWriteDialect& dialect,
                                                  ConversionMonitor& progress,
                                                  std::size_t blockSize = BlockReader::defaultBlockSize,
                                                  std::size_t blockCount = BlockReader::defaultBlockCount);

} // namespace plistable::detail
