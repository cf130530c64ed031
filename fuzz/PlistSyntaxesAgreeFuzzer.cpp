// A random list of strings, data, arrays and dictionaries written by each of the three writers
// (XML, binary and old-style text) reads back through the property-list reader as the values
// written: the old-style text the project writes stands for its value, and the syntaxes agree.
#include "FuzzSupport.hpp"

#include "core/io/AtomicFile.hpp"
#include "core/plist/PropertyListReader.hpp"
#include "core/plist/detail/BinaryPlistWriter.hpp"
#include "core/plist/detail/OpenStepWriter.hpp"
#include "core/plist/detail/PlistXmlWriter.hpp"

#include <algorithm>
#include <unordered_set>

using namespace plistable;

namespace {

// 0xF0 opens an array, 0xF1 a dictionary (keys unique), 0xF2 closes one, 0xF3 ends a string,
// 0xF4 makes the next few bytes data; other bytes are characters (charactersFromBytes, less the
// carriage return, which XML reads as a line feed).
PlistValue build(fuzz::ByteReader& in, std::size_t depth)
{
    const std::uint8_t kind = in.take();
    if ((kind == 0xF0 || kind == 0xF1) && depth < 8) {
        PlistValue value = kind == 0xF0 ? PlistValue(PlistValue::Array()) : PlistValue(PlistValue::Dictionary());
        std::unordered_set<Text> keys;
        while (!in.empty() && in.take() != 0xF2) {
            PlistValue element = build(in, depth + 1);
            if (value.isArray())
                value.array().push_back(std::move(element));
            else if (PlistValue key = build(in, depth + 1); key.isString() && keys.insert(key.string()).second)
                value.dictionary().emplace_back(key.string(), std::move(element));
        }
        return value;
    }
    if (kind == 0xF4) {
        std::string bytes;
        for (std::uint8_t n = in.take() % 8; n > 0; --n)
            bytes += static_cast<char>(in.take());
        return PlistValue::data(bytes);
    }
    std::string bytes;
    for (std::uint8_t b = kind; !in.empty() && b != 0xF3; b = in.take())
        bytes += static_cast<char>(b);
    Text text = fuzz::charactersFromBytes(bytes);
    std::erase_if(text, [](char16_t c) { return c == u'\r' || (c < 0x20 && c != u'\n' && c != u'\t'); });
    return PlistValue(std::move(text));
}

// The values with data as the text the XML and binary writers give it (they write table values,
// which are never data).
PlistValue withoutData(const PlistValue& value)
{
    PlistValue copy = value;
    if (value.kind() == PlistValue::Kind::Data)
        return PlistValue(value.description());
    if (value.isArray())
        for (PlistValue& element : copy.array())
            element = withoutData(element);
    if (value.isDictionary())
        for (auto& entry : copy.dictionary())
            entry.second = withoutData(entry.second);
    return copy;
}

// The values as XML carries them: U+FFFE and U+FFFF are not XML characters, and the writer puts
// U+FFFD in their place (and reports it).
Text asXmlCarriesIt(Text text)
{
    std::replace_if(text.begin(), text.end(), [](char16_t c) { return c >= 0xFFFE; }, u'\uFFFD');
    return text;
}

PlistValue asXmlCarriesIt(const PlistValue& value)
{
    if (value.isString())
        return PlistValue(asXmlCarriesIt(value.string()));
    PlistValue copy = value;
    if (copy.isArray())
        for (PlistValue& element : copy.array())
            element = asXmlCarriesIt(element);
    if (copy.isDictionary())
        for (auto& [key, element] : copy.dictionary()) {
            key = asXmlCarriesIt(key);
            element = asXmlCarriesIt(element);
        }
    return copy;
}

struct Elements : PlistReaderDelegate {
    std::vector<PlistValue> values;
    void readerDidReadRootArrayElement(PlistValue&& element) override { values.push_back(std::move(element)); }
};

template <class Writer, class... Args>
std::vector<PlistValue> writtenAndRead(const std::vector<PlistValue>& values, Args... args)
{
    const std::string path = fuzz::scratch::path("list.plist");
    {
        AtomicFile file(path);
        Writer writer(file, args...);
        writer.beginValues(false);
        for (const PlistValue& value : values)
            writer.writeValue(value);
        writer.endValues();
        FUZZ_CHECK(!file.commit());
    }
    Elements read;
    FUZZ_CHECK(PropertyListReader::readFile(path, read).ok());
    return read.values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    std::vector<PlistValue> values;
    while (!in.empty())
        values.push_back(build(in, 1));
    FUZZ_CHECK(writtenAndRead<detail::OpenStepWriter>(values, false, false) == values);
    FUZZ_CHECK(writtenAndRead<detail::OpenStepWriter>(values, false, true) == values);
    for (PlistValue& value : values)
        value = withoutData(value);
    FUZZ_CHECK(writtenAndRead<detail::OpenStepWriter>(values, false, false) == values);
    FUZZ_CHECK(writtenAndRead<detail::BinaryPlistWriter>(values) == values);
    std::vector<PlistValue> inXml;
    for (const PlistValue& value : values)
        inXml.push_back(asXmlCarriesIt(value));
    FUZZ_CHECK(writtenAndRead<detail::PlistXmlWriter>(values) == inXml);
    return 0;
}
