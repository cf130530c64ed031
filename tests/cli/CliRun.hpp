#pragma once

#include "cli/Cli.hpp"

#include <sstream>
#include <string>
#include <vector>

namespace plistable::test {

/// What one in-process run of the command line printed and returned.
struct CliResult {
    int status;
    std::string out;
    std::string err;
};

/// Runs `plistable ARGS...` in-process with `input` as standard input and the settings store at `settings`.
inline CliResult runCli(const std::vector<std::string>& args, const std::string& settings, const std::string& input = "")
{
    std::istringstream in(input);
    std::ostringstream out, err;
    std::vector<std::string> full{"plistable"};
    full.insert(full.end(), args.begin(), args.end());
    const int status = plistable::cli::run(full, in, out, err, settings);
    return {status, out.str(), err.str()};
}

} // namespace plistable::test
