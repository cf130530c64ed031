#pragma once

#include "core/convert/detail/RowsScanner.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plistable::detail {

/// Reads the common old-style list of a table straight into CSV lines, from the UTF-8 bytes to the
/// writer, with no value built: a root array "( ... )" whose elements are either all dictionaries
/// "{ key = value; ... }" under the same keys in the same order, or all arrays "( value, ... )",
/// each key and value a quoted or unquoted string, with white space and comments between them.
/// Quoted strings may hold the escapes the general reader decodes (a \U of half a surrogate pair
/// aside). It gives up at anything else (data, typed values, nested containers, a repeated key, a
/// key without a value, text after the list, other white space, a UTF-16 text or bytes that are not
/// UTF-8): the list is then for the general reader, which writes the same lines for what this one
/// accepts and says what is wrong with the rest.
class OpenStepRowsScanner final : public RowsScanner {
public:
    /// Lines go to `writer`; with `header` a line of the keys comes before the first dictionary's.
    /// The first element's events go to `keyListPass`, so that its key list is what the general
    /// reader leaves there.
    OpenStepRowsScanner(CHCSVWriter& writer, bool header, FileConverter& keyListPass);

private:
    enum class Step : std::uint8_t { Done, Wait, Other };
    enum class Rows : std::uint8_t { Unknown, Dictionaries, Arrays };

    std::size_t run(const char* data, std::size_t size, bool isFinal) override;
    std::size_t elementEndIn(std::string_view bytes) const override;
    Step space(const char*& p, const char* end) const;
    Step element(const char*& p, const char* end, const char* data);
    Step row(const char*& p, const char* end, const char* data);
    Step string(const char*& p, const char* end, const char* data, Field& field);
    Step quoted(const char*& p, const char* end, const char* data, Field& field);
    Step escape(const unsigned char*& u, const unsigned char* end);
    Step finishRow(bool dictionary, const char* data);
    // Reads and writes an element whose bytes around its values are the first element's (the same
    // keys, punctuation, white space and comments) by comparing those stretches whole; false, p
    // unmoved, otherwise.
    bool sameShapeRow(const char*& p, const char* end, const char* data);

    bool _final = false;      // the bytes being read end the list
    bool _started = false;    // the root array's '(' was read
    bool _afterRow = false;   // an element was read: a ',' or the ')' comes next
    bool _arrayEnded = false; // the root array's ')' was read
    Rows _rows = Rows::Unknown;
    std::vector<std::string> _keys; // the first dictionary's keys, in order
    // The bytes before, between and after the first element's values, when it had any.
    std::vector<std::string> _stretches;
};

} // namespace plistable::detail
