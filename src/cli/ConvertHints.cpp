#include "cli/ConvertHints.hpp"

#include "core/io/PathUtilities.hpp"
#include "core/text/EncodingDetection.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace plistable::cli {
namespace {

constexpr std::size_t sampleBytes = 64 * 1024;
constexpr std::array<char16_t, 4> candidates = {u',', u';', u'\t', u'|'};

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

const char* optionName(char16_t delimiter)
{
    switch (delimiter) {
    case u';': return "semicolon";
    case u'\t': return "tab";
    case u'|': return "pipe";
    default: return "comma";
    }
}

// Per line of the sample (blank lines left out), how often each candidate stands outside quotes.
std::vector<std::array<std::size_t, candidates.size()>> countsPerLine(std::u16string_view sample)
{
    std::vector<std::array<std::size_t, candidates.size()>> lines;
    std::array<std::size_t, candidates.size()> counts{};
    bool quoted = false;
    bool blank = true;
    for (char16_t c : sample) {
        if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && (c == u'\n' || c == u'\r')) {
            if (!blank)
                lines.push_back(counts);
            counts = {};
            blank = true;
            continue;
        } else if (!quoted) {
            for (std::size_t i = 0; i < candidates.size(); ++i)
                counts[i] += c == candidates[i];
        }
        blank = false;
    }
    if (!blank)
        lines.push_back(counts);
    return lines;
}

} // namespace

std::optional<std::string> passedOverHint(const std::string& path)
{
    const std::string extension = pathExtension(path);
    const std::string lower = lowerCase(extension);
    std::string expected;
    std::string option;
    if (lower == "csv" || lower == "tsv" || lower == "txt") {
        expected = "csv";
        option = lower == "tsv" ? "--from csv -d tab" : "--from csv";
    } else if (lower == "plist" || lower == "strings") {
        expected = "plist";
        option = "--from plist";
    } else {
        return std::nullopt;
    }
    return "passed over: the extension is \"" + extension + "\", not \"" + expected + "\"; " + option + " converts it";
}

std::optional<Text> csvSample(std::string_view bytes, const std::string& encoding)
{
    bytes = bytes.substr(0, sampleBytes);
    // A line feed is never part of a multibyte character in the encodings read, so the sample ends
    // on a whole character.
    if (bytes.size() == sampleBytes)
        bytes = bytes.substr(0, bytes.rfind('\n') == std::string_view::npos ? 0 : bytes.rfind('\n') + 1);
    if (!encoding.empty())
        return decodeTextNamed(bytes, encoding);
    std::optional<Text> decoded;
    detectEncoding(bytes, decoded);
    return decoded;
}

std::optional<Text> csvSampleOfFile(const std::string& path, const std::string& encoding)
{
    // A fifo or device would give other bytes than the conversion read, or wait for a writer.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    std::string bytes(sampleBytes, '\0');
    if (!file.read(bytes.data(), static_cast<std::streamsize>(bytes.size())) && !file.eof())
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return csvSample(bytes, encoding);
}

std::optional<std::string> delimiterHint(std::u16string_view sample, bool failed)
{
    std::array<std::size_t, candidates.size()> totals{};
    for (const auto& line : countsPerLine(sample))
        for (std::size_t i = 0; i < candidates.size(); ++i)
            totals[i] += line[i];
    const auto best = std::max_element(totals.begin() + 1, totals.end());
    if (*best <= totals[0] || (!failed && totals[0] > 0))
        return std::nullopt;
    const char16_t delimiter = candidates[static_cast<std::size_t>(best - totals.begin())];
    return "looks separated by " + shownDelimiter(delimiter) + ": try -d " + optionName(delimiter);
}

char16_t guessDelimiter(std::u16string_view sample)
{
    const auto lines = countsPerLine(sample);
    char16_t chosen = u',';
    std::size_t chosenLines = 0;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        std::map<std::size_t, std::size_t> linesPerCount; // separators on a line -> lines with that many
        for (const auto& line : lines)
            if (line[i] > 0)
                ++linesPerCount[line[i]];
        for (const auto& [count, lineCount] : linesPerCount) {
            if (lineCount > chosenLines) {
                chosen = candidates[i];
                chosenLines = lineCount;
            }
        }
    }
    return chosen;
}

std::string shownDelimiter(char16_t delimiter)
{
    switch (delimiter) {
    case u'\t': return "tabs";
    case u';': return "\";\"";
    case u'|': return "\"|\"";
    default: return "\",\"";
    }
}

} // namespace plistable::cli
