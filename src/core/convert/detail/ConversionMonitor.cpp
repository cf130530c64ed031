#include "core/convert/detail/ConversionMonitor.hpp"

#include "core/convert/ConversionOptions.hpp"
#include "core/convert/detail/ConversionText.hpp"

namespace plistable::detail {
namespace {

constexpr std::uint64_t reportStep = 1 << 20;

} // namespace

ConversionMonitor::ConversionMonitor(const ConversionOptions& options)
    : _progress(options.run.progress), _cancel(options.run.cancel),
      _existingOutput(options.output.noClobber ? ExistingTarget::Keep : ExistingTarget::Replace),
      _outputStream(options.output.stream)
{
}

std::string ConversionMonitor::writeFailure(const std::string& outputPath, std::error_code error) const
{
    // Another run put the output in place after this one looked: the same refusal as an output there at the start.
    if (_existingOutput == ExistingTarget::Keep && error == std::errc::file_exists)
        return outputPath + ": exists, not replaced";
    return "cannot write " + outputPath + ": " + error.message();
}

bool ConversionMonitor::advance(std::uint64_t done)
{
    if (_progress && done >= _reported + reportStep) {
        _reported = done;
        _progress(done, _total);
    }
    return !cancelled();
}

void ConversionMonitor::finish(std::uint64_t done)
{
    if (_total == 0)
        _total = done;
    if (_progress)
        _progress(done, _total);
}

ConversionReport ConversionMonitor::cancelledReport(const std::string& sourcePath)
{
    ConversionReport report;
    report.sourcePath = sourcePath;
    report.status = ConversionReport::Status::Cancelled;
    report.problems.push_back(cancelledReason);
    return report;
}

} // namespace plistable::detail
