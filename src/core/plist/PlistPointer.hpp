#pragma once

#include "core/text/TextEncoding.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {

/// A JSON Pointer (RFC 6901) into a property list: "" is the root, "/Tracks" its "Tracks" entry,
/// "/Playlists/0/Playlist Items" goes through the first element of an array; "~1" stands for '/'
/// and "~0" for '~' inside a part.
class PlistPointer {
public:
    /// The pointer written as `utf8`; nothing, with `error` set, when it is not empty and does not
    /// begin with '/', or holds a '~' followed by neither '0' nor '1', or is not UTF-8.
    static std::optional<PlistPointer> parse(std::string_view utf8, std::string& error);

    /// The parts, unescaped, from the root down.
    const std::vector<Text>& parts() const { return _parts; }
    /// The pointer to the first `count` parts as written ("" for none).
    std::string prefix(std::size_t count) const;
    /// The whole pointer as written.
    std::string text() const { return prefix(_parts.size()); }
    /// "/Tracks" or "the root" for the first `count` parts, for messages.
    std::string place(std::size_t count) const;

    /// The array index a part names: decimal digits without a leading zero (or "0"); nothing otherwise.
    static std::optional<std::size_t> index(std::u16string_view part);

private:
    std::vector<Text> _parts;
    std::vector<std::string> _written; // each part as written, escapes kept
};

} // namespace plistable
