#pragma once

#include "core/convert/ConversionReport.hpp"
#include "core/convert/detail/ConversionMonitor.hpp"
#include "core/csv/CHCSVWriter.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {
class AtomicFileOutputStream;
class FileConverter;
}

namespace plistable::detail {

/// What the scanners of the straight property list to CSV path share: the list fed a piece at a
/// time, the root-array element cut off by the end of a piece kept for the next, and the events the
/// key-list pass takes and the lines the general reader writes. A scanner reads one syntax and
/// gives up (Other) at anything the general reader could write or report otherwise.
class RowsScanner {
public:
    enum class Status : std::uint8_t {
        Reading,  ///< more input is welcome
        Finished, ///< the final piece was read and every line written
        Other     ///< the list is not of this shape (lines may have been written: discard them)
    };

    virtual ~RowsScanner() = default;
    RowsScanner(const RowsScanner&) = delete;
    RowsScanner& operator=(const RowsScanner&) = delete;

    /// Reads the next piece of the document (`isFinal` on the last one).
    Status feed(std::string_view bytes, bool isFinal);
    Status status() const { return _status; }
    /// Lines written so far, the header line included.
    std::size_t lines() const { return _lines; }

    /// Longest construct kept between two pieces (an element of the root array); a longer one
    /// gives up.
    static constexpr std::size_t maxPending = std::size_t{4} << 20;

protected:
    /// Lines go to `writer`; with `header` a line of the keys comes before the first dictionary's.
    /// The first element's events go to `keyListPass`, so that its key list is what the general
    /// reader leaves there.
    RowsScanner(CHCSVWriter& writer, bool header, FileConverter& keyListPass);

    /// Reads what it can of `size` bytes at `data` and returns how many were used; the rest waits
    /// for more. Sets the status to Other (never to be read) or Finished (after the final piece).
    virtual std::size_t run(const char* data, std::size_t size, bool isFinal) = 0;
    /// How many bytes at the start of a new piece the cut-off element may need, through the first
    /// place it could end; all of them when none.
    virtual std::size_t elementEndIn(std::string_view bytes) const = 0;

    /// The events of the document's start, up to the root array's.
    void reportStart();
    /// The events of the first element (the dictionary's `keys` or none for an array, each value
    /// in the element `elements` names), and the header line of a dictionary's keys.
    void reportFirstRow(bool dictionary, std::span<const std::string_view> keys,
                        std::span<const std::u16string_view> elements);
    /// The events of the document's end; the list is Finished.
    void reportEnd();

    /// A key or value of the element being read: bytes of the piece being read, or of _decoded
    /// when escapes or references were resolved in it.
    struct Field {
        std::size_t at; // offset in the piece, or in _decoded when decoded
        std::size_t size;
        bool decoded;
        bool plain = false; // known to be ASCII the CSV writer writes as it is (no quoting byte)
    };
    std::string_view view(const char* data, const Field& field) const
    {
        return {(field.decoded ? _decoded.data() : data) + field.at, field.size};
    }
    /// Appends the bytes from `run` to `at` to the field's text, moving the field into _decoded at
    /// its first escape or reference (the caller appends what that resolves to).
    void appendDecoded(Field& field, const unsigned char* run, const unsigned char* at)
    {
        if (!field.decoded) {
            field.decoded = true;
            field.at = _decoded.size();
        }
        _decoded.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(at - run));
    }
    /// Ends `field` at `end` in the piece starting at `base`: a decoded one takes its bytes from `run`
    /// on into _decoded; `plain` as the scanner found it.
    void finishField(Field& field, const unsigned char* base, const unsigned char* run, const unsigned char* end,
                     bool plain)
    {
        if (field.decoded) {
            _decoded.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(end - run));
            field.size = _decoded.size() - field.at;
        } else {
            field.size = static_cast<std::size_t>(end - base) - field.at;
        }
        field.plain = plain;
    }
    /// Writes the element's values (in the piece at `data` or in _decoded) as one line.
    void writeRowValues(const char* data);

    CHCSVWriter& _writer;
    const bool _header;
    FileConverter& _keyListPass;
    Status _status = Status::Reading;
    std::size_t _lines = 0;
    std::vector<Field> _rowKeys;   ///< the keys and values of the element being read
    std::vector<Field> _rowValues;
    std::string _decoded;          ///< text with escapes or references resolved, for fields that hold any
    std::vector<std::string_view> _lineFields; ///< the fields of the line being written, reused

private:
    std::string _pending; // bytes kept from the last piece (an incomplete element)
};

/// Ends a straight conversion whose lines were all written: closes `writer`, puts the output in
/// place, and reports the `lines` written, a field the writer could not encode, or the failure to
/// write.
ConversionReport commitStraightRows(const std::string& path, const std::string& outputPath, std::size_t lines,
                                    CHCSVWriter& writer, AtomicFileOutputStream& stream, ConversionMonitor& progress);

} // namespace plistable::detail
