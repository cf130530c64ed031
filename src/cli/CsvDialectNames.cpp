#include "cli/CsvDialectNames.hpp"

#include "core/text/TextEncoding.hpp"

#include <string_view>
#include <utility>

namespace plistable::cli {

std::optional<char16_t> delimiterNamed(const std::string& name)
{
    static const std::pair<std::string_view, char16_t> names[] = {
        {"comma", u','}, {"semicolon", u';'}, {"tab", u'\t'}, {"pipe", u'|'}};
    for (const auto& [word, character] : names)
        if (name == word)
            return character;
    const Text text = fromUtf8Lossy(name);
    if (text.size() == 1 && text[0] != u'"' && text[0] != u'\n' && text[0] != u'\r' && text[0] != u'\uFFFD')
        return text[0];
    return std::nullopt;
}

} // namespace plistable::cli
