#pragma once

#include "core/csv/CHCSVError.hpp"
#include "core/text/TextEncoding.hpp"

#include <cstdint>
#include <string_view>

namespace plistable {

class CHCSVParser;

/// Receives the events of a CHCSVParser, synchronously and in document order. Every operation does
/// nothing unless overridden; implementedOperations() tells the reader which ones to send, so that
/// it makes no text for an event nobody takes.
class CHCSVParserDelegate {
public:
    /// One bit per operation, for implementedOperations().
    enum Operation : unsigned {
        BeginDocument = 1u << 0, ///< parserDidBeginDocument
        BeginLine = 1u << 1,     ///< parserDidBeginLine
        ReadField = 1u << 2,     ///< parserDidReadField
        EndLine = 1u << 3,       ///< parserDidEndLine
        ReadComment = 1u << 4,   ///< parserDidReadComment
        FailWithError = 1u << 5, ///< parserDidFailWithError
        EndDocument = 1u << 6,   ///< parserDidEndDocument
        AllOperations = 0x7Fu,   ///< every operation
    };

    virtual ~CHCSVParserDelegate() = default;

    /// The operations this delegate implements (a mask of Operation bits); the reader sends no
    /// other event. The reader asks once per parse, and again when its delegate is replaced.
    virtual unsigned implementedOperations() const { return AllOperations; }

    /// Sent once, first, when parse() starts.
    virtual void parserDidBeginDocument(CHCSVParser& parser) { (void)parser; }
    /// Sent at the start of each line; the first line is 1. Comment lines are not counted.
    virtual void parserDidBeginLine(CHCSVParser& parser, std::uint64_t recordNumber)
    {
        (void)parser, (void)recordNumber;
    }
    /// Sent at the end of each field; `field` is valid only during the call (copy it to keep it).
    /// The first field of a line has index 0.
    virtual void parserDidReadField(CHCSVParser& parser, std::u16string_view field, std::int64_t fieldIndex)
    {
        (void)parser, (void)field, (void)fieldIndex;
    }
    /// Sent at the end of each line, with the number its start had.
    virtual void parserDidEndLine(CHCSVParser& parser, std::uint64_t recordNumber)
    {
        (void)parser, (void)recordNumber;
    }
    /// Sent for each comment line (only with recognizesComments): the text after "#", raw.
    virtual void parserDidReadComment(CHCSVParser& parser, const Text& comment) { (void)parser, (void)comment; }
    /// Sent once, last, when the parse stopped on an error; parserDidEndDocument then is not sent.
    virtual void parserDidFailWithError(CHCSVParser& parser, const CHCSVError& error)
    {
        (void)parser, (void)error;
    }
    /// Sent once, last, when the parse ended without an error (also after cancelParsing()).
    virtual void parserDidEndDocument(CHCSVParser& parser) { (void)parser; }
};

} // namespace plistable
