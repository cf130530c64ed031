#pragma once

#include "core/convert/ConversionOptions.hpp"

#include <QString>

namespace plistable {
class UserDefaults;
}

namespace plistable::gui {

/// The options the window offers beside the header check box, as the settings store holds them
/// (one key each, see Settings.hpp). Every default is what is written without the option, so a store
/// that holds none of them converts exactly as before.
struct WindowOptions {
    bool excel = false;         ///< CSV written with a byte-order mark and CRLF line ends
    QString outputEncoding;     ///< a converter name or alias for the CSV written; empty: UTF-8
    QChar delimiterIn = u',';   ///< between the fields of the CSV files read
    QChar delimiterOut = u',';  ///< between the fields of the CSV files written
    OutputFormat outputForm = OutputFormat::Xml; ///< the document a CSV file becomes
    bool types = false;         ///< numbers, "true" and "false" read from CSV become typed values
    bool allKeys = false;       ///< a CSV column for every key of every dictionary
    bool includeSubfolders = false; ///< a folder dropped converts the files of its subfolders too

    /// The options stored in `defaults`. A stored value that is damaged (an unknown encoding or form,
    /// a delimiter that is not one character or is a quote or line break) reads as its default.
    static WindowOptions load(const UserDefaults& defaults);

    /// Sets these options on `options`, leaving everything else (header, cancel, ...) as it is.
    void applyTo(ConversionOptions& options) const;

    /// The stored text of a form ("xml", "binary", "json") and back; nothing for any other text.
    static QString formName(OutputFormat form);
    static std::optional<OutputFormat> formNamed(const QString& name);

    /// True for a character the CSV grammar can split fields on: not '"', a line break or a surrogate half.
    static bool isDelimiter(QChar delimiter);

    friend bool operator==(const WindowOptions&, const WindowOptions&) = default;
};

} // namespace plistable::gui
