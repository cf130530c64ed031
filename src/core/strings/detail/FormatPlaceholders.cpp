#include "core/strings/detail/FormatPlaceholders.hpp"

#include <algorithm>

namespace plistable::detail {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::vector<FormatPlaceholder> formatPlaceholders(std::string_view text)
{
    std::vector<FormatPlaceholder> found;
    std::size_t unnumbered = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t at = i + 1;
        std::size_t argument = 0;
        std::size_t digits = at;
        while (digits < text.size() && isDigit(text[digits]))
            ++digits;
        if (digits > at && digits < text.size() && text[digits] == '$') {
            argument = static_cast<std::size_t>(std::stoul(std::string(text.substr(at, digits - at))));
            at = digits + 1;
        }
        std::string type;
        if (at + 1 < text.size() && text[at] == '#' && text[at + 1] == '@') {
            // A plural dictionary's variable: %#@name@.
            const std::size_t end = text.find('@', at + 2);
            if (end == std::string_view::npos)
                continue;
            type = std::string(text.substr(at, end + 1 - at));
            at = end + 1;
        } else {
            while (at < text.size() && std::string_view("-+ #0'").find(text[at]) != std::string_view::npos)
                ++at;
            while (at < text.size() && (isDigit(text[at]) || text[at] == '*'))
                ++at;
            if (at < text.size() && text[at] == '.') {
                ++at;
                while (at < text.size() && (isDigit(text[at]) || text[at] == '*'))
                    ++at;
            }
            const std::size_t lengthStart = at;
            while (at < text.size() && std::string_view("hlqLztj").find(text[at]) != std::string_view::npos)
                ++at;
            if (at >= text.size() || std::string_view("@dDiuUxXoOfFeEgGcCsSpaA").find(text[at]) == std::string_view::npos)
                continue;
            type = std::string(text.substr(lengthStart, at - lengthStart)) + (text[at] == 'i' ? 'd' : text[at]);
            ++at;
        }
        found.push_back({argument != 0 ? argument : ++unnumbered, std::move(type), std::string(text.substr(i, at - i))});
        i = at - 1;
    }
    return found;
}

bool samePlaceholders(std::vector<FormatPlaceholder> a, std::vector<FormatPlaceholder> b)
{
    const auto byArgument = [](const FormatPlaceholder& x, const FormatPlaceholder& y) {
        return x.argument != y.argument ? x.argument < y.argument : x.type < y.type;
    };
    std::sort(a.begin(), a.end(), byArgument);
    std::sort(b.begin(), b.end(), byArgument);
    // One argument used twice is one argument.
    a.erase(std::unique(a.begin(), a.end()), a.end());
    b.erase(std::unique(b.begin(), b.end()), b.end());
    return a == b;
}

std::string describePlaceholders(const std::vector<FormatPlaceholder>& placeholders)
{
    std::string text;
    for (const FormatPlaceholder& placeholder : placeholders)
        text += (text.empty() ? "" : " ") + placeholder.text;
    return text.empty() ? "none" : text;
}

} // namespace plistable::detail
