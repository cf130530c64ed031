#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace plistable::cli {

/// Runs the command line `args` (args[0] is the program name) with the given streams and settings
/// store, and returns the process exit status (0 done, 1 some input failed, 2 usage error).
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        const std::string& settingsPath);

} // namespace plistable::cli
