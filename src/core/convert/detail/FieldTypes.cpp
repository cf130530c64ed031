#include "core/convert/detail/FieldTypes.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

namespace plistable::detail {
namespace {

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Digits from `at` on; returns where they end.
std::size_t skipDigits(std::u16string_view text, std::size_t at)
{
    while (at < text.size() && isDigit(text[at]))
        ++at;
    return at;
}

// A decimal number as its significant digits (no leading or trailing zero; none for zero) and the
// power of ten of the last of them, so that two spellings of one number compare equal.
struct Decimal {
    bool negative = false;
    std::string digits;
    long long exponent = 0;

    bool operator==(const Decimal&) const = default;
};

// `text` in the shape typedFieldValue() accepts (ASCII, an exponent with an optional sign);
// shortestRealText() writes that shape too. An exponent too long to matter is held at a bound far
// beyond any double's, where it still compares unequal to every finite double's.
Decimal decimalOf(std::string_view text)
{
    Decimal number;
    std::size_t at = 0;
    if (at < text.size() && text[at] == '-') {
        number.negative = true;
        ++at;
    }
    long long fractionDigits = 0;
    bool fraction = false;
    for (; at < text.size() && text[at] != 'e' && text[at] != 'E'; ++at) {
        if (text[at] == '.') {
            fraction = true;
            continue;
        }
        if (number.digits.empty() && text[at] == '0') {
            fractionDigits += fraction; // a leading zero only moves the point
            continue;
        }
        number.digits += text[at];
        fractionDigits += fraction;
    }
    long long exponent = 0;
    if (at < text.size()) {
        ++at;
        bool negativeExponent = false;
        if (at < text.size() && (text[at] == '-' || text[at] == '+'))
            negativeExponent = text[at++] == '-';
        constexpr long long bound = 1'000'000'000;
        for (; at < text.size(); ++at)
            exponent = std::min(bound, exponent * 10 + (text[at] - '0'));
        if (negativeExponent)
            exponent = -exponent;
    }
    const std::size_t significant = number.digits.find_last_not_of('0');
    if (significant == std::string::npos)
        return Decimal{}; // zero, of either sign
    const auto trailingZeros = static_cast<long long>(number.digits.size() - significant - 1);
    number.digits.erase(significant + 1);
    number.exponent = exponent - fractionDigits + trailingZeros;
    return number;
}

} // namespace

std::optional<PlistValue> typedFieldValue(std::u16string_view field)
{
    if (field == u"true" || field == u"false")
        return PlistValue::boolean(field == u"true");
    const std::size_t start = !field.empty() && field[0] == u'-' ? 1 : 0;
    const std::size_t integerEnd = skipDigits(field, start);
    if (integerEnd == start)
        return std::nullopt;
    // Every unit is ASCII from here on when the shape matches, so narrowing below is exact.
    std::size_t end = integerEnd;
    bool real = false;
    if (end < field.size() && field[end] == u'.') {
        const std::size_t fractionEnd = skipDigits(field, end + 1);
        if (fractionEnd == end + 1)
            return std::nullopt;
        end = fractionEnd;
        real = true;
    }
    if (end < field.size() && (field[end] == u'e' || field[end] == u'E')) {
        std::size_t digits = end + 1;
        if (digits < field.size() && (field[digits] == u'-' || field[digits] == u'+'))
            ++digits;
        const std::size_t exponentEnd = skipDigits(field, digits);
        if (exponentEnd == digits)
            return std::nullopt;
        end = exponentEnd;
        real = true;
    }
    if (end != field.size())
        return std::nullopt;
    std::string ascii(field.begin(), field.end());
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    if (real) {
        double value = 0;
        const auto [ptr, error] = std::from_chars(first, last, value);
        if (error != std::errc() || ptr != last || !std::isfinite(value))
            return std::nullopt;
        // A real is written in its shortest round-trip form: typed only when that form is the
        // number the field writes, so that no digit of the field is lost (1.00000000000000000001
        // and most 30-digit decimals stay strings; 1.50 and 1e3 are typed).
        if (decimalOf(std::string_view(first, ascii.size())) != decimalOf(shortestRealText(value)))
            return std::nullopt;
        return PlistValue::real(value);
    }
    // "0" alone may start with a zero; "-0" would come back as "0", so it stays a string.
    if (field[start] == u'0' && (integerEnd - start > 1 || start == 1))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [ptr, error] = std::from_chars(first, last, value);
    if (error != std::errc() || ptr != last)
        return std::nullopt;
    return PlistValue::integer(value);
}

PlistValue fieldValue(const Text& field, bool types)
{
    if (types)
        if (std::optional<PlistValue> typed = typedFieldValue(field))
            return std::move(*typed);
    return PlistValue(field);
}

std::string shortestRealText(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace plistable::detail
