#include "core/AssertionFailure.hpp"

#include <string>

namespace plistable {

void failAssertion(std::string_view message)
{
    throw AssertionFailure(std::string(message));
}

void failInvalidParameter(std::string_view parameterName)
{
    failAssertion("Invalid parameter not satisfying: " + std::string(parameterName));
}

} // namespace plistable
