#include "core/csv/CHCSVAggregator.hpp"

namespace plistable {

void CHCSVAggregator::parserDidBeginDocument(CHCSVParser&)
{
    _lines.emplace();
}

void CHCSVAggregator::parserDidBeginLine(CHCSVParser&, std::uint64_t)
{
    // Lines tend to have as many fields as the one before.
    _currentLine.emplace();
    _currentLine->reserve(_previousLength);
}

void CHCSVAggregator::parserDidReadField(CHCSVParser&, std::u16string_view field, std::int64_t)
{
    if (_currentLine)
        _currentLine->emplace_back(field);
}

void CHCSVAggregator::parserDidEndLine(CHCSVParser&, std::uint64_t)
{
    // After a failure _lines stays absent, so a late line end adds nothing.
    if (_currentLine)
        _previousLength = _currentLine->size();
    if (_lines && _currentLine)
        _lines->push_back(std::move(*_currentLine));
    _currentLine.reset();
}

void CHCSVAggregator::parserDidFailWithError(CHCSVParser&, const CHCSVError& error)
{
    _error = error;
    _lines.reset();
}

} // namespace plistable
