#include "oracle/PlainXmlTextLoop.hpp"

namespace plistable::fuzz::oracle {

// The tokenizer's text scan as it was before it looked at sixteen bytes at a time: one table
// look-up per byte.
const unsigned char* skipPlainXmlTextByBytes(const unsigned char* u, const unsigned char* end)
{
    static constexpr auto table = [] {
        std::array<bool, 256> plain{};
        for (int c = 0x20; c < 0x80; ++c)
            plain[c] = c != '<' && c != '&' && c != ']';
        plain['\t'] = true;
        plain['\n'] = true;
        return plain;
    }();
    while (u < end && table[*u])
        ++u;
    return u;
}

} // namespace plistable::fuzz::oracle
