#pragma once

#include "core/plist/PlistPointer.hpp"
#include "core/plist/PlistReaderDelegate.hpp"
#include "core/plist/PropertyListReadResult.hpp"

#include <string>
#include <string_view>

namespace plistable::detail {

/// The old-style half of PropertyListReader: decodes and parses the whole text with
/// OpenStepParser and gives `delegate` what the other readers give: the document events, the XML
/// form's events of the root (or of the value `selection` points at), and each root-array element
/// or root-dictionary entry as it is complete. Without a selection, entries go out as the parser
/// reads them; with one, only the root entry or element on the pointer's path is kept.
/// With `owned` (the string `bytes` views), that string is emptied once the text is decoded, so
/// that the bytes and their UTF-16 form are not held at once through the parse.
PropertyListReadResult readOpenStep(std::string_view bytes, PlistReaderDelegate& delegate,
                                    const PlistPointer* selection, std::string* owned = nullptr);

} // namespace plistable::detail
