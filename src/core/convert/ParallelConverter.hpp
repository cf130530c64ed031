#pragma once

#include "core/convert/ConversionReport.hpp"
#include "core/convert/FileConverter.hpp"

#include <string>
#include <vector>

namespace plistable {

class UserDefaults;

/// Converts many files on several threads with exactly the result of one FileConverter's
/// convertDroppedFiles(): the same output files, the same reports in argument order, and the same
/// log messages in the same order (logged once all files are done). Files that depend on each other
/// are converted in argument order on one thread: two that write the same output, and one that
/// reads or writes a file another one writes or reads (such as an output that is a later input).
class ParallelConverter {
public:
    /// Reads the "header" setting from `defaults` once, at each convertFiles().
    ParallelConverter(UserDefaults& defaults, ConversionOptions options = {});

    /// Converts `paths` into `folder` with up to `jobs` threads (0: one per core; 1: on the calling
    /// thread, as convertDroppedFiles() does). One report per path, in order.
    std::vector<ConversionReport> convertFiles(const std::vector<std::string>& paths, const std::string& folder,
                                               unsigned jobs);

private:
    UserDefaults& _defaults;
    ConversionOptions _options;
};

} // namespace plistable
