#include "FuzzSupport.hpp"

#include "core/text/detail/CharacterSets.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>

namespace plistable::fuzz {

bool sameStop(const CSVParseStop& a, const CSVParseStop& b)
{
    return a.complete == b.complete && a.reason == b.reason && a.line == b.line && a.offset == b.offset
           && a.records == b.records && a.recordsWithSurplusFields == b.recordsWithSurplusFields
           && a.firstSurplusLine == b.firstSurplusLine && a.stopped == b.stopped;
}

Text trimmed(const Text& field)
{
    std::size_t begin = 0, end = field.size();
    while (begin < end && plistable::detail::isWhitespaceOrNewline(field[begin]))
        ++begin;
    while (end > begin && plistable::detail::isWhitespaceOrNewline(field[end - 1]))
        --end;
    return field.substr(begin, end - begin);
}


void checkFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: oracle failed: %s\n", file, line, condition);
    std::abort();
}

Text textFromBytes(std::string_view bytes, bool rawUnits)
{
    if (!rawUnits)
        return fromUtf8Lossy(bytes);
    Text text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i])
                                             | static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    return text;
}

Text charactersFromBytes(std::string_view bytes)
{
    // Line breaks of every kind, space separators, letters whose case folding is unusual, a
    // non-character, a character outside the BMP; index 0 is the pair of surrogates.
    static constexpr std::array<char16_t, 18> special = {
        0,      0x0085, 0x2028, 0x2029, 0x00A0, 0x3000, 0x1680, 0x00E9, 0x00C9,
        0x017F, 0x212A, 0x0130, 0x00DF, 0xFFFF, 0xFEFF, 0x65E5, 0x0410, 0x0430,
    };
    Text text;
    for (char byte : bytes) {
        const auto b = static_cast<std::uint8_t>(byte);
        if (b < 0x80) {
            text.push_back(b);
        } else if (const char16_t c = special[b % special.size()]; c != 0) {
            text.push_back(c);
        } else {
            text += u"\U0001F600";
        }
    }
    return text;
}

std::optional<Text> separatorFrom(ByteReader& in, std::size_t length)
{
    Text separator;
    for (std::size_t i = 0; i < length; ++i)
        separator += charactersFromBytes(std::string(1, static_cast<char>(in.take())));
    separator.resize(length);
    for (char16_t c : separator)
        if (c == u'"' || detail::isNewline(c))
            return std::nullopt;
    return separator;
}

std::string describe(const Rows& rows)
{
    std::string out;
    for (const auto& row : rows) {
        out += '[';
        for (const Text& field : row)
            out += '"' + toUtf8Lossy(field) + "\" ";
        out += "]\n";
    }
    return out;
}

namespace scratch {

const std::string& folder()
{
    // Never destroyed: the removal at exit runs after the destructors of statics made before it.
    static const std::string* const path = [] {
        // Memory-backed when the system has such a folder: a run writes files thousands of times.
        std::error_code error;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string name = (base / "plistable-fuzz-XXXXXX").string();
        FUZZ_CHECK(::mkdtemp(name.data()) != nullptr);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder(), ignored);
        });
        return new std::string(name);
    }();
    return *path;
}

std::string path(std::string_view name) { return folder() + "/" + std::string(name); }

std::string write(std::string_view name, std::string_view bytes)
{
    // A new file rather than a truncated one: truncating makes some file systems write it out at close.
    const std::string file = path(name);
    std::remove(file.c_str());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    FUZZ_CHECK(out.good());
    return file;
}

std::optional<std::string> read(std::string_view name)
{
    std::ifstream in(path(name), std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void remove(std::string_view name) { std::remove(path(name).c_str()); }

} // namespace scratch

void EventLog::parserDidBeginDocument(CHCSVParser&) { log += "begin\n"; }

void EventLog::parserDidBeginLine(CHCSVParser&, std::uint64_t recordNumber)
{
    log += "line " + std::to_string(recordNumber) + "\n";
}

void EventLog::parserDidReadField(CHCSVParser&, std::u16string_view field, std::int64_t fieldIndex)
{
    // Units as numbers keep lone surrogates apart, which a UTF-8 form would merge.
    log += "field " + std::to_string(fieldIndex);
    for (char16_t c : field)
        log += ' ' + std::to_string(c);
    log += '\n';
}

void EventLog::parserDidEndLine(CHCSVParser&, std::uint64_t recordNumber)
{
    log += "end " + std::to_string(recordNumber) + "\n";
}

void EventLog::parserDidReadComment(CHCSVParser&, const Text& comment)
{
    log += "comment";
    for (char16_t c : comment)
        log += ' ' + std::to_string(c);
    log += '\n';
}

void EventLog::parserDidFailWithError(CHCSVParser&, const CHCSVError& error)
{
    log += "error " + std::to_string(error.code) + " " + std::to_string(error.line);
    if (!omitDecodingOffset || error.code != CHCSVErrorCodeUndecodableBytes)
        log += " " + std::to_string(error.offset) + " " + error.description;
    log += '\n';
}

void EventLog::parserDidEndDocument(CHCSVParser&) { log += "done\n"; }

} // namespace plistable::fuzz
