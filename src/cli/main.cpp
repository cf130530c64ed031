#include "cli/Cli.hpp"
#include "core/UserDefaults.hpp"

#include <iostream>

int main(int argc, char** argv)
{
    return plistable::cli::run({argv, argv + argc}, std::cin, std::cout, std::cerr,
                               plistable::UserDefaults::standardStorePath());
}
