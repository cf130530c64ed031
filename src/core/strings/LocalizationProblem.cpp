#include "core/strings/LocalizationProblem.hpp"

namespace plistable {

std::string LocalizationProblem::description() const
{
    return path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + message;
}

} // namespace plistable
