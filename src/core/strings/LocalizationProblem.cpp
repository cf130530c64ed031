#include "core/strings/LocalizationProblem.hpp"

namespace plistable {

std::string LocalizationProblem::description() const
{
    // Built by appending: GCC 12 flags the concatenation with a false -Werror=restrict in Release.
    std::string text = path;
    if (line > 0) {
        text += ':';
        text += std::to_string(line);
    }
    text += ": ";
    text += message;
    return text;
}

} // namespace plistable
