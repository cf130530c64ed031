#pragma once

#include "core/plist/OpenStepParser.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plistable::detail {

/// The state of one OpenStepParser::parse() run: a recursive-descent reader over the whole text
/// (depth bounded by maxPropertyListDepth, so the stack is too), counting lines as it goes.
class OpenStepGrammar {
public:
    OpenStepGrammar(std::u16string_view text, OpenStepParserDelegate& delegate);

    /// Reads the whole text; the first fault, or nothing.
    std::optional<OpenStepError> run();

private:
    /// Where an open bracket stands, for the error of one never closed.
    struct Opening {
        std::uint64_t line;
        std::size_t offset;
    };

    bool atEnd() const { return _pos >= _text.size(); }
    char16_t peek() const { return _text[_pos]; }
    void advance();
    bool fail(std::string message, std::uint64_t line, std::size_t offset);

    bool skipSpace(std::vector<OpenStepComment>* comments);
    bool readValue(PlistValue& out, std::size_t depth);
    bool readQuoted(Text& out);
    bool readEscape(Text& out);
    bool readUnquoted(Text& out);
    bool readAngled(PlistValue& out);
    bool readTyped(PlistValue& out, std::uint64_t line, std::size_t offset);
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

    std::u16string_view _text;
    OpenStepParserDelegate& _delegate;
    std::size_t _pos = 0;
    std::uint64_t _line = 1;
    std::optional<OpenStepError> _error;
};

} // namespace plistable::detail
