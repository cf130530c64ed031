#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace plistable::detail {

/// The keys of a dictionary whose entries are handed over one by one (a root or selected table), to
/// find one named twice without keeping the keys: 64-bit hashes in an open-addressed table, about
/// 11 bytes a key where a set of the keys took about 90. Two different keys whose hashes are equal
/// (about one chance in 10^8 for a million keys) are taken for a repeat.
class KeyHashSet {
public:
    /// Adds `key`; false when it (or a key of the same hash) was there already.
    bool insert(std::u16string_view key)
    {
        std::uint64_t hash = std::hash<std::u16string_view>{}(key);
        hash += hash == 0; // 0 marks an empty slot
        if ((_size + 1) * 4 > _slots.size() * 3)
            grow();
        const std::size_t mask = _slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            if (_slots[i] == hash)
                return false;
            if (_slots[i] == 0) {
                _slots[i] = hash;
                ++_size;
                return true;
            }
        }
    }

private:
    void grow()
    {
        std::vector<std::uint64_t> old(_slots.empty() ? 16 : _slots.size() * 2, 0);
        old.swap(_slots);
        const std::size_t mask = _slots.size() - 1;
        for (std::uint64_t hash : old)
            if (hash != 0) {
                std::size_t i = hash & mask;
                while (_slots[i] != 0)
                    i = (i + 1) & mask;
                _slots[i] = hash;
            }
    }

    std::vector<std::uint64_t> _slots;
    std::size_t _size = 0;
};

} // namespace plistable::detail
