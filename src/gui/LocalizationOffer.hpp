#pragma once

#include "gui/WindowOptions.hpp"

#include <QString>

namespace plistable::gui {

// What the window offers for an app's localization files, through the same engine as
// `plistable strings`: a folder holding them is exported to one CSV table, and such a table is
// imported back into a folder. Each answers one line for the status line, naming what went wrong.

/// True for a file whose first line begins with the header of a localization table
/// (table,key,variant,comment), split on `delimiter`; a leading byte-order mark is passed over.
bool isLocalizationTable(const QString& path, QChar delimiter);

/// Exports the localization files under `folder` into the CSV file `target`, written in the
/// dialect the options give for CSV (delimiter, Excel, encoding); nothing is written when a file
/// cannot be read. Sets `ok` to whether the table was written.
QString exportLocalizationTable(const QString& folder, const QString& target, const WindowOptions& options, bool& ok);

/// Writes the strings files (or catalogs) of the table in `table`, read with the options' delimiter,
/// into `folder`. Sets `ok` to whether every file was written.
QString importLocalizationTable(const QString& table, const QString& folder, const WindowOptions& options, bool& ok);

} // namespace plistable::gui
