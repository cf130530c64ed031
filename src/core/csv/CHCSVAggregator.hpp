#pragma once

#include "core/csv/CHCSVParserDelegate.hpp"

#include <optional>
#include <vector>

namespace plistable {

/// Collects a CHCSVParser's events into rows of field texts, for the one-call reading operations.
/// After a failure event it holds no rows at all (never a partial result) and keeps the error.
class CHCSVAggregator : public CHCSVParserDelegate {
public:
    /// Lines, field lists and failures; comments and the document's end are not taken.
    unsigned implementedOperations() const override
    {
        return BeginDocument | BeginLine | ReadField | EndLine | FailWithError;
    }

    void parserDidBeginDocument(CHCSVParser& parser) override;
    void parserDidBeginLine(CHCSVParser& parser, std::uint64_t recordNumber) override;
    void parserDidReadField(CHCSVParser& parser, std::u16string_view field, std::int64_t fieldIndex) override;
    void parserDidEndLine(CHCSVParser& parser, std::uint64_t recordNumber) override;
    void parserDidFailWithError(CHCSVParser& parser, const CHCSVError& error) override;

    /// The rows collected so far; absent before the document begins and after a failure.
    const std::optional<std::vector<std::vector<Text>>>& lines() const { return _lines; }
    /// Hands the rows over to the caller, leaving the aggregator without them.
    std::optional<std::vector<std::vector<Text>>> takeLines() { return std::move(_lines); }
    /// The error of the failure event, if one came.
    const std::optional<CHCSVError>& error() const { return _error; }

private:
    std::optional<std::vector<std::vector<Text>>> _lines;
    std::optional<std::vector<Text>> _currentLine;
    std::optional<CHCSVError> _error;
    std::size_t _previousLength = 0;
};

} // namespace plistable
