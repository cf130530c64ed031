#include "core/text/detail/EucJpStructure.hpp"

namespace plistable::detail {

std::optional<std::uint64_t> EucJpStructure::findMalformed(std::string_view bytes, std::uint64_t offset)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (_pending > 0) {
            if (b < 0xA1 || b > _trailHigh)
                return _characterStart;
            --_pending;
            _trailHigh = 0xFE;
            continue;
        }
        _characterStart = offset + i;
        if (b < 0x80)
            continue;
        if (b >= 0xA1 && b <= 0xFE)
            _pending = 1;
        else if (b == 0x8E)
            _pending = 1, _trailHigh = 0xDF;
        else if (b == 0x8F)
            _pending = 2;
        else
            return _characterStart;
    }
    return std::nullopt;
}

bool EucJpStructure::isWellFormed(std::string_view bytes)
{
    EucJpStructure structure;
    return !structure.findMalformed(bytes, 0) && structure.atCharacterBoundary();
}

} // namespace plistable::detail
