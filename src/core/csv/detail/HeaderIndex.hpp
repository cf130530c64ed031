#pragma once

#include "core/text/TextEncoding.hpp"

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace plistable::detail {

// The header of one parse, laid out once so that every record read with it is a plain vector of
// values: equal names share one slot (the later field replaces the earlier one, as in a map keyed
// by name), so building a record never hashes a name.
struct HeaderIndex {
    explicit HeaderIndex(const std::vector<Text>& names)
    {
        slotOfPosition.reserve(names.size());
        slotsOfFirst.reserve(names.size() + 1);
        slotsOfFirst.push_back(0);
        // First keyed by views into `names` (stable while this runs), then re-keyed by views into
        // slotNames once that list no longer moves, so the index owns what its keys point at.
        std::unordered_map<std::u16string_view, std::size_t> firstSeen;
        firstSeen.reserve(names.size());
        for (const Text& name : names) {
            auto [entry, isNew] = firstSeen.emplace(name, slotNames.size());
            if (isNew)
                slotNames.push_back(name);
            slotOfPosition.push_back(entry->second);
            slotsOfFirst.push_back(slotNames.size());
        }
        slotOfName.reserve(slotNames.size());
        for (std::size_t slot = 0; slot < slotNames.size(); ++slot)
            slotOfName.emplace(slotNames[slot], slot);
    }

    HeaderIndex(const HeaderIndex&) = delete;
    HeaderIndex& operator=(const HeaderIndex&) = delete;

    std::optional<std::size_t> slotForName(std::u16string_view name) const
    {
        auto found = slotOfName.find(name);
        if (found == slotOfName.end())
            return std::nullopt;
        return found->second;
    }

    std::vector<std::size_t> slotOfPosition; // header position -> slot
    // Slots are numbered in order of first occurrence, so the first n positions fill exactly the
    // slots below slotsOfFirst[n].
    std::vector<std::size_t> slotsOfFirst;
    std::vector<Text> slotNames;             // slot -> name, in first-occurrence order
    std::unordered_map<std::u16string_view, std::size_t> slotOfName;
};

} // namespace plistable::detail
