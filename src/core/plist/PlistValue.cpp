#include "core/plist/PlistValue.hpp"

#include "core/text/JsonString.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace plistable {
namespace {

void appendAscii(Text& out, std::string_view ascii)
{
    out.append(ascii.begin(), ascii.end());
}

Text base64(const std::string& bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Text out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8)
                           | static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out.push_back(static_cast<char16_t>(alphabet[(v >> shift) & 0x3F]));
    }
    if (const std::size_t rest = bytes.size() - i) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out.push_back(static_cast<char16_t>(alphabet[(v >> 18) & 0x3F]));
        out.push_back(static_cast<char16_t>(alphabet[(v >> 12) & 0x3F]));
        out.push_back(rest == 2 ? static_cast<char16_t>(alphabet[(v >> 6) & 0x3F]) : u'=');
        out.push_back(u'=');
    }
    return out;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian), valid for any 64-bit day count we meet.
void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

Text realText(double value);

Text isoDate(double secondsSince2001)
{
    // No calendar date for it: the seconds themselves keep the value (callers report it).
    if (!PlistValue::isRepresentableDate(secondsSince2001))
        return realText(secondsSince2001);
    constexpr std::int64_t unixAt2001 = 978307200;
    const std::int64_t seconds = static_cast<std::int64_t>(std::floor(secondsSince2001)) + unixAt2001;
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    std::int64_t year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(year), month,
                  day, static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    Text out;
    appendAscii(out, buffer);
    return out;
}

template <class Number>
Text number(Number value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    Text out;
    appendAscii(out, std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
    return out;
}

Text realText(double value)
{
    if (std::isnan(value))
        return u"nan";
    if (std::isinf(value))
        return value > 0 ? u"inf" : u"-inf";
    return number(value);
}

// Control characters as \u001F (upper-case digits), as descriptions have always been written.
void appendJsonString(Text& out, std::u16string_view text)
{
    JsonStringStyle style;
    style.upperCaseHex = true;
    plistable::appendJsonString(out, text, style);
}

void appendJson(Text& out, const PlistValue& value)
{
    switch (value.kind()) {
    case PlistValue::Kind::Array: {
        out.push_back(u'[');
        bool first = true;
        for (const PlistValue& element : value.array()) {
            if (!first)
                out.push_back(u',');
            first = false;
            appendJson(out, element);
        }
        out.push_back(u']');
        break;
    }
    case PlistValue::Kind::Dictionary: {
        out.push_back(u'{');
        bool first = true;
        for (const auto& [key, element] : value.dictionary()) {
            if (!first)
                out.push_back(u',');
            first = false;
            appendJsonString(out, key);
            out.push_back(u':');
            appendJson(out, element);
        }
        out.push_back(u'}');
        break;
    }
    case PlistValue::Kind::Integer:
    case PlistValue::Kind::Unsigned:
    case PlistValue::Kind::Boolean:
        out += value.description();
        break;
    case PlistValue::Kind::Real:
        // JSON has no NaN or infinity.
        out += std::isfinite(value.realValue()) ? value.description() : Text(u"null");
        break;
    default:
        appendJsonString(out, value.description());
    }
}

} // namespace

PlistValue PlistValue::integer(std::int64_t value) { return PlistValue(Kind::Integer, value); }
PlistValue PlistValue::unsignedInteger(std::uint64_t value) { return PlistValue(Kind::Unsigned, value); }
PlistValue PlistValue::real(double value) { return PlistValue(Kind::Real, value); }
PlistValue PlistValue::boolean(bool value) { return PlistValue(Kind::Boolean, value); }
PlistValue PlistValue::date(double secondsSince2001) { return PlistValue(Kind::Date, secondsSince2001); }
PlistValue PlistValue::data(std::string bytes) { return PlistValue(Kind::Data, std::move(bytes)); }

const PlistValue* PlistValue::objectForKey(std::u16string_view key) const
{
    if (!isDictionary())
        return nullptr;
    const Dictionary& entries = dictionary();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (it->first == key)
            return &it->second;
    return nullptr;
}

bool PlistValue::isRepresentableDate(double secondsSince2001)
{
    return std::isfinite(secondsSince2001) && std::fabs(secondsSince2001) <= 1e15;
}

std::size_t PlistValue::unrepresentableDates() const
{
    switch (_kind) {
    case Kind::Date: return isRepresentableDate(std::get<double>(_value)) ? 0 : 1;
    case Kind::Array: {
        std::size_t count = 0;
        for (const PlistValue& element : array())
            count += element.unrepresentableDates();
        return count;
    }
    case Kind::Dictionary: {
        std::size_t count = 0;
        for (const auto& [key, element] : dictionary())
            count += element.unrepresentableDates();
        return count;
    }
    default: return 0;
    }
}

Text PlistValue::description() const
{
    switch (_kind) {
    case Kind::String: return string();
    case Kind::Integer: return number(integerValue());
    case Kind::Unsigned: return number(unsignedValue());
    case Kind::Real: return realText(realValue());
    case Kind::Boolean: return booleanValue() ? u"true" : u"false";
    case Kind::Date: return isoDate(std::get<double>(_value));
    case Kind::Data: return base64(dataValue());
    case Kind::Array:
    case Kind::Dictionary: {
        Text out;
        appendJson(out, *this);
        return out;
    }
    }
    return Text();
}

} // namespace plistable
