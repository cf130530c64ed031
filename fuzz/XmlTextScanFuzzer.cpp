// The tokenizer's block-wise text scan against the byte loop it replaced (fuzz/oracle): from every
// stop, and with the end cut at a place taken from the input, both must stop at the same byte; at
// the SIMD level the input picks (the baseline or the widest there is).
#include "FuzzSupport.hpp"
#include "oracle/PlainXmlTextLoop.hpp"

#include "core/plist/detail/XmlTextScan.hpp"
#include "core/text/detail/Simd.hpp"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    plistable::fuzz::ByteReader choices(data, size);
    const std::uint8_t flags = choices.take();
    const bool raw = flags & 1;
    plistable::detail::setSimdLevel(flags & 2 ? plistable::detail::SimdLevel::Avx2 : plistable::detail::SimdLevel::Sse2);
    const std::size_t cut = choices.take();
    // Mostly letters, so that runs are long; the high bytes pick the bytes the scan stops at.
    std::string bytes;
    for (const char c : choices.rest()) {
        const auto b = static_cast<unsigned char>(c);
        static constexpr char stops[] = "<&]\r\t\n\x00\x1f\x7f\x80\xbf\xef \x01";
        bytes.push_back(raw ? c : b >= 0xE0 ? stops[b % (sizeof stops - 1)] : static_cast<char>('a' + b % 26));
    }
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    for (const unsigned char* end : {begin + bytes.size(), begin + bytes.size() - std::min(cut, bytes.size())}) {
        for (const unsigned char* u = begin; u < end;) {
            const unsigned char* stop = plistable::detail::skipPlainXmlText(u, end);
            FUZZ_CHECK(stop == plistable::fuzz::oracle::skipPlainXmlTextByBytes(u, end));
            u = stop + 1;
        }
    }
    return 0;
}
