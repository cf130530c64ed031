#include "core/text/EncodingEvidence.hpp"

#include "core/text/EncodingDetection.hpp"
#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <cstring>

namespace plistable {

void EncodingEvidence::add(std::string_view bytes)
{
    if (!_escape && !bytes.empty() && std::memchr(bytes.data(), 0x1B, bytes.size()) != nullptr)
        _escape = true;
    if (!_utf8)
        return;
    if (!_pending.empty()) {
        while (!bytes.empty() && detail::isIncompleteUtf8Sequence(_pending)) {
            _pending.push_back(bytes.front());
            bytes.remove_prefix(1);
        }
        if (detail::isIncompleteUtf8Sequence(_pending))
            return;
        if (!detail::isWellFormedUtf8(_pending)) {
            _utf8 = false;
            return;
        }
        _pending.clear();
        _multiByte = true;
    }
    const std::size_t valid = detail::validUtf8Length(bytes);
    if (!_multiByte)
        _multiByte = std::any_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(valid),
                                 [](char c) { return (c & 0x80) != 0; });
    const std::string_view rest = bytes.substr(valid);
    if (rest.empty())
        return;
    if (detail::isIncompleteUtf8Sequence(rest))
        _pending.assign(rest);
    else
        _utf8 = false;
}

std::size_t EncodingEvidence::cutOffUtf8Length() const
{
    return _utf8 && _multiByte ? _pending.size() : 0;
}

std::vector<TextEncoding> EncodingEvidence::trials() const
{
    // The order of detectEncoding(): ISO-2022-JP for bytes with an ESC, UTF-8 cut off at the end,
    // then the candidates, of which UTF-8 and Mac OS Roman are settled without a trial.
    std::vector<TextEncoding> order;
    if (_escape)
        order.push_back(NSISO2022JPStringEncoding);
    const bool wholeUtf8 = _utf8 && _pending.empty();
    if (cutOffUtf8Length() > 0 || wholeUtf8) {
        order.push_back(NSUTF8StringEncoding);
        return order;
    }
    for (const TextEncoding candidate : encodingCandidates) {
        if (candidate == NSUTF8StringEncoding || candidate == NSNonLossyASCIIStringEncoding)
            continue; // not UTF-8, as found above; what non-lossy ASCII takes is UTF-8
        order.push_back(candidate);
        if (candidate == NSMacOSRomanStringEncoding)
            break;    // it takes any bytes
    }
    return order;
}

} // namespace plistable
