#include "core/text/detail/IcuConverter.hpp"

#include <algorithm>

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

namespace plistable::detail {

void IcuConverter::Close::operator()(UConverter* converter) const noexcept
{
    ucnv_close(converter);
}

std::optional<IcuConverter> IcuConverter::open(const char* name)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &status);
    if (U_FAILURE(status) || converter == nullptr)
        return std::nullopt;
    // ICU substitutes by default; the stop callbacks make every invalid, unassigned or
    // cut-off sequence an error instead.
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) {
        ucnv_close(converter);
        return std::nullopt;
    }
    return IcuConverter(converter);
}

IcuConverter::~IcuConverter() = default;

const char* IcuConverter::name() const
{
    UErrorCode status = U_ZERO_ERROR;
    return ucnv_getName(_converter.get(), &status);
}

void IcuConverter::reset()
{
    ucnv_reset(_converter.get());
}

std::optional<std::u16string> IcuConverter::decodeAll(std::string_view bytes)
{
    reset();
    std::u16string out;
    const Chunk chunk = decodeSome(bytes, true, out);
    reset();
    if (chunk.failed)
        return std::nullopt;
    return out;
}

std::optional<std::array<char16_t, 0x80>> IcuConverter::singleByteRange()
{
    switch (ucnv_getType(_converter.get())) {
    case UCNV_SBCS:
    case UCNV_MBCS:
    case UCNV_LATIN_1:
    case UCNV_US_ASCII:
        break;
    default:
        return std::nullopt; // shift states (ISO-2022, EBCDIC SI/SO, UTF-7 ...) or units of two or more bytes
    }
    std::string bytes(0x80, '\0');
    for (std::size_t c = 0; c < bytes.size(); ++c)
        bytes[c] = static_cast<char>(c);
    const std::optional<std::u16string> decoded = decodeAll(bytes);
    if (!decoded || decoded->size() != bytes.size())
        return std::nullopt;
    std::array<char16_t, 0x80> range{};
    std::copy(decoded->begin(), decoded->end(), range.begin());
    return range;
}

std::size_t IcuConverter::pendingBytes() const
{
    UErrorCode status = U_ZERO_ERROR;
    const int32_t count = ucnv_toUCountPending(_converter.get(), &status);
    return U_SUCCESS(status) && count > 0 ? static_cast<std::size_t>(count) : 0;
}

IcuConverter::Chunk IcuConverter::decodeSome(std::string_view bytes, bool flush, std::u16string& out)
{
    const char* source = bytes.data();
    const char* const sourceLimit = bytes.data() + bytes.size();
    // Every encoding we use gives at most one UTF-16 unit per byte, plus what a flush releases;
    // the loop grows the buffer all the same when a converter needs more.
    std::size_t start = out.size();
    out.resize(start + bytes.size() + 16);
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        UChar* target = reinterpret_cast<UChar*>(out.data() + start);
        UChar* const targetLimit = reinterpret_cast<UChar*>(out.data() + out.size());
        ucnv_toUnicode(_converter.get(), &target, targetLimit, &source, sourceLimit, nullptr, flush, &status);
        start = static_cast<std::size_t>(reinterpret_cast<char16_t*>(target) - out.data());
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        out.resize(start);
        Chunk chunk{static_cast<std::size_t>(source - bytes.data()), U_FAILURE(status) != 0};
        if (chunk.failed) {
            // The offending bytes tell a caller where the input went wrong.
            char invalid[32];
            int8_t length = sizeof invalid;
            UErrorCode ignored = U_ZERO_ERROR;
            ucnv_getInvalidChars(_converter.get(), invalid, &length, &ignored);
            chunk.invalidLength = U_SUCCESS(ignored) ? static_cast<std::size_t>(length) : 0;
        }
        return chunk;
    }
}

std::optional<std::string> IcuConverter::encodeAll(std::u16string_view text)
{
    reset();
    std::string out(text.size() * 4 + 16, '\0');
    const UChar* source = reinterpret_cast<const UChar*>(text.data());
    const UChar* const sourceLimit = source + text.size();
    std::size_t used = 0;
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        char* target = out.data() + used;
        ucnv_fromUnicode(_converter.get(), &target, out.data() + out.size(), &source, sourceLimit, nullptr, true,
                         &status);
        used = static_cast<std::size_t>(target - out.data());
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        reset();
        if (U_FAILURE(status))
            return std::nullopt;
        out.resize(used);
        return out;
    }
}

std::optional<std::size_t> IcuConverter::encodeSome(std::u16string_view text, bool flush, std::string& out)
{
    const UChar* const begin = reinterpret_cast<const UChar*>(text.data());
    const UChar* source = begin;
    const UChar* const sourceLimit = begin + text.size();
    std::size_t used = out.size();
    out.resize(used + text.size() * 4 + 16);
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        char* target = out.data() + used;
        ucnv_fromUnicode(_converter.get(), &target, out.data() + out.size(), &source, sourceLimit, nullptr, flush,
                         &status);
        used = static_cast<std::size_t>(target - out.data());
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        out.resize(used);
        if (U_SUCCESS(status))
            return std::nullopt;
        // ICU has consumed the offending character: step back over it.
        UChar invalid[8];
        int8_t length = 8;
        UErrorCode ignored = U_ZERO_ERROR;
        ucnv_getInvalidUChars(_converter.get(), invalid, &length, &ignored);
        const auto consumed = static_cast<std::size_t>(source - begin);
        const std::size_t back = U_SUCCESS(ignored) ? static_cast<std::size_t>(length) : 0;
        reset();
        return consumed >= back ? consumed - back : 0;
    }
}

} // namespace plistable::detail
