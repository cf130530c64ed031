#pragma once

#include "core/plist/PlistValue.hpp"

#include <cstddef>
#include <optional>
#include <unordered_map>

namespace plistable::detail {

/// The keys of a dictionary being built, to find a repeated one: small dictionaries are searched
/// in place, larger ones through a map built once they grow, so a table of thousands of records
/// stays linear.
class DictionaryKeys {
public:
    /// The position of `key` among `entries`, or nothing, in which case the caller appends it
    /// (its position is remembered as entries.size()).
    std::optional<std::size_t> find(const PlistValue::Dictionary& entries, const Text& key)
    {
        if (entries.size() <= linearLimit) {
            for (std::size_t i = 0; i < entries.size(); ++i)
                if (entries[i].first == key)
                    return i;
            return std::nullopt;
        }
        if (_positions.empty())
            for (std::size_t i = 0; i < entries.size(); ++i)
                _positions.emplace(entries[i].first, i);
        if (const auto found = _positions.find(key); found != _positions.end())
            return found->second;
        _positions.emplace(key, entries.size());
        return std::nullopt;
    }

private:
    static constexpr std::size_t linearLimit = 16;
    std::unordered_map<Text, std::size_t> _positions;
};

} // namespace plistable::detail
