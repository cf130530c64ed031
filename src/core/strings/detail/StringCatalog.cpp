#include "core/strings/detail/StringCatalog.hpp"

#include <algorithm>
#include <charconv>

namespace plistable::detail {

namespace {

void writeString(std::string& out, std::string_view text, bool escapeSlashes)
{
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '/':
            out += escapeSlashes ? "\\/" : "/";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex[byte >> 4];
                out += hex[byte & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void writeValue(std::string& out, const CatalogJson& value, std::size_t depth, bool escapeSlashes)
{
    const std::string inner((depth + 1) * 2, ' ');
    const std::string outer(depth * 2, ' ');
    // An empty object or array is its opening bracket, an empty line and its closing one.
    if (value.is_object()) {
        out += "{\n";
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first)
                out += ",\n";
            first = false;
            out += inner;
            writeString(out, it.key(), escapeSlashes);
            out += " : ";
            writeValue(out, it.value(), depth + 1, escapeSlashes);
        }
        out += "\n" + outer + "}";
    } else if (value.is_array()) {
        out += "[\n";
        bool first = true;
        for (const CatalogJson& element : value) {
            if (!first)
                out += ",\n";
            first = false;
            out += inner;
            writeValue(out, element, depth + 1, escapeSlashes);
        }
        out += "\n" + outer + "]";
    } else if (value.is_string()) {
        writeString(out, value.get_ref<const std::string&>(), escapeSlashes);
    } else {
        out += value.dump();
    }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares `a` and `b` ignoring letter case, digit runs by value: <0, 0 or >0.
int compareNatural(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            std::string_view runA = a.substr(i, endA - i);
            std::string_view runB = b.substr(j, endB - j);
            while (runA.size() > 1 && runA.front() == '0')
                runA.remove_prefix(1);
            while (runB.size() > 1 && runB.front() == '0')
                runB.remove_prefix(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size() ? -1 : 1;
            if (const int order = runA.compare(runB))
                return order;
            i = endA;
            j = endB;
            continue;
        }
        const auto x = static_cast<unsigned char>(lower(a[i]));
        const auto y = static_cast<unsigned char>(lower(b[j]));
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
}

// The member of `object` named `key`, or nullptr.
CatalogJson* member(CatalogJson& object, const std::string& key)
{
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

} // namespace

// Builds the document as the parser reads it, appending each member to its object as it comes: an
// object's own insertion looks for the key first, which makes reading a catalog of many keys
// quadratic. (A key written twice is kept twice, and so written back.)
class CatalogBuilder : public nlohmann::json_sax<CatalogJson> {
public:
    bool null() override { return add(nullptr); }
    bool boolean(bool value) override { return add(value); }
    bool number_integer(number_integer_t value) override { return add(value); }
    bool number_unsigned(number_unsigned_t value) override { return add(value); }
    bool number_float(number_float_t value, const string_t&) override { return add(value); }
    bool string(string_t& value) override { return add(std::move(value)); }
    bool binary(binary_t& value) override { return add(CatalogJson::binary(std::move(value))); }
    bool start_object(std::size_t) override
    {
        _open.push_back(place(CatalogJson::object()));
        return true;
    }
    bool key(string_t& name) override
    {
        _key = std::move(name);
        return true;
    }
    bool end_object() override
    {
        _open.pop_back();
        return true;
    }
    bool start_array(std::size_t) override
    {
        _open.push_back(place(CatalogJson::array()));
        return true;
    }
    bool end_array() override
    {
        _open.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& failure) override
    {
        _errorPosition = position;
        _error = failure.what();
        return false;
    }

    CatalogJson root;
    std::size_t _errorPosition = 0;
    std::string _error;

private:
    bool add(CatalogJson value)
    {
        place(std::move(value));
        return true;
    }
    CatalogJson* place(CatalogJson value)
    {
        if (_open.empty()) {
            root = std::move(value);
            return &root;
        }
        CatalogJson& parent = *_open.back();
        if (parent.is_array()) {
            parent.get_ref<CatalogJson::array_t&>().push_back(std::move(value));
            return &parent.get_ref<CatalogJson::array_t&>().back();
        }
        auto& members = static_cast<CatalogJson::object_t::Container&>(parent.get_ref<CatalogJson::object_t&>());
        members.emplace_back(std::move(_key), std::move(value));
        return &members.back().second;
    }

    std::vector<CatalogJson*> _open; // the objects and arrays not yet closed, the innermost last
    std::string _key;
};

std::string writeCatalog(const CatalogJson& catalog, bool escapeSlashes)
{
    std::string out;
    writeValue(out, catalog, 0, escapeSlashes);
    return out;
}

std::optional<CatalogJson> readCatalog(std::string_view bytes, std::string& error, std::uint64_t& line)
{
    CatalogBuilder builder;
    if (CatalogJson::sax_parse(bytes, &builder)) {
        if (builder.root.is_object())
            return std::move(builder.root);
        error = "the catalog is no JSON object";
        line = 1;
        return std::nullopt;
    }
    const std::size_t at = std::min<std::size_t>(builder._errorPosition > 0 ? builder._errorPosition - 1 : 0, bytes.size());
    line = 1 + static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    error = "not JSON";
    if (const std::size_t colon = builder._error.rfind(": "); colon != std::string::npos)
        error += ": " + builder._error.substr(colon + 2);
    return std::nullopt;
}

bool catalogKeyLess(std::string_view a, std::string_view b)
{
    const int order = compareNatural(a, b);
    return order != 0 ? order < 0 : a < b;
}

CatalogJson& catalogMember(CatalogJson& object, const std::string& key, bool stringsOrder)
{
    if (!object.is_object())
        object = CatalogJson::object();
    if (CatalogJson* found = member(object, key))
        return *found;
    // The keys of a catalog object are kept in place: the new one goes before the first that follows
    // it. The members are appended to a new object as they are (an object's own insertion looks for
    // the key first, which would make this quadratic), in one pass.
    using Members = CatalogJson::object_t::Container; // the members as a plain vector
    Members& members = object.get_ref<CatalogJson::object_t&>();
    CatalogJson rebuilt = CatalogJson::object();
    Members& ordered = rebuilt.get_ref<CatalogJson::object_t&>();
    ordered.reserve(members.size() + 1);
    std::size_t at = members.size();
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (at == members.size() && (stringsOrder ? catalogKeyLess(key, members[i].first) : key < members[i].first))
            at = i;
    }
    for (std::size_t i = 0; i <= members.size(); ++i) {
        if (i == at)
            ordered.emplace_back(key, CatalogJson::object());
        if (i < members.size())
            ordered.emplace_back(members[i].first, std::move(members[i].second));
    }
    object = std::move(rebuilt);
    return static_cast<Members&>(object.get_ref<CatalogJson::object_t&>())[at].second;
}

CatalogStrings::CatalogStrings(CatalogJson& strings) : _strings(strings)
{
    if (!_strings.is_object())
        _strings = CatalogJson::object();
    for (auto it = _strings.begin(); it != _strings.end(); ++it)
        _index.try_emplace(it.key(), &it.value());
}

CatalogJson& CatalogStrings::entry(const std::string& key, bool& added)
{
    const auto found = _index.find(key);
    added = found == _index.end();
    if (!added)
        return *found->second;
    _added.emplace_back(key, CatalogJson::object());
    _index.emplace(key, &_added.back().second);
    return _added.back().second;
}

void CatalogStrings::finish()
{
    if (_added.empty())
        return;
    std::stable_sort(_added.begin(), _added.end(),
                     [](const auto& a, const auto& b) { return catalogKeyLess(a.first, b.first); });
    using Members = CatalogJson::object_t::Container;
    Members& members = _strings.get_ref<CatalogJson::object_t&>();
    CatalogJson merged = CatalogJson::object();
    Members& ordered = merged.get_ref<CatalogJson::object_t&>();
    ordered.reserve(members.size() + _added.size());
    // A merge: each added key goes before the first existing key that follows it.
    auto next = _added.begin();
    for (auto& [key, value] : members) {
        for (; next != _added.end() && catalogKeyLess(next->first, key); ++next)
            ordered.emplace_back(std::move(next->first), std::move(next->second));
        ordered.emplace_back(key, std::move(value));
    }
    for (; next != _added.end(); ++next)
        ordered.emplace_back(std::move(next->first), std::move(next->second));
    _strings = std::move(merged);
    _added.clear();
    _index.clear();
}

std::vector<std::pair<std::string, std::string>> catalogVariants(const CatalogJson& localization)
{
    std::vector<std::pair<std::string, std::string>> variants;
    const auto join = [](const std::string& prefix, const std::string& name) {
        return prefix.empty() ? name : prefix + "." + name;
    };
    const auto text = [](const CatalogJson& value) {
        return value.is_string() ? value.get<std::string>() : value.dump();
    };
    auto walk = [&](auto& self, const CatalogJson& holder, const std::string& prefix) -> void {
        if (!holder.is_object())
            return;
        for (auto it = holder.begin(); it != holder.end(); ++it) {
            if (it.key() == "stringUnit" && it.value().is_object() && it.value().contains("value")) {
                variants.emplace_back(prefix, text(it.value()["value"]));
            } else if (it.key() == "substitutions" && it.value().is_object()) {
                for (auto sub = it.value().begin(); sub != it.value().end(); ++sub) {
                    const std::string path = join(prefix, "substitutions." + sub.key());
                    if (!sub.value().is_object())
                        continue;
                    for (auto field = sub.value().begin(); field != sub.value().end(); ++field)
                        if (field.key() == "argNum" || field.key() == "formatSpecifier")
                            variants.emplace_back(path + "." + field.key(), text(field.value()));
                    self(self, sub.value(), path);
                }
            } else if (it.key() == "variations" && it.value().is_object()) {
                for (auto kind = it.value().begin(); kind != it.value().end(); ++kind) {
                    if (!kind.value().is_object())
                        continue;
                    for (auto choice = kind.value().begin(); choice != kind.value().end(); ++choice)
                        self(self, choice.value(), join(prefix, kind.key() + "." + choice.key()));
                }
            }
        }
    };
    walk(walk, localization, "");
    return variants;
}

bool setCatalogVariant(CatalogJson& localization, std::string_view variant, const std::string& value, bool& invalid)
{
    invalid = false;
    std::vector<std::string> parts;
    for (std::size_t start = 0; !variant.empty() && start <= variant.size();) {
        const std::size_t dot = std::min(variant.find('.', start), variant.size());
        parts.emplace_back(variant.substr(start, dot - start));
        start = dot + 1;
    }
    CatalogJson* holder = &localization;
    std::size_t i = 0;
    bool inSubstitution = false; // a substitution holds variations, never a unit of its own
    while (i < parts.size()) {
        if (i + 1 >= parts.size() || parts[i].empty() || parts[i + 1].empty()) {
            invalid = true;
            return false;
        }
        if (parts[i] == "substitutions") {
            holder = &catalogMember(catalogMember(*holder, "substitutions"), parts[i + 1]);
            i += 2;
            inSubstitution = true;
            if (i + 1 == parts.size() && (parts[i] == "argNum" || parts[i] == "formatSpecifier")) {
                CatalogJson next = value;
                if (parts[i] == "argNum" && !value.empty()
                    && std::all_of(value.begin(), value.end(), [](char c) { return isDigit(c); })) {
                    unsigned long long number = 0;
                    std::from_chars(value.data(), value.data() + value.size(), number);
                    next = number;
                }
                CatalogJson& field = catalogMember(*holder, parts[i]);
                if (field == next)
                    return false;
                field = std::move(next);
                return true;
            }
            continue;
        }
        holder = &catalogMember(catalogMember(catalogMember(*holder, "variations"), parts[i]), parts[i + 1]);
        i += 2;
        inSubstitution = false;
    }
    if (inSubstitution) {
        invalid = true;
        return false;
    }
    CatalogJson& unit = catalogMember(*holder, "stringUnit");
    if (unit.contains("value") && unit["value"] == value)
        return false;
    catalogMember(unit, "state") = "translated";
    catalogMember(unit, "value") = value;
    return true;
}

} // namespace plistable::detail
