#pragma once

#include "core/text/TextEncoding.hpp"

#include <QString>
#include <QStringList>

#include <vector>

namespace plistable::gui {

/// The first rows of a table file, read as a stream that stops once they are read, so that the
/// size of the file does not matter: a CSV file as its fields, a property list as the table it
/// holds (a line per element of a root array, a dictionary's keys as columns; a line per entry of a
/// root dictionary, its key first). Reading never throws; what went wrong is in `problems`.
struct TablePreview {
    /// Rows shown when no other number is given.
    static constexpr int defaultRows = 200;

    QStringList columns;            ///< the column names; empty when the columns have none (numbered)
    std::vector<QStringList> rows;  ///< the rows read, at most the number asked for
    bool more = false;              ///< the file goes on after the rows read
    QString encoding;               ///< CSV: the encoding the text was read in
    QStringList problems;           ///< why reading stopped before the rows or the end, with its line or byte

    /// Reads a CSV file split on `delimiter`, the first line as the column names with `header`. The
    /// encoding is `encoding` when given (0: none), else `encodingName` (a converter name) when given,
    /// else the one its first bytes decode in. A leading byte-order mark is no text. Reads no more
    /// than the rows and a bounded amount past them (a field without end stops the preview there).
    static TablePreview ofCsv(const QString& path, QChar delimiter, bool header, TextEncoding encoding = 0,
                              const QString& encodingName = {}, int maxRows = defaultRows);

    /// Reads a property list, XML or binary (a binary one is read whole), until `maxRows` rows and
    /// one more element are read.
    static TablePreview ofPropertyList(const QString& path, int maxRows = defaultRows);
};

} // namespace plistable::gui
