#pragma once

#include <stdexcept>
#include <string_view>

namespace plistable {

/// A programming error in the arguments of a call (a refused separator, a missing stream, ...).
/// Data never raises this: bad data is reported as a value. Thrown only through failAssertion().
class AssertionFailure : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

/// Throws AssertionFailure with exactly `message` as its what().
[[noreturn]] void failAssertion(std::string_view message);

/// The message "Invalid parameter not satisfying: NAME" for a required argument that is missing.
[[noreturn]] void failInvalidParameter(std::string_view parameterName);

} // namespace plistable
