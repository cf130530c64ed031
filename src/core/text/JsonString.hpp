#pragma once

#include <string>
#include <string_view>

namespace plistable {

/// The choices between equivalent escapes that appendJsonString leaves to its caller, so that every
/// JSON text plistable writes keeps its exact bytes.
struct JsonStringStyle {
    bool upperCaseHex = false;        ///< \u001F rather than \u001f
    bool shortControlEscapes = false; ///< \b and \f rather than \u0008 and \u000c
};

/// Appends `text` to `out` as a JSON string, quotes included, in UTF-8. '"' and '\' are escaped,
/// U+000A, U+000D and U+0009 are written \n, \r and \t, other units below U+0020 as \uXXXX; a lone
/// surrogate, which UTF-8 cannot carry, is written \uXXXX too, so the output is always valid JSON.
void appendJsonString(std::string& out, std::u16string_view text, JsonStringStyle style = {});

/// As above with UTF-16 output; lone surrogates are kept as they are.
void appendJsonString(std::u16string& out, std::u16string_view text, JsonStringStyle style = {});

/// As the UTF-8 form above, from UTF-8 `bytes`: each maximal run of bytes that is not well-formed
/// UTF-8 (the longest start of a sequence that cannot be completed, or one byte) becomes U+FFFD.
void appendJsonStringFromUtf8(std::string& out, std::string_view bytes, JsonStringStyle style = {});

} // namespace plistable
