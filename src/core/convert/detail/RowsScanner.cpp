#include "core/convert/detail/RowsScanner.hpp"

#include "core/convert/FileConverter.hpp"
#include "core/io/AtomicFileOutputStream.hpp"
#include "core/text/detail/Utf8.hpp"

#include <vector>

namespace plistable::detail {

RowsScanner::RowsScanner(CHCSVWriter& writer, bool header, FileConverter& keyListPass)
    : _writer(writer), _header(header), _keyListPass(keyListPass)
{
}

RowsScanner::Status RowsScanner::feed(std::string_view bytes, bool isFinal)
{
    if (_status != Status::Reading)
        return _status;
    if (!_pending.empty()) {
        // Complete the element cut off by the last piece with the start of this one (through the
        // first place an element may end), then read the rest in place.
        const std::size_t take = elementEndIn(bytes);
        _pending.append(bytes.substr(0, take));
        const std::size_t used = run(_pending.data(), _pending.size(), isFinal && take == bytes.size());
        if (_status != Status::Reading)
            return _status;
        _pending.erase(0, used);
        if (!_pending.empty() || take == bytes.size()) {
            _pending.append(bytes.substr(take)); // still cut off: all of it waits
            if (_pending.size() > maxPending)
                _status = Status::Other;
            return _status;
        }
        bytes.remove_prefix(take);
    }
    const char* data = bytes.data();
    const std::size_t size = bytes.size();
    const std::size_t used = run(data, size, isFinal);
    if (_status != Status::Reading)
        return _status;
    if (isFinal || size - used > maxPending) {
        _status = Status::Other;
        return _status;
    }
    _pending.assign(data + used, size - used);
    return _status;
}

void RowsScanner::reportStart()
{
    _keyListPass.parserDidStartDocument();
    _keyListPass.parserDidStartElement(u"plist");
    _keyListPass.parserDidStartElement(u"array");
}

void RowsScanner::reportFirstRow(bool dictionary, std::span<const std::string_view> keys,
                                 std::span<const std::u16string_view> elements)
{
    // The events the key-list pass takes from the first element; the later ones change nothing there.
    _keyListPass.parserDidStartElement(dictionary ? u"dict" : u"array");
    std::vector<Text> names;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (dictionary) {
            _keyListPass.parserDidStartElement(u"key");
            Text& name = names.emplace_back();
            appendUtf8AsUtf16(keys[i], name);
            if (!name.empty())
                _keyListPass.parserFoundCharacters(name);
            _keyListPass.parserDidEndElement(u"key");
        }
        _keyListPass.parserDidStartElement(elements[i]);
        _keyListPass.parserDidEndElement(elements[i]);
    }
    _keyListPass.parserDidEndElement(dictionary ? u"dict" : u"array");
    if (dictionary && _header) {
        _writer.writeLineOfFields(names);
        ++_lines;
    }
}

void RowsScanner::reportEnd()
{
    _keyListPass.parserDidEndElement(u"array");
    _keyListPass.parserDidEndElement(u"plist");
    _keyListPass.parserDidEndDocument();
    _status = Status::Finished;
}

void RowsScanner::writeRowValues(const char* data)
{
    _lineFields.clear();
    std::uint64_t plain = 0;
    for (const Field& value : _rowValues) {
        if (value.plain && _lineFields.size() < 64)
            plain |= std::uint64_t{1} << _lineFields.size();
        _lineFields.push_back(view(data, value));
    }
    _writer.writeUtf8Line(_lineFields, plain);
    ++_lines;
}

ConversionReport commitStraightRows(const std::string& path, const std::string& outputPath, std::size_t lines,
                                    CHCSVWriter& writer, AtomicFileOutputStream& stream, ConversionMonitor& progress)
{
    ConversionReport report;
    report.sourcePath = path;
    report.records = lines;
    writer.closeStream();
    if (writer.hasFailed() && !stream.error())
        report.problems.push_back(writer.failureReason());
    if (std::error_code error = stream.commit()) {
        report.problems.assign(1, progress.writeFailure(outputPath, error));
        return report;
    }
    report.outputPath = outputPath;
    report.status = report.problems.empty() ? ConversionReport::Status::Converted : ConversionReport::Status::Partial;
    return report;
}

} // namespace plistable::detail
