#pragma once

#include "core/text/TextEncoding.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {

/// What detectEncoding() needs to know about a file's bytes, gathered in one pass over them in
/// pieces, so that a file of any size can be detected without being held: whether the bytes hold an
/// ESC, and whether they are UTF-8 (whole, or with only the last character cut off).
class EncodingEvidence {
public:
    /// Takes the next piece of the bytes.
    void add(std::string_view bytes);

    /// The encodings to try, in order, once every piece was added: the first under which all of the
    /// bytes decode (TextDecoder, with cutOffAsReplacement for UTF-8) is the one detectEncoding()
    /// gives for all of them. The last one always decodes (UTF-8 already validated, or Mac OS Roman).
    std::vector<TextEncoding> trials() const;

    /// As cutOffUtf8Length() of all the bytes added.
    std::size_t cutOffUtf8Length() const;

private:
    bool _escape = false;      // a 0x1B was seen
    bool _utf8 = true;         // everything so far is UTF-8, save `_pending`
    bool _multiByte = false;   // a whole multi-byte UTF-8 character was seen
    std::string _pending;      // the start of a UTF-8 character the last piece cut off
};

} // namespace plistable
