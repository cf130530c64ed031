#pragma once

#include "core/csv/CHCSVParser.hpp"
#include "core/csv/CHCSVParserDelegate.hpp"

#include <functional>
#include <string>
#include <vector>

namespace plistable::test {

/// Turns every event of a CHCSVParser into one line, in the words `plistable read --events` uses:
///   beginDocument / beginLine 1 / field 0 "a" / endLine 1 / comment "x" / error 1 "..." / endDocument
/// Texts are UTF-8 with \" \\ \n \r \t escaped and other control characters and lone surrogates as \uXXXX.
class RecordingDelegate : public CHCSVParserDelegate {
public:
    /// Called after each event is recorded, with the event's line; may call parser.cancelParsing().
    std::function<void(CHCSVParser& parser, const std::string& line)> onEvent;
    /// The operations to take; the others are not sent to this delegate.
    unsigned operations = AllOperations;

    unsigned implementedOperations() const override { return operations; }
    void parserDidBeginDocument(CHCSVParser& parser) override;
    void parserDidBeginLine(CHCSVParser& parser, std::uint64_t recordNumber) override;
    void parserDidReadField(CHCSVParser& parser, std::u16string_view field, std::int64_t fieldIndex) override;
    void parserDidEndLine(CHCSVParser& parser, std::uint64_t recordNumber) override;
    void parserDidReadComment(CHCSVParser& parser, const Text& comment) override;
    void parserDidFailWithError(CHCSVParser& parser, const CHCSVError& error) override;
    void parserDidEndDocument(CHCSVParser& parser) override;

    /// Every line so far.
    const std::vector<std::string>& lines() const { return _lines; }
    /// The lines joined with line feeds, each one ended by one, for comparing whole logs.
    std::string log() const;

    /// The quoted, escaped form a text takes in a line.
    static std::string quoted(std::u16string_view text);

private:
    void record(CHCSVParser& parser, std::string line);
    std::vector<std::string> _lines;
};

} // namespace plistable::test
