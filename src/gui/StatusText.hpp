#pragma once

#include "core/convert/ConversionReport.hpp"

#include <QString>
#include <QStringList>

#include <vector>

namespace plistable::gui {

/// What the status line says after a drop: one summary sentence and one line per file.
struct StatusText {
    QString summary;   ///< how many files were written where, how many had problems or were passed over
    QStringList lines; ///< per file, in drop order: source -> output, the encoding a CSV was read in, reasons
    QStringList problems; ///< the lines of the files that were not converted completely, in drop order
    QStringList others;   ///< the remaining lines, in drop order
};

/// Describes the reports of one drop converted into `folder`.
StatusText describeReports(const std::vector<ConversionReport>& reports, const QString& folder);

/// One line for one file: "a.csv → a.plist (read as UTF-8)", "x.csv: not converted: reason", ...
QString describeReport(const ConversionReport& report);

/// The summary followed by at most `maxLines` lines, those of files with problems first, then a
/// note saying how many more there are.
QString shortStatus(const StatusText& text, qsizetype maxLines);

} // namespace plistable::gui
