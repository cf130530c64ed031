#pragma once

#include "core/convert/ConversionReport.hpp"
#include "core/convert/FileConverter.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plistable {

class UserDefaults;

/// What a caller of ParallelConverter::convertFiles() hears while the files convert; each may be
/// left empty. Indexes are positions in the list of paths.
struct ParallelHooks {
    /// The file at `index` is about to be converted, on the thread that converts it (so from several
    /// threads at once). Not called for a file reported Cancelled because the cancel option read
    /// true before it was started.
    std::function<void(std::size_t index)> started;
    /// The progress option of the file at `index` (bytes consumed, its size), on the thread that
    /// converts it (so from several threads at once). The progress option itself is called too.
    std::function<void(std::size_t index, std::uint64_t done, std::uint64_t total)> progress;
    /// The report of the file at `index`, on the thread that called convertFiles(), in argument
    /// order: as soon as that file and every one before it are done, right after that file's log
    /// messages are logged.
    std::function<void(std::size_t index, const ConversionReport& report)> finished;
};

/// Converts many files on several threads with exactly the result of one FileConverter's
/// convertDroppedFiles(): the same output files, the same reports in argument order, and the same
/// log messages in the same order (each file's logged once it and every file before it are done).
/// Files that depend on each other are converted in argument order on one thread: two that write the
/// same output, and one that reads or writes a file another one writes or reads (such as an output
/// that is a later input).
class ParallelConverter {
public:
    /// Reads the "header" setting from `defaults` once, at each convertFiles().
    ParallelConverter(UserDefaults& defaults, ConversionOptions options = {});

    /// Converts `paths` into `folder` with up to `jobs` threads (0: one per core; 1: on the calling
    /// thread, one file after another). Fewer threads when the system gives no more; none, and the
    /// files are converted as with 1. One report per path, in order. The cancel option stops the
    /// files being converted at their next check and reports the ones not yet started Cancelled.
    /// An exception from a conversion stops the files not yet started and reaches the caller once
    /// the reports before it are handed over.
    std::vector<ConversionReport> convertFiles(const std::vector<std::string>& paths, const std::string& folder,
                                               unsigned jobs, const ParallelHooks& hooks = {});

private:
    UserDefaults& _defaults;
    ConversionOptions _options;
};

} // namespace plistable
