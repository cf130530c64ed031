#include "cli/ProgressLine.hpp"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace plistable::cli {
namespace {

constexpr auto redrawInterval = std::chrono::milliseconds(100);
constexpr std::string_view clearToEnd = "\x1b[K";

} // namespace

ProgressLine::ProgressLine(std::ostream& terminal, bool enabled, std::uint64_t threshold, Clock clock)
    : _terminal(terminal), _enabled(enabled), _threshold(threshold),
      _clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); }))
{
}

ProgressLine::~ProgressLine()
{
    end();
}

void ProgressLine::begin(std::string name)
{
    end();
    _name = std::move(name);
    _started = _clock();
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total)
{
    if (!_enabled || total <= _threshold)
        return;
    const auto now = _clock();
    if (_shown && now - _drawn < redrawInterval)
        return;
    _drawn = now;
    _shown = true;
    const double seconds = std::chrono::duration<double>(now - _started).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / 1e6 / seconds : 0.0;
    char figures[64];
    std::snprintf(figures, sizeof figures, "%3d%% %.1f MB/s",
                  static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total)), rate);
    _terminal << '\r' << _name << ": " << figures << clearToEnd << std::flush;
}

void ProgressLine::end()
{
    if (!_shown)
        return;
    _shown = false;
    _terminal << '\r' << clearToEnd << std::flush;
}

bool ProgressLine::isTerminal(const std::ostream& err)
{
    return err.rdbuf() == std::cerr.rdbuf() && ::isatty(STDERR_FILENO) == 1;
}

} // namespace plistable::cli
