#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plistable::detail {

/// One format placeholder of a localized string ("%@", "%2$lld", "%#@files@").
struct FormatPlaceholder {
    std::size_t argument = 0; ///< 1-based argument it takes: its "N$", else its place among the unnumbered ones
    std::string type;         ///< length and conversion ("@", "lld", "d" for "%i"), or "#@NAME@" for a variable
    std::string text;         ///< as written

    friend bool operator==(const FormatPlaceholder& a, const FormatPlaceholder& b)
    {
        return a.argument == b.argument && a.type == b.type;
    }
};

/// The placeholders of `text` in the order they stand; "%%" is none, nor a '%' that starts none.
std::vector<FormatPlaceholder> formatPlaceholders(std::string_view text);

/// True when `a` and `b` take the same arguments with the same types, whatever their order in the text.
bool samePlaceholders(std::vector<FormatPlaceholder> a, std::vector<FormatPlaceholder> b);

/// The placeholders as written, separated by spaces ("%@ %d"), or "none".
std::string describePlaceholders(const std::vector<FormatPlaceholder>& placeholders);

} // namespace plistable::detail
