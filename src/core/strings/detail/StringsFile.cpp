#include "core/strings/detail/StringsFile.hpp"

#include "core/text/TextEncoding.hpp"

namespace plistable::detail {

namespace {

// Collects the entries of the root dictionary; anything else at the root is no strings file.
class EntryCollector : public OpenStepParserDelegate {
public:
    void parserDidStartRootDictionary(bool) override { dictionary = true; }
    void parserDidReadEntry(OpenStepEntry&& entry) override { entries.push_back(std::move(entry)); }
    void parserDidStartRootArray() override { other = true; }
    void parserDidReadRootValue(PlistValue&&) override { other = true; }

    std::vector<OpenStepEntry> entries;
    bool dictionary = false;
    bool other = false;
};

std::string commentText(const OpenStepComment& comment)
{
    std::u16string_view text = comment.text;
    if (text.starts_with(u' '))
        text.remove_prefix(1);
    if (comment.block && text.ends_with(u' '))
        text.remove_suffix(1);
    return toUtf8Lossy(text);
}

// Offsets where each line of `text` begins (line 1 at index 0); CR, LF and CRLF end a line.
std::vector<std::size_t> lineStarts(std::u16string_view text)
{
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        if (text[i] == u'\n' || text[i] == u'\r')
            starts.push_back(i + 1);
    }
    return starts;
}

// The index of the first comment before `entry` that is its own, or nothing: the last comment
// unless an empty line stands between it and the key or it begins on the line where the previous
// entry ends (`previousEnd`), and with it the "//" lines right above one another.
std::optional<std::size_t> ownComments(const OpenStepEntry& entry, std::uint64_t previousEnd)
{
    const std::vector<OpenStepComment>& comments = entry.commentsBefore;
    if (comments.empty())
        return std::nullopt;
    std::size_t first = comments.size() - 1;
    if (comments[first].lastLine + 1 < entry.line || comments[first].firstLine == previousEnd)
        return std::nullopt;
    while (!comments[first].block && first > 0 && !comments[first - 1].block
           && comments[first - 1].lastLine + 1 == comments[first].firstLine
           && comments[first - 1].firstLine != previousEnd)
        --first;
    return first;
}

void appendUtf16(std::string& out, std::u16string_view text, bool bigEndian)
{
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
}

} // namespace

std::vector<StringsEntry> stringsEntries(std::vector<OpenStepEntry>&& entries)
{
    std::vector<StringsEntry> result;
    std::uint64_t previousEnd = 0;
    for (OpenStepEntry& entry : entries) {
        StringsEntry read;
        read.key = toUtf8Lossy(entry.key);
        read.value = entry.value.isString() ? toUtf8Lossy(entry.value.string()) : toUtf8Lossy(entry.value.description());
        read.line = entry.line;
        if (const std::optional<std::size_t> first = ownComments(entry, previousEnd))
            for (std::size_t i = *first; i < entry.commentsBefore.size(); ++i) {
                // Appended piece by piece: GCC 12 flags a concatenation with a false -Werror=restrict in Release.
                if (i > *first)
                    read.comment += '\n';
                read.comment += commentText(entry.commentsBefore[i]);
            }
        previousEnd = entry.endLine;
        result.push_back(std::move(read));
    }
    return result;
}

