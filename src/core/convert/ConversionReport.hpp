#pragma once

#include "core/text/TextEncoding.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace plistable {

/// What converting one file did. The messages name no file: callers put the source path in front.
struct ConversionReport {
    enum class Status {
        Converted, ///< the whole input is in the output file
        Partial,   ///< an output file was written, but some input is missing or altered (see problems)
        Failed,    ///< nothing was written; an existing output file is untouched (see problems)
        Skipped,   ///< not a file this tool converts; passed over
        Cancelled, ///< stopped on request: nothing was written, an existing output is untouched
    };

    std::string sourcePath;
    std::string outputPath;            ///< the file written; empty when none was
    Status status = Status::Failed;
    std::size_t records = 0;           ///< records (lines or elements) written
    TextEncoding encoding = 0;         ///< CSV input: the encoding it was read in (0 with a named encoding)
    std::string encodingName;          ///< CSV input: that encoding's name
    bool encodingGuessed = false;      ///< CSV input: no better encoding fitted, so Mac OS Roman was assumed
    std::vector<std::string> problems; ///< why the status is not Converted, one reason each
    std::vector<std::string> notes;    ///< things worth knowing that do not change the status

    bool succeeded() const { return status == Status::Converted; }
};

} // namespace plistable
