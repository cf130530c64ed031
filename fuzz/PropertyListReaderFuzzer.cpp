// The property-list reader (XML, binary and old-style text) on random bytes, read from memory and
// from a file in chunks: the events, root elements and result must be the same. The events also drive the key-list
// pass of the property-list conversion, which must collect only names of key elements.
#include "FuzzSupport.hpp"

#include "core/convert/FileConverter.hpp"
#include "core/plist/PropertyListReader.hpp"
#include "core/UserDefaults.hpp"

using namespace plistable;

namespace {

class Recorder : public PlistReaderDelegate {
public:
    explicit Recorder(FileConverter& keyPass) : _keyPass(keyPass) {}
    void parserDidStartDocument() override { add("start"), _keyPass.parserDidStartDocument(); }
    void parserDidStartElement(std::u16string_view name) override
    {
        add("<" + toUtf8Lossy(name) + ">"), _keyPass.parserDidStartElement(name);
        keyElements += name == u"key";
    }
    void parserDidEndElement(std::u16string_view name) override
    {
        add("</" + toUtf8Lossy(name) + ">"), _keyPass.parserDidEndElement(name);
    }
    // Pieces of one text are joined: how a text is split is not part of the contract.
    void parserFoundCharacters(std::u16string_view text) override
    {
        _text += text, _keyPass.parserFoundCharacters(text);
    }
    void parserDidEndDocument() override { add("end"), _keyPass.parserDidEndDocument(); }
    void readerDidReadRootArrayElement(PlistValue&& element) override
    {
        add("element " + toUtf8Lossy(element.description()));
    }
    std::string events()
    {
        add("");
        return _log;
    }

    // The last event recorded; an element's or a text's description may end in any word, so the log's tail cannot tell.
    const std::string& lastEvent() const { return _last; }

    std::size_t keyElements = 0;

private:
    void add(const std::string& event)
    {
        if (!_text.empty())
            _log += "text " + fuzz::describe({{_text}}), _last = "text";
        _text.clear();
        _log += event + "\n";
        if (!event.empty())
            _last = event;
    }

    FileConverter& _keyPass;
    std::string _log;
    std::string _last;
    Text _text;
};

std::string describe(const PropertyListReadResult& r)
{
    return std::to_string(static_cast<int>(r.status)) + " " + r.message + " " + std::to_string(r.line) + ":"
           + std::to_string(r.column) + " @" + std::to_string(r.byteOffset) + (r.binary ? " binary" : "");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    UserDefaults defaults("/nonexistent/plistable-fuzz/settings.json");
    FileConverter keyPass(defaults);
    Recorder fromMemory(keyPass);
    const PropertyListReadResult memoryResult = PropertyListReader::readBytes(bytes, fromMemory);
    const std::string memoryEvents = fromMemory.events();
    FUZZ_CHECK(keyPass.keys().has_value() == (memoryEvents.rfind("start\n", 0) == 0));
    FUZZ_CHECK(!keyPass.keys() || keyPass.keys()->size() <= fromMemory.keyElements);
    // The end of the document is reported exactly when the list was read to its end.
    const bool readToTheEnd = memoryResult.ok() || memoryResult.status == PropertyListReadResult::Status::RootNotArray;
    FUZZ_CHECK(readToTheEnd == (fromMemory.lastEvent() == "end"));

    Recorder fromFile(keyPass);
    const PropertyListReadResult fileResult = PropertyListReader::readFile(fuzz::scratch::write("x.plist", bytes), fromFile);
    FUZZ_CHECK(describe(memoryResult) == describe(fileResult));
    FUZZ_CHECK(memoryEvents == fromFile.events());
    return 0;
}
