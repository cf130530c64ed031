#pragma once

#include "core/text/TextEncoding.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace plistable {

/// One value of a property list: string, integer (signed or unsigned 64-bit), real, boolean,
/// date, data, array or dictionary (keys kept in file order).
class PlistValue {
public:
    enum class Kind {
        String,     ///< text
        Integer,    ///< signed 64-bit integer
        Unsigned,   ///< unsigned 64-bit integer above the signed range
        Real,       ///< double
        Boolean,    ///< true or false
        Date,       ///< seconds since 2001-01-01T00:00:00Z
        Data,       ///< raw bytes
        Array,      ///< ordered values
        Dictionary, ///< key/value pairs in file order
    };
    using Array = std::vector<PlistValue>;
    using Dictionary = std::vector<std::pair<Text, PlistValue>>;

    PlistValue() : PlistValue(Text()) {}
    PlistValue(Text string) : _kind(Kind::String), _value(std::move(string)) {}
    PlistValue(const char16_t* string) : PlistValue(Text(string)) {}
    PlistValue(Array array) : _kind(Kind::Array), _value(std::move(array)) {}
    PlistValue(Dictionary dictionary) : _kind(Kind::Dictionary), _value(std::move(dictionary)) {}
    static PlistValue integer(std::int64_t value);
    static PlistValue unsignedInteger(std::uint64_t value);
    static PlistValue real(double value);
    static PlistValue boolean(bool value);
    /// A date, as seconds since 2001-01-01T00:00:00Z.
    static PlistValue date(double secondsSince2001);
    static PlistValue data(std::string bytes);

    Kind kind() const { return _kind; }
    bool isString() const { return _kind == Kind::String; }
    bool isArray() const { return _kind == Kind::Array; }
    bool isDictionary() const { return _kind == Kind::Dictionary; }
    /// Arrays and dictionaries: the values that can be enumerated.
    bool isCollection() const { return isArray() || isDictionary(); }

    /// The text of a string; undefined for other kinds.
    const Text& string() const { return std::get<Text>(_value); }
    const Array& array() const { return std::get<Array>(_value); }
    Array& array() { return std::get<Array>(_value); }
    const Dictionary& dictionary() const { return std::get<Dictionary>(_value); }
    Dictionary& dictionary() { return std::get<Dictionary>(_value); }
    std::int64_t integerValue() const { return std::get<std::int64_t>(_value); }
    std::uint64_t unsignedValue() const { return std::get<std::uint64_t>(_value); }
    double realValue() const { return std::get<double>(_value); }
    bool booleanValue() const { return std::get<bool>(_value); }
    const std::string& dataValue() const { return std::get<std::string>(_value); }

    /// The value of a dictionary for `key` (the last one when the file repeats the key), or
    /// nullptr when it has none or this is no dictionary.
    const PlistValue* objectForKey(std::u16string_view key) const;

    /// True when the date can be written as a calendar date: finite and within 1e15 seconds of 2001.
    static bool isRepresentableDate(double secondsSince2001);

    /// The number of dates in this value (nested ones included) that are not representable.
    std::size_t unrepresentableDates() const;

    /// The text form used when the value is written as a CSV field: a string is itself; integers
    /// in decimal; reals in shortest round-trip form ("1.5", "1e+100", "nan", "inf"); booleans
    /// "true"/"false"; dates in ISO 8601 UTC ("2001-01-01T00:00:00Z"), or as their seconds since
    /// 2001-01-01 in the real form when not representable ("nan", "inf", "1e+300"); data in base64; arrays and
    /// dictionaries as compact JSON (["a",1] and {"k":"v"}, other values by their text form as JSON).
    Text description() const;

    friend bool operator==(const PlistValue& a, const PlistValue& b) = default;

private:
    template <class T>
    PlistValue(Kind kind, T value) : _kind(kind), _value(std::move(value)) {}

    Kind _kind = Kind::String;
    std::variant<Text, std::int64_t, std::uint64_t, double, bool, std::string, Array, Dictionary> _value;
};

} // namespace plistable
