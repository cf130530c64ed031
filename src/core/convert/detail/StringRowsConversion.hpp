#pragma once

#include "core/convert/ConversionOptions.hpp"
#include "core/convert/ConversionReport.hpp"
#include "core/convert/detail/ConversionMonitor.hpp"
#include "core/convert/detail/RowsScanner.hpp"
#include "core/csv/CHCSVWriter.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {
class FileConverter;
}

namespace plistable::detail {

/// Reads the most common property list of a table straight into CSV lines, from the UTF-8 bytes to
/// the writer, with no value built: the usual XML declaration and document type, <plist>, and a root
/// <array> whose elements are either all dictionaries of values under the same keys in the same
/// order, or all arrays of values, each value a <string>, an <integer>, a <real>, a <date> that has
/// a calendar date, <true/> or <false/>. Text may hold the five named references.
/// It gives up at the first byte outside that shape (another element or value type, a carriage
/// return, a control character, a malformed or cut-off construct, anything unusual): the list is
/// then for the general reader, which writes the same lines for what this one accepts and says
/// what is wrong with the rest. The lines written are those the general reader writes.
class StringRowsScanner final : public RowsScanner {
public:
    /// Lines go to `writer`; with `header` a line of the keys comes before the first dictionary's.
    /// The first element's events go to `keyListPass`, so that its key list is what the general
    /// reader leaves there.
    StringRowsScanner(CHCSVWriter& writer, bool header, FileConverter& keyListPass);

private:
    enum class Step : std::uint8_t { Done, Wait, Other };
    enum class Rows : std::uint8_t { Unknown, Dictionaries, Arrays };

    std::size_t run(const char* data, std::size_t size, bool isFinal) override;
    std::size_t elementEndIn(std::string_view bytes) const override;
    Step prolog(const char*& p, const char* end);
    Step row(const char*& p, const char* end, const char* data);
    // Reads an element whose bytes around its values are those of the first element's (the same
    // keys, tags and white space) by comparing those stretches whole; false, p unmoved, otherwise.
    bool sameShapeRow(const char*& p, const char* end, const char* data);
    Step text(const char*& p, const char* end, const char* data, Field& field);
    Step scalar(const char*& p, const char* end, const char* data, Field& field);
    // Notes the element a value of the first row came in, for the key-list pass.
    void noteElement(std::u16string_view element)
    {
        if (_rows == Rows::Unknown)
            _firstRowElements.push_back(element);
    }

    bool _started = false;    // the prolog and the root array's start tag were read
    bool _arrayEnded = false; // the root array's end tag was read
    Rows _rows = Rows::Unknown;
    std::vector<std::string> _keys; // the first dictionary's keys, in order
    // The bytes before, between and after the first element's values, when each was a <string>.
    std::vector<std::string> _stretches;
    std::vector<std::u16string_view> _firstRowElements; // the element of each value of the first row
};

/// The syntaxes convertStraightRows() takes.
enum class StraightRows : std::uint8_t { Xml, OpenStep, Any };

/// Converts the list at `path` as convertPlistToCsv() does, when a scanner of one of `syntaxes`
/// reads it in full (StringRowsScanner for XML, OpenStepRowsScanner for old-style text, chosen by
/// the first byte): then the report, the output written or its failure said. Nothing (no output, no
/// file touched) when the list is not of that shape, the options ask for more than plain UTF-8
/// lines to a file, or the file cannot be read; the caller then converts it the general way.
std::optional<ConversionReport> convertStraightRows(const std::string& path, const std::string& outputPath,
                                                    bool header, FileConverter& keyListPass,
                                                    const CsvWriteDialect& dialect, ConversionMonitor& progress,
                                                    StraightRows syntaxes = StraightRows::Any);

/// convertStraightRows() for XML lists only.
std::optional<ConversionReport> convertStringRows(const std::string& path, const std::string& outputPath, bool header,
                                                  FileConverter& keyListPass, const CsvWriteDialect& dialect,
                                                  ConversionMonitor& progress);

} // namespace plistable::detail
