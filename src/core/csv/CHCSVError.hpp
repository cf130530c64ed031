#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plistable {

/// The error domain of the streaming CSV reader.
inline constexpr std::string_view CHCSVErrorDomain = "org.plistable.csv";

/// Codes of CHCSVError.
enum CHCSVErrorCode : std::int64_t {
    CHCSVErrorCodeUnexpectedDelimiter = 1,     ///< a character other than the delimiter, a line break or the end after a field
    CHCSVErrorCodeUnterminatedQuotedField = 2, ///< the input ended inside a quoted field
    CHCSVErrorCodeUndecodableBytes = 3,        ///< bytes the stream's encoding cannot decode, or a character cut off at the end
    CHCSVErrorCodeStreamFailed = 4,            ///< the stream could not be opened or failed while reading
};

/// The error that stopped a parse, as sent with parserDidFailWithError. A value: copy it freely.
struct CHCSVError {
    std::string domain{CHCSVErrorDomain}; ///< always CHCSVErrorDomain
    std::int64_t code = 0;                ///< one of CHCSVErrorCode
    std::string description;              ///< the description: an English message (UTF-8); line and offset give the position
    std::uint64_t line = 0;               ///< the line (record number, from 1) where reading stopped; 0 before the first line
    std::uint64_t offset = 0;             ///< code 3: offset in bytes in the stream; otherwise in UTF-16 units (not bytes) from the start of the text
};

} // namespace plistable
