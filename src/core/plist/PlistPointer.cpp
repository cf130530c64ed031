#include "core/plist/PlistPointer.hpp"

#include "core/text/detail/Utf8.hpp"

#include <limits>

namespace plistable {

std::optional<PlistPointer> PlistPointer::parse(std::string_view utf8, std::string& error)
{
    PlistPointer pointer;
    if (utf8.empty())
        return pointer;
    if (utf8.front() != '/') {
        error = "a pointer is empty or begins with '/'";
        return std::nullopt;
    }
    if (!detail::isWellFormedUtf8(utf8)) {
        error = "a pointer must be UTF-8 text";
        return std::nullopt;
    }
    std::size_t at = 1;
    while (true) {
        const std::size_t end = std::min(utf8.find('/', at), utf8.size());
        const std::string_view written = utf8.substr(at, end - at);
        std::string part;
        for (std::size_t i = 0; i < written.size(); ++i) {
            if (written[i] != '~') {
                part += written[i];
                continue;
            }
            if (i + 1 >= written.size() || (written[i + 1] != '0' && written[i + 1] != '1')) {
                error = "'~' in a pointer is followed by '0' or '1'";
                return std::nullopt;
            }
            part += written[++i] == '0' ? '~' : '/';
        }
        Text text;
        detail::appendUtf8AsUtf16(part, text);
        pointer._parts.push_back(std::move(text));
        pointer._written.emplace_back(written);
        if (end == utf8.size())
            return pointer;
        at = end + 1;
    }
}

std::string PlistPointer::prefix(std::size_t count) const
{
    std::string out;
    for (std::size_t i = 0; i < count && i < _written.size(); ++i)
        out += "/" + _written[i];
    return out;
}

std::string PlistPointer::place(std::size_t count) const
{
    return count == 0 ? "the root" : prefix(count);
}

std::optional<std::size_t> PlistPointer::index(std::u16string_view part)
{
    if (part.empty() || (part.size() > 1 && part[0] == u'0'))
        return std::nullopt;
    std::size_t value = 0;
    for (char16_t c : part) {
        if (c < u'0' || c > u'9' || value > (std::numeric_limits<std::size_t>::max() - 9) / 10)
            return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - u'0');
    }
    return value;
}

} // namespace plistable
