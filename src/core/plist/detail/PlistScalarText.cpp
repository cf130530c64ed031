#include "core/plist/detail/PlistScalarText.hpp"

#include "core/plist/detail/OpenStepCharacters.hpp"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace plistable::detail {
namespace {

std::string_view trimXmlSpace(std::string_view text)
{
    while (!text.empty() && isXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Reads all of `digits` in `base` (10 or 16) into `magnitude`; false on an empty text, a stray
// character or a value above 2^64 - 1.
bool readMagnitude(std::string_view digits, unsigned base, std::uint64_t& magnitude)
{
    if (digits.empty())
        return false;
    magnitude = 0;
    for (char c : digits) {
        const int d = base == 16 ? hexDigitValue(static_cast<unsigned char>(c)) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0)
            return false;
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(d)) / base)
            return false;
        magnitude = magnitude * base + static_cast<unsigned>(d);
    }
    return true;
}

bool equalsIgnoringCase(std::string_view text, std::string_view lowerWord)
{
    if (text.size() != lowerWord.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerWord[i])
            return false;
    }
    return true;
}

// from_chars refuses results out of the double range (and, with glibc, subnormal ones) without
// giving a value; strtod in the C locale gives the rounded value or the infinity strtod would.
double strtodInCLocale(const std::string& text)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strtod_l(text.c_str(), nullptr, cLocale);
}

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool isLeapYear(std::int64_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Reads exactly `count` decimal digits at `pos`.
bool readFixedDigits(std::string_view text, std::size_t& pos, std::size_t count, unsigned& value)
{
    if (text.size() - pos < count)
        return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    pos += count;
    return true;
}

bool expect(std::string_view text, std::size_t& pos, char c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::optional<PlistValue> parseIntegerText(std::string_view text)
{
    text = trimXmlSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    if (!readMagnitude(text, base, magnitude))
        return std::nullopt;
    constexpr std::uint64_t signedLimit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (magnitude > signedLimit + 1)
            return std::nullopt;
        // Two's complement negation of the magnitude, defined for 2^63 as well.
        return PlistValue::integer(static_cast<std::int64_t>(~magnitude + 1));
    }
    if (magnitude > signedLimit)
        return PlistValue::unsignedInteger(magnitude);
    return PlistValue::integer(static_cast<std::int64_t>(magnitude));
}

std::optional<PlistValue> parseRealText(std::string_view text)
{
    text = trimXmlSpace(text);
    std::string_view unsignedPart = text;
    bool negative = false;
    if (!unsignedPart.empty() && (unsignedPart.front() == '+' || unsignedPart.front() == '-')) {
        negative = unsignedPart.front() == '-';
        unsignedPart.remove_prefix(1);
    }
    if (unsignedPart.empty())
        return std::nullopt;
    if (equalsIgnoringCase(unsignedPart, "inf") || equalsIgnoringCase(unsignedPart, "infinity")) {
        const double infinity = std::numeric_limits<double>::infinity();
        return PlistValue::real(negative ? -infinity : infinity);
    }
    if (equalsIgnoringCase(unsignedPart, "nan"))
        return PlistValue::real(std::numeric_limits<double>::quiet_NaN());
    // Only a plain decimal number may follow (from_chars would also take "nan(...)").
    const char first = unsignedPart.front();
    if (!(first == '.' || (first >= '0' && first <= '9')))
        return std::nullopt;
    double value = 0;
    const auto result = std::from_chars(unsignedPart.data(), unsignedPart.data() + unsignedPart.size(), value);
    if (result.ptr != unsignedPart.data() + unsignedPart.size())
        return std::nullopt;
    if (result.ec == std::errc::result_out_of_range)
        value = strtodInCLocale(std::string(unsignedPart));
    else if (result.ec != std::errc())
        return std::nullopt;
    return PlistValue::real(negative ? -value : value);
}

std::optional<PlistValue> parseDateText(std::string_view text)
{
    text = trimXmlSpace(text);
    std::size_t pos = 0;
    bool negativeYear = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negativeYear = text[0] == '-';
        ++pos;
    }
    const std::size_t yearStart = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
        ++pos;
    const std::size_t yearDigits = pos - yearStart;
    if (yearDigits < 4 || yearDigits > 9)
        return std::nullopt;
    std::int64_t year = 0;
    for (std::size_t i = yearStart; i < pos; ++i)
        year = year * 10 + (text[i] - '0');
    if (negativeYear)
        year = -year;
    unsigned month, day, hour, minute, second;
    if (!expect(text, pos, '-') || !readFixedDigits(text, pos, 2, month) || !expect(text, pos, '-')
        || !readFixedDigits(text, pos, 2, day) || !expect(text, pos, 'T') || !readFixedDigits(text, pos, 2, hour)
        || !expect(text, pos, ':') || !readFixedDigits(text, pos, 2, minute) || !expect(text, pos, ':')
        || !readFixedDigits(text, pos, 2, second))
        return std::nullopt;
    double fraction = 0;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        double scale = 0.1;
        const std::size_t fractionStart = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            fraction += (text[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == fractionStart)
            return std::nullopt;
    }
    if (!expect(text, pos, 'Z') || pos != text.size())
        return std::nullopt;
    static constexpr unsigned daysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    if (day > daysInMonth[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0))
        return std::nullopt;
    constexpr std::int64_t unixAt2001 = 978307200;
    const std::int64_t seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return PlistValue::date(static_cast<double>(seconds - unixAt2001) + fraction);
}

std::optional<std::string> decodeBase64Text(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned accumulator = 0;
    int bits = 0;
    std::size_t padding = 0;
    std::size_t symbols = 0;
    for (char c : text) {
        if (isXmlSpace(c))
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int v = base64Value(c);
        if (v < 0 || padding > 0) // a stray character, or a symbol after padding
            return std::nullopt;
        ++symbols;
        accumulator = (accumulator << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((accumulator >> bits) & 0xFF));
        }
    }
    // One symbol alone cannot end a group, and padding only completes a group of four.
    if (symbols % 4 == 1 || padding > 2 || (padding > 0 && (symbols + padding) % 4 != 0))
        return std::nullopt;
    return out;
}

} // namespace plistable::detail