std::optional<StringsFile> readStringsFile(std::string_view bytes, OpenStepError& error)
{
    StringsFile file;
    const auto byte = [&](std::size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100; };
    if (byte(0) == 0xFF && byte(1) == 0xFE)
        file.encoding = {true, false, true};
    else if (byte(0) == 0xFE && byte(1) == 0xFF)
        file.encoding = {true, true, true};
    else if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
        file.encoding = {false, false, true};
    else if (bytes.size() >= 2 && byte(1) == 0 && byte(0) != 0)
        file.encoding = {true, false, false};
    else if (bytes.size() >= 2 && byte(0) == 0 && byte(1) != 0)
        file.encoding = {true, true, false};

    std::optional<Text> decoded = OpenStepParser::decode(bytes, error);
    if (!decoded)
        return std::nullopt;
    // A leading mark is no part of the text (skipped as a view: GCC 12 warns on erasing from the moved string).
    std::u16string_view text = *decoded;
    if (!text.empty() && text.front() == u'\uFEFF')
        text.remove_prefix(1);
    EntryCollector collector;
    if (std::optional<OpenStepError> failure = OpenStepParser::parse(text, collector)) {
        error = std::move(*failure);
        // A missing ';' is told at the line where its entry began: the text up to the fault with the
        // ';' put in gives that entry, with its line.
        if (error.message.starts_with("expected ';'") && error.offset <= text.size()) {
            EntryCollector completed;
            Text mended(text.substr(0, error.offset));
            mended += u';';
            if (!OpenStepParser::parse(mended, completed) && completed.entries.size() == collector.entries.size() + 1)
                error.line = completed.entries.back().line;
        }
        return std::nullopt;
    }
    if (collector.other) {
        error = {"the text is no list of \"key\" = \"value\"; entries", 1, 0};
        return std::nullopt;
    }

    // The layout: the lines before the first entry's block and after the last entry's line are
    // kept as they are; the gap between the first two blocks tells whether entries stand apart.
    const std::vector<std::size_t> starts = lineStarts(text);
    const auto lineOffset = [&](std::uint64_t line) {
        return line == 0 ? 0 : line - 1 < starts.size() ? starts[line - 1] : text.size();
    };
    std::vector<OpenStepEntry> parsed = std::move(collector.entries);
    std::vector<std::uint64_t> blockLines; // where each entry's comment, else its key, begins
    std::vector<std::uint64_t> endLines;
    for (const OpenStepEntry& entry : parsed) {
        const std::optional<std::size_t> first = ownComments(entry, endLines.empty() ? 0 : endLines.back());
        blockLines.push_back(first ? entry.commentsBefore[*first].firstLine : entry.line);
        endLines.push_back(entry.endLine);
    }
    file.entries = stringsEntries(std::move(parsed));
    if (file.entries.empty()) {
        // Nothing to learn the spacing from: what the file holds (a header, or nothing) stays in front.
        file.layout.head = text;
        return file;
    }
    file.layout.head = text.substr(0, lineOffset(blockLines.front()));
    if (file.entries.size() >= 2)
        file.layout.blankLines = blockLines[1] > endLines[0] + 1;
    file.layout.tail = endLines.back() < starts.size() ? text.substr(starts[endLines.back()]) : Text();
    return file;
}

std::string writeStringsFile(const std::vector<StringsEntry>& entries, const StringsLayout& layout,
                             const StringsEncoding& encoding)
{
    Text text = layout.head;
    bool first = true;
    for (const StringsEntry& entry : entries) {
        if (!first && layout.blankLines)
            text += u'\n';
        first = false;
        if (!entry.comment.empty()) {
            // A comment cannot hold its own end marker.
            Text comment = fromUtf8Lossy(entry.comment);
            for (std::size_t at; (at = comment.find(u"*/")) != Text::npos;)
                comment.insert(comment.begin() + static_cast<std::ptrdiff_t>(at) + 1, u' ');
            text += u"/* " + comment + u" */\n";
        }
        text += fromUtf8Lossy(OpenStepParser::quoted(fromUtf8Lossy(entry.key)) + " = "
                              + OpenStepParser::quoted(fromUtf8Lossy(entry.value)) + ";\n");
    }
    // Without entries the head is all there is (a file of comments keeps them, an empty one stays empty).
    if (!entries.empty())
        text += layout.tail;
    std::string bytes;
    if (!encoding.utf16) {
        if (encoding.mark)
            bytes = "\xEF\xBB\xBF";
        bytes += toUtf8Lossy(text);
        return bytes;
    }
    if (encoding.mark)
        appendUtf16(bytes, u"\uFEFF", encoding.bigEndian);
    appendUtf16(bytes, text, encoding.bigEndian);
    return bytes;
}

} // namespace plistable::detail
