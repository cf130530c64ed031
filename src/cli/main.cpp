#include "cli/Cli.hpp"
#include "core/Log.hpp"
#include "core/UserDefaults.hpp"

#include <iostream>

int main(int argc, char** argv)
{
    // run() sends the library's messages to its error stream; this covers anything logged outside it.
    plistable::setLogSink(plistable::logToStandardError);
    return plistable::cli::run({argv, argv + argc}, std::cin, std::cout, std::cerr,
                               plistable::UserDefaults::standardStorePath());
}
