#pragma once

#include "core/text/TextEncoding.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plistable::test {

/// Whether the tests run under AddressSanitizer, which makes large inputs several times slower.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool sanitized = true;
#else
inline constexpr bool sanitized = false;
#endif
#else
inline constexpr bool sanitized = false;
#endif

/// UTF-16 text from a UTF-8 literal, so tests can write u("café") and compare with library text.
Text u(std::string_view utf8);

/// UTF-8 form of a text, for readable failure messages.
std::string s(std::u16string_view text);

/// The fields a CSV reader hands over as views, in UTF-8: as they are without `names`; with them,
/// one value per name (the field at the last position of that name the record reaches, or "<none>").
std::vector<std::string> fieldValues(std::span<const std::u16string_view> fields,
                                     const std::optional<std::vector<Text>>& names);

/// Bytes from a list of byte values: bytes({0xEF, 0xBB, 0xBF}).
std::string bytes(std::initializer_list<int> values);

/// Hex dump "61 2C 0A" of bytes, for comparing byte-exact output with readable diffs.
std::string hex(std::string_view bytes);

/// Degenerate files as (name, bytes): the empty file, every single byte, and every byte value in both orders.
std::vector<std::pair<std::string, std::string>> degenerateFiles();

/// The XML declaration, document type and <plist> start tag the property-list writer begins with.
extern const std::string xmlPlistProlog;

/// The writer's document for these lines: the prolog, then each line after the LF that joins it.
std::string xmlPlistDocument(std::initializer_list<std::string> lines);

/// A short XML property list as input, `body` its root: no document type, LF line ends.
std::string xmlPlist(const std::string& body);

/// Runs `body` and expects it to throw `Exception` whose what() is exactly `message`.
template <class Exception, class Body>
void expectThrowMessage(Body&& body, std::string_view message)
{
    try {
        body();
        ADD_FAILURE() << "expected an exception with message: " << message;
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), std::string(message));
    }
}

/// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return _path; }
    /// path() + "/" + name.
    std::string file(std::string_view name) const;
    /// Writes `contents` to file(name) and returns its path.
    std::string write(std::string_view name, std::string_view contents) const;
    /// The contents of file(name); fails the test when it cannot be read.
    std::string read(std::string_view name) const;
    /// The names in the folder, sorted.
    std::vector<std::string> names() const;

private:
    std::string _path;
};

/// Collects the library's log lines while it lives (and keeps them off standard error).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const std::vector<std::string>& lines() const { return _lines; }

private:
    std::vector<std::string> _lines;
};

} // namespace plistable::test
