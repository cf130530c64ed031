#pragma once

#include "core/text/TextEncoding.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace plistable::cli {

// What `convert` adds to the line that reports a problem, so that the line says what to do.

/// For a file the dispatch passes over whose extension is "csv" or "plist" in another case, or "tsv",
/// "txt" or "strings": `passed over: the extension is "CSV", not "csv"; --from csv converts it`.
/// Nothing for other extensions.
std::optional<std::string> passedOverHint(const std::string& path);

/// The start of a CSV file (at most its first 64 KiB) as text: decoded in `encoding`, or in the
/// encoding detection chooses when it is empty, and cut after its last whole line when it goes on.
/// Nothing when the file cannot be read or the bytes do not decode.
std::optional<Text> csvSample(std::string_view bytes, const std::string& encoding);
/// As csvSample() for the start of the file at `path`; nothing when it is no regular file.
std::optional<Text> csvSampleOfFile(const std::string& path, const std::string& encoding);

/// `looks separated by ";": try -d semicolon` when the sample's lines hold more semicolons, tabs or
/// pipes outside quotes than commas, and the file `failed` to convert or holds no comma at all (it
/// reads as one column). Nothing otherwise.
std::optional<std::string> delimiterHint(std::u16string_view sample, bool failed);

/// The delimiter among comma, semicolon, tab and pipe that gives the same number of fields (more
/// than one) on the most lines of the sample; comma when none does. Quoted fields are skipped.
char16_t guessDelimiter(std::u16string_view sample);

/// `";"`, `","`, `"|"` or `tabs`, as the notes show a delimiter.
std::string shownDelimiter(char16_t delimiter);

} // namespace plistable::cli
