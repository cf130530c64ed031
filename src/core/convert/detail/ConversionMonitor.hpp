#pragma once

#include "core/convert/ConversionReport.hpp"
#include "core/io/AtomicFile.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

namespace plistable {
struct ConversionOptions;
}

namespace plistable::detail {

/// The run-control options as one conversion sees them: passes progress on at most about every
/// 1 MiB (and once at the end), tells when the conversion is to stop, and whether an existing output
/// may be replaced.
class ConversionMonitor {
public:
    /// Follows `options` (progress callback and cancel flag, either may be absent); they must outlive it.
    explicit ConversionMonitor(const ConversionOptions& options);
    /// A monitor that reports nothing and never cancels.
    ConversionMonitor() = default;

    /// Sets the size of the source (0 when unknown).
    void setTotal(std::uint64_t total) { _total = total; }
    /// The size of the source as set, 0 when unknown.
    std::uint64_t total() const { return _total; }
    /// `done` bytes of the source are consumed: reported when 1 MiB has passed since the last report.
    /// False when the conversion is to stop.
    bool advance(std::uint64_t done);
    /// Reports the end: `done` bytes of `total` (the size when it was unknown before).
    void finish(std::uint64_t done);
    /// True once the cancel flag reads true.
    bool cancelled() const { return _cancel && _cancel->load(); }
    /// The cancel flag, or nullptr.
    const std::atomic<bool>* cancelFlag() const { return _cancel; }

    /// How the output is to be put in place: kept when it exists under the no-clobber option.
    ExistingTarget existingOutput() const { return _existingOutput; }
    /// The stream the output goes out through instead of a file, or an empty one.
    const ByteStream& outputStream() const { return _outputStream; }
    /// The problem to report when writing `outputPath` failed with `error`.
    std::string writeFailure(const std::string& outputPath, std::error_code error) const;

    /// The report of a conversion of `sourcePath` that stopped on request.
    static ConversionReport cancelledReport(const std::string& sourcePath);

private:
    std::function<void(std::uint64_t, std::uint64_t)> _progress;
    const std::atomic<bool>* _cancel = nullptr;
    std::uint64_t _total = 0;
    std::uint64_t _reported = 0;
    ExistingTarget _existingOutput = ExistingTarget::Replace;
    ByteStream _outputStream;
};

} // namespace plistable::detail
