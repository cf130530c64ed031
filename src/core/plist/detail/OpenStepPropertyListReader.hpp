#pragma once

#include "core/plist/PlistPointer.hpp"
#include "core/plist/PlistReaderDelegate.hpp"
#include "core/plist/PropertyListReadResult.hpp"
#include "core/plist/detail/OpenStepTextSource.hpp"

#include <optional>

#include <string>
#include <string_view>

namespace plistable::detail {

/// The old-style half of PropertyListReader: reads the text a piece at a time from `pieces` and
/// gives `delegate` what the other readers give: the document events, the XML form's events of
/// the root (or of the value `selection` points at), and each root-array element or
/// root-dictionary entry as it is complete. Without a selection, entries go out as the parser
/// reads them; with one, only the root entry or element on the pointer's path is kept. Memory
/// holds what is kept and a window of the text, never the whole input. Nothing when `pieces`
/// failed or stopped (its caller knows why).
std::optional<PropertyListReadResult> readOpenStep(const OpenStepTextSource::Pieces& pieces,
                                                   PlistReaderDelegate& delegate, const PlistPointer* selection);

/// Parses the text of `source` to `delegate`; the first fault, or nothing. A decoding fault
/// anywhere in the input comes before any grammar fault (the rest of the input is decoded to find
/// one), as when the text is decoded whole before it is parsed. Without `keepComments`, no
/// comment is kept or reported.
std::optional<OpenStepError> parseOpenStep(OpenStepTextSource& source, OpenStepParserDelegate& delegate,
                                           bool keepComments = true);

} // namespace plistable::detail
