#pragma once

#include "core/plist/OpenStepParser.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plistable::detail {

class OpenStepTextSource;

/// The state of one old-style read: a recursive-descent reader over a whole text or over the
/// window of a source (depth bounded by maxPropertyListDepth, so the stack is too), counting lines
/// as it goes. It never looks back, and ahead only a few characters, so a source's window holds
/// little more than one piece of the input.
class OpenStepGrammar {
public:
    OpenStepGrammar(std::u16string_view text, OpenStepParserDelegate& delegate);
    /// Without `keepComments`, comments are passed over and none reaches the delegate, so that a
    /// long one costs no memory.
    OpenStepGrammar(OpenStepTextSource& source, OpenStepParserDelegate& delegate, bool keepComments = true);

    /// Reads the whole text; the first fault, or nothing.
    std::optional<OpenStepError> run();

private:
    /// Where an open bracket stands, for the error of one never closed.
    struct Opening {
        std::uint64_t line;
        std::uint64_t offset;
    };

    /// Makes `count` characters from _pos on available when the text has them.
    bool fill(std::size_t count) { return _pos + count <= _text.size() || refill(count); }
    bool refill(std::size_t count);
    bool atEnd() { return !fill(1); }
    char16_t peek() const { return _text[_pos]; }
    /// The offset of _pos in the whole text, in characters.
    std::uint64_t here() const { return _base + _pos; }
    void advance();
    bool fail(std::string message, std::uint64_t line, std::uint64_t offset);
    /// The 0-4 hex digits `ahead` characters after _pos, and their `value`.
    std::size_t hexDigits(std::size_t ahead, unsigned& value);

    bool skipSpace(std::vector<OpenStepComment>* comments);
    bool readValue(PlistValue& out, std::size_t depth);
    bool readQuoted(Text& out);
    bool readEscape(Text& out);
    bool readUnquoted(Text& out);
    bool readAngled(PlistValue& out);
    bool readTyped(PlistValue& out, std::uint64_t line, std::uint64_t offset);
    bool readArray(PlistValue& out, std::size_t depth);
    bool readDictionary(PlistValue& out, std::size_t depth);
    /// A quoted or unquoted string where a key must stand; `expected` names what should be there.
    bool readKey(Text& key, const char* expected);
    /// After a dictionary's key: "= value ;" or ";" alone (the value is then the key). `endLine`
    /// gets the line of the ';'. At the end of the text, the error is the `opening`'s dictionary
    /// unterminated when there is one (braces), else what was expected.
    bool readEntryRest(const Text& key, PlistValue& value, std::size_t depth, std::uint64_t& endLine,
                       const Opening* opening);

    bool readRootDictionary(bool stringsForm, std::optional<Text> firstKey, std::uint64_t firstLine,
                            std::vector<OpenStepComment> pending);
    bool readRootArray(std::vector<OpenStepComment> pending);
    bool finishRoot(std::vector<OpenStepComment> pending);

    std::u16string_view _text; // the whole text, or the source's window
    OpenStepTextSource* _source = nullptr;
    OpenStepParserDelegate& _delegate;
    std::size_t _pos = 0;
    std::uint64_t _base = 0; // the offset of _text[0] in the whole text
    std::uint64_t _line = 1;
    bool _keepComments = true;
    std::optional<OpenStepError> _error;
};

} // namespace plistable::detail
