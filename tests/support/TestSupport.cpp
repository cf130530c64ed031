#include "support/TestSupport.hpp"

#include "core/Log.hpp"
#include "core/io/detail/QuietThread.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <algorithm>

namespace plistable::test {

namespace {

// PLISTABLE_TEST_NO_THREADS in the environment makes the library do its work on the caller's
// thread, as when the system gives no thread: for emulators that cannot start one (qemu 7.2's
// user mode hangs in the first pthread_create of an aarch64 program on some hosts).
const bool threadsRefused = [] {
    const bool refuse = std::getenv("PLISTABLE_TEST_NO_THREADS") != nullptr;
    if (refuse)
        plistable::detail::refuseThreadStartsForTesting(true);
    return refuse;
}();

} // namespace

Text u(std::string_view utf8)
{
    return fromUtf8Lossy(utf8);
}

std::string s(std::u16string_view text)
{
    return toUtf8Lossy(text);
}

std::vector<std::string> fieldValues(std::span<const std::u16string_view> fields,
                                     const std::optional<std::vector<Text>>& names)
{
    std::vector<std::string> values;
    if (!names) {
        for (const std::u16string_view field : fields)
            values.push_back(s(field));
        return values;
    }
    for (const Text& name : *names) {
        std::string value = "<none>";
        for (std::size_t p = 0; p < fields.size(); ++p)
            if ((*names)[p] == name)
                value = s(fields[p]);
        values.push_back(value);
    }
    return values;
}

std::string bytes(std::initializer_list<int> values)
{
    std::string result;
    for (int v : values)
        result.push_back(static_cast<char>(v));
    return result;
}

std::string hex(std::string_view data)
{
    std::string result;
    char piece[4];
    for (unsigned char c : data) {
        std::snprintf(piece, sizeof piece, "%02X", c);
        if (!result.empty())
            result += ' ';
        result += piece;
    }
    return result;
}

std::vector<std::pair<std::string, std::string>> degenerateFiles()
{
    std::vector<std::pair<std::string, std::string>> files = {{"empty", ""}};
    for (int b = 0; b < 256; ++b)
        files.push_back({"byte " + std::to_string(b), std::string(1, static_cast<char>(b))});
    std::string every;
    for (int b = 0; b < 256; ++b)
        every.push_back(static_cast<char>(b));
    files.push_back({"every byte value", every});
    files.push_back({"every byte value reversed", std::string(every.rbegin(), every.rend())});
    return files;
}

const std::string xmlPlistProlog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                   "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                   "<plist version=\"1.0\">";

std::string xmlPlistDocument(std::initializer_list<std::string> lines)
{
    std::string result = xmlPlistProlog;
    for (const std::string& line : lines)
        result += "\n" + line;
    return result;
}

std::string xmlPlist(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "plistable-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    _path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them writable so they can go.
    for (auto it = std::filesystem::recursive_directory_iterator(_path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        if (it->is_directory(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    std::filesystem::permissions(_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(_path, ignored);
}

std::string TempDir::file(std::string_view name) const
{
    return _path + "/" + std::string(name);
}

std::string TempDir::write(std::string_view name, std::string_view contents) const
{
    const std::string path = file(name);
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return path;
}

std::string TempDir::read(std::string_view name) const
{
    std::ifstream stream(file(name), std::ios::binary);
    EXPECT_TRUE(stream.good()) << "cannot read " << file(name);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

std::vector<std::string> TempDir::names() const
{
    std::vector<std::string> result;
    for (const auto& entry : std::filesystem::directory_iterator(_path))
        result.push_back(entry.path().filename().string());
    std::sort(result.begin(), result.end());
    return result;
}

LogCapture::LogCapture()
{
    setLogSink([this](std::string_view line) { _lines.emplace_back(line); });
}

LogCapture::~LogCapture()
{
    setLogSink({});
}

} // namespace plistable::test
