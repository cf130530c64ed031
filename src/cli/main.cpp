#include "cli/Cli.hpp"
#include "core/Log.hpp"
#include "core/UserDefaults.hpp"

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    // run() sends the library's messages to its error stream; this covers anything logged outside it.
    plistable::setLogSink(plistable::logToStandardError);
    // Past a file-size limit (ulimit -f) a write fails with EFBIG, which each command reports, instead
    // of ending the process with its temporary files left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    return plistable::cli::run({argv, argv + argc}, std::cin, std::cout, std::cerr,
                               plistable::UserDefaults::standardStorePath());
}
