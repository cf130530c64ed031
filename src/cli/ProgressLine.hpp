#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace plistable::cli {

/// One line on a terminal that shows how far the conversion of the current file is, as
/// "\rNAME: 45% 120.3 MB/s" (then clear to the end of the line): only for files larger than
/// `threshold` bytes, redrawn at most 10 times a second, and erased when the file is done.
class ProgressLine {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    /// Draws on `terminal` when `enabled`; otherwise every call does nothing. `clock` is for tests.
    ProgressLine(std::ostream& terminal, bool enabled, std::uint64_t threshold = 32'000'000, Clock clock = {});
    /// Erases a line still shown.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    /// A new file, named `name` on the line, begins.
    void begin(std::string name);
    /// `done` bytes of `total` (0 when unknown: nothing is drawn) are converted.
    void update(std::uint64_t done, std::uint64_t total);
    /// Erases the line, if one is shown.
    void end();

    /// True when `err` is this process's standard error and that is a terminal.
    static bool isTerminal(const std::ostream& err);

private:
    std::ostream& _terminal;
    bool _enabled;
    std::uint64_t _threshold;
    Clock _clock;
    std::string _name;
    std::chrono::steady_clock::time_point _started;
    std::chrono::steady_clock::time_point _drawn;
    bool _shown = false;
};

} // namespace plistable::cli
