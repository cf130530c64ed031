// An old-style text read a window at a time (the window's size taken from the first byte) reads
// as when it is decoded and parsed whole: the same callbacks, values, fault, line and offset
// (with comments passed over, the same values and fault); and the property-list reader gives the
// same result and events through any window, with or without a selection.
#include "FuzzSupport.hpp"

#include "core/plist/OpenStepParser.hpp"
#include "core/plist/PlistPointer.hpp"
#include "core/plist/PlistReaderDelegate.hpp"
#include "core/plist/detail/OpenStepPropertyListReader.hpp"

using namespace plistable;

namespace {

void add(std::u16string& log, std::string_view what, std::uint64_t number = 0)
{
    log.append(what.begin(), what.end());
    for (char c : " " + std::to_string(number) + "\n")
        log += static_cast<char16_t>(c);
}

struct ParserLog : OpenStepParserDelegate {
    std::u16string log;
    std::vector<PlistValue> values;

    void parserDidStartRootDictionary(bool stringsForm) override { add(log, "dictionary", stringsForm); }
    void parserDidReadEntry(OpenStepEntry&& entry) override
    {
        log += entry.key;
        add(log, " entry", entry.line * 1000000 + entry.endLine);
        comments(entry.commentsBefore);
        values.push_back(std::move(entry.value));
    }
    void parserDidStartRootArray() override { add(log, "array"); }
    void parserDidReadArrayElement(PlistValue&& element, std::uint64_t line) override
    {
        add(log, "element", line);
        values.push_back(std::move(element));
    }
    void parserDidReadRootValue(PlistValue&& value) override
    {
        add(log, "value");
        values.push_back(std::move(value));
    }
    void parserDidReadTrailingComments(std::vector<OpenStepComment>&& list) override { comments(list); }
    void parserDidRepeatKey(std::u16string_view key, std::uint64_t line) override
    {
        log += key;
        add(log, " repeated", line);
    }
    void comments(const std::vector<OpenStepComment>& list)
    {
        for (const OpenStepComment& comment : list) {
            log += comment.text;
            add(log, comment.block ? " block" : " line", comment.firstLine * 1000000 + comment.lastLine);
        }
    }
};

struct ReaderLog : PlistReaderDelegate {
    std::u16string log;
    std::vector<PlistValue> values;

    void parserDidStartDocument() override { add(log, "start"); }
    void parserDidStartElement(std::u16string_view name) override { log += u"<" + Text(name) + u">"; }
    void parserDidEndElement(std::u16string_view name) override { log += u"</" + Text(name) + u">"; }
    void parserFoundCharacters(std::u16string_view characters) override { log += characters; }
    void parserDidEndDocument() override { add(log, "end"); }
    void readerDidReadRootArrayElement(PlistValue&& element) override { values.push_back(std::move(element)); }
    void readerDidReadRootDictionaryEntry(Text&& key, PlistValue&& value) override
    {
        log += key;
        values.push_back(std::move(value));
    }
    void readerDidReadSelectedValue(PlistValue&& value) override { values.push_back(std::move(value)); }
    void readerDidFindRepeatedKey(std::u16string_view key, std::uint64_t line, std::uint64_t byteOffset) override
    {
        log += key;
        add(log, "repeated", line * 1000000 + byteOffset);
    }
};

// `bytes` in pieces of `window` bytes.
detail::OpenStepTextSource::Pieces piecesOf(std::string_view bytes, std::size_t window)
{
    return [bytes, window](std::string_view& piece) mutable {
        piece = bytes.substr(0, window);
        bytes.remove_prefix(piece.size());
        return true;
    };
}

bool sameFault(const std::optional<OpenStepError>& a, const std::optional<OpenStepError>& b)
{
    return a.has_value() == b.has_value() &&
           (!a || (a->message == b->message && a->line == b->line && a->offset == b->offset));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t shape = in.take();
    const std::size_t window = shape & 0x80 ? 1 + (shape & 0x3F) * 37 : 1 + (shape & 0x0F);
    const std::uint8_t pick = in.take();
    const std::string_view bytes = in.rest();

    // The parser: decoded and parsed whole, and through the window.
    OpenStepError decodeFault;
    const std::optional<Text> text = OpenStepParser::decode(bytes, decodeFault);
    ParserLog whole;
    const std::optional<OpenStepError> wholeFault = text ? OpenStepParser::parse(*text, whole) : decodeFault;
    ParserLog windowed;
    detail::OpenStepTextSource source(piecesOf(bytes, window));
    const std::optional<OpenStepError> windowedFault = detail::parseOpenStep(source, windowed);
    FUZZ_CHECK(sameFault(wholeFault, windowedFault));
    if (text) { // a decoding fault is found only after what came before it was parsed
        FUZZ_CHECK(whole.log == windowed.log);
        FUZZ_CHECK(whole.values == windowed.values);
    }
    // Passing comments over changes nothing else.
    ParserLog bare;
    detail::OpenStepTextSource again(piecesOf(bytes, window));
    FUZZ_CHECK(sameFault(windowedFault, detail::parseOpenStep(again, bare, false)));
    FUZZ_CHECK(bare.values == windowed.values);

    // The reader, with one piece and through the window.
    static const char* const pointers[] = {"", "/0", "/a", "/a/0", "/0/b"};
    std::string error;
    const std::optional<PlistPointer> pointer =
        pick % 2 ? std::nullopt : PlistPointer::parse(pointers[pick / 2 % std::size(pointers)], error);
    ReaderLog one;
    ReaderLog many;
    const auto oneResult = detail::readOpenStep(piecesOf(bytes, bytes.size() + 1), one, pointer ? &*pointer : nullptr);
    const auto manyResult = detail::readOpenStep(piecesOf(bytes, window), many, pointer ? &*pointer : nullptr);
    FUZZ_CHECK(oneResult && manyResult);
    FUZZ_CHECK(oneResult->status == manyResult->status);
    FUZZ_CHECK(oneResult->message == manyResult->message);
    FUZZ_CHECK(oneResult->line == manyResult->line);
    FUZZ_CHECK(oneResult->byteOffset == manyResult->byteOffset);
    FUZZ_CHECK(oneResult->rootKind == manyResult->rootKind);
    FUZZ_CHECK(oneResult->rootIsDictionary == manyResult->rootIsDictionary);
    FUZZ_CHECK(one.log == many.log);
    FUZZ_CHECK(one.values == many.values);
    return 0;
}
