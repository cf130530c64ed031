// The property-list XML tokenizer against expat on the same bytes, fed in pieces of a size taken
// from the first byte: every element event (name, line, column, byte offset) and the text before it
// must be expat's; a document the tokenizer reads to its end must be one expat accepts with the same
// events. Then the whole reader, which hands over to expat where the tokenizer stops, must give
// exactly what expat alone gives.
#include "FuzzSupport.hpp"

#include "core/plist/PropertyListReader.hpp"
#include "core/plist/detail/PlistXmlTokenizer.hpp"
#include "core/plist/detail/XmlPropertyListReader.hpp"

#include <functional>

using namespace plistable;
using namespace plistable::detail;

namespace {

struct EventLog : ExpatParser::Handler {
    std::function<XmlPosition()> where;
    std::string characters, lines;
    void xmlStartElement(const char* name) override { add(std::string("<") + name); }
    void xmlEndElement(const char* name) override { add(std::string("</") + name); }
    void xmlCharacters(std::string_view text) override { characters.append(text); }
    void add(const std::string& event)
    {
        const XmlPosition at = where();
        lines += "text " + characters + "\n" + event + " " + std::to_string(at.line) + ":"
                 + std::to_string(at.column) + "@" + std::to_string(at.byteOffset) + "\n";
        characters.clear();
    }
};

struct Recorder : PlistReaderDelegate {
    std::string log;
    void parserDidStartElement(std::u16string_view name) override { log += "<" + toUtf8Lossy(name); }
    void parserDidEndElement(std::u16string_view name) override { log += "</" + toUtf8Lossy(name); }
    void parserFoundCharacters(std::u16string_view text) override { log += "|" + toUtf8Lossy(text); }
    void parserDidEndDocument() override { log += "end"; }
    void readerDidReadRootArrayElement(PlistValue&& element) override
    {
        log += "=" + toUtf8Lossy(element.description());
    }
};

std::string describe(const PropertyListReadResult& r, const Recorder& recorder)
{
    return recorder.log + "\n" + std::to_string(static_cast<int>(r.status)) + r.message + std::to_string(r.line)
           + ":" + std::to_string(r.column) + "@" + std::to_string(r.byteOffset);
}

// Whether the reader takes these bytes for XML: not "bplist", and '<' first after an optional
// byte-order mark and white space (zero bytes passed over), or nothing but those.
bool readAsXml(std::string_view bytes)
{
    if (bytes.starts_with("bplist"))
        return false;
    for (std::string_view mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
        if (bytes.starts_with(mark)) {
            bytes.remove_prefix(mark.size());
            break;
        }
    const std::size_t first = bytes.find_first_not_of(std::string_view(" \t\n\r\0", 5));
    return first == std::string_view::npos || bytes[first] == '<';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader choices(data, size);
    const std::size_t step = choices.take() % 16 * 5 + 1;
    const std::string_view xml = choices.rest();

    EventLog expatLog;
    ExpatParser parser(expatLog);
    parser.gatherCharactersInto(&expatLog.characters);
    expatLog.where = [&] { return parser.position(); };
    const bool expatOk = parser.parse(xml, true);

    EventLog log;
    PlistXmlTokenizer tokenizer(log, log.characters);
    log.where = [&] { return tokenizer.position(); };
    for (std::size_t at = 0; tokenizer.feed(xml.substr(std::min(at, xml.size()), step), at + step >= xml.size());)
        at += step;
    FUZZ_CHECK(tokenizer.status() != PlistXmlTokenizer::Status::Reading);
    FUZZ_CHECK(expatLog.lines.compare(0, log.lines.size(), log.lines) == 0);
    if (tokenizer.status() == PlistXmlTokenizer::Status::Finished)
        FUZZ_CHECK(expatOk && expatLog.lines == log.lines);

    if (!readAsXml(xml))
        return 0; // read as a binary or an old-style list
    Recorder expatOnly, whole;
    XmlPropertyListReader reader(expatOnly);
    reader.begin();
    reader.feed(xml, true);
    FUZZ_CHECK(describe(PropertyListReader::readBytes(xml, whole), whole) == describe(reader.result(), expatOnly));
    return 0;
}
