#pragma once

#include "core/convert/ConversionOptions.hpp"
#include "core/convert/ConversionReport.hpp"
#include "core/convert/detail/ConversionMonitor.hpp"
#include "core/csv/CHCSVWriter.hpp"

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

    /// Reads the list in `bytes`, which must outlive the object. Lines go to `writer`; with `header`
    /// a line of the keys comes before the first dictionary's. The first element's events go to
    /// `keyListPass`, so that its key list is what the general reader leaves there.
    BinaryRowsConversion(std::string_view bytes, CHCSVWriter& writer, bool header, FileConverter& keyListPass);

    /// Writes every line. `goOn`, when given, is asked now and then with the share of the list
    /// done, in bytes of `bytes`; false stops.
    Status run(const std::function<bool(std::uint64_t)>& goOn = {});
    /// Lines written, the header line included.
    std::size_t lines() const { return _lines; }

    /// True when `head` starts as every list this class reads does ("bplist00").
    static bool hasMagic(std::string_view head);

private:
    struct Object {
        std::uint8_t type = 0;   // the marker's high nibble
        std::uint8_t low = 0;    // its low nibble
        std::uint64_t count = 0; // bytes, characters, elements or entries, by type
        std::uint64_t start = 0; // offset of the contents
    };

    bool readTrailer();
    bool readObject(std::uint64_t index, Object& object) const;
    bool readReference(std::uint64_t position, std::uint64_t& index) const;
    // Asks the cache for the offsets (or, with `objects`, the objects) of row `i`'s values.
    void prefetchRow(const Object& root, std::uint64_t i, bool objects) const;
    bool readKey(std::uint64_t index, Text& key) const;
    // The value of an integer, real or date object, as the general reader decodes it.
    PlistValue number(const Object& object) const;
    // The first dictionary's keys into the columns; false when one is not a string or repeats.
    bool readColumns(const Object& row);
    // Whether a later dictionary has exactly those keys, in that order.
    bool hasColumns(const Object& row);
    // Whether the key object `index` holds the text of the first dictionary's key `column`.
    bool isKey(std::uint64_t index, std::size_t column);
    bool writeValue(std::uint64_t index);
    bool reportFirstRow(const Object& row);
    std::uint64_t readUnsigned(std::uint64_t position, unsigned size) const;

    std::string_view _bytes;
    CHCSVWriter& _writer;
    const bool _header;
    FileConverter& _keyListPass;
    unsigned _offsetSize = 0;
    unsigned _referenceSize = 0;
    std::uint64_t _objectCount = 0;
    std::uint64_t _topObject = 0;
    std::uint64_t _offsetTable = 0;
    std::size_t _lines = 0;
    std::vector<std::uint64_t> _keyIndexes; // the first dictionary's key objects
    std::vector<Text> _keys;                // and their text
    std::vector<std::optional<std::string_view>> _keyBytes; // and their UTF-8 bytes (ASCII-type objects)
    Text _wide;                             // a UTF-16 value or key being compared
};

/// Converts the binary list at `path` as convertPlistToCsv() does, when BinaryRowsConversion reads
/// it in full: then the report, the output written or its failure said. Nothing (no output, no file
/// touched) when the list is not of that shape, the options ask for more than plain UTF-8 lines to
/// a file, or the file cannot be read; the caller then converts it the general way. The file is read
/// whole into memory.
std::optional<ConversionReport> convertBinaryRows(const std::string& path, const std::string& outputPath, bool header,
                                                  FileConverter& keyListPass, const CsvWriteDialect& dialect,
                                                  ConversionMonitor& progress);

} // namespace plistable::detail
