// Reading speed of XML property lists: the streaming reader with a delegate that takes every
// event and element, against libplist's whole-tree parse of the same bytes, and against expat
// alone with handlers that do nothing (the ceiling for any reader built on it). The reader also
// runs as it did before it had a tokenizer of its own (expat all the way), and the tokenizer runs
// alone with handlers that do nothing.
#include "core/plist/PropertyListReader.hpp"
#include "core/plist/detail/PlistXmlTokenizer.hpp"
#include "core/plist/detail/XmlPropertyListReader.hpp"

#include <benchmark/benchmark.h>
#include <expat.h>
#include <plist/plist.h>

#include <random>
#include <string>

namespace {

using namespace plistable;

// Takes what the conversion takes: every character event and every root-array element.
class CountingDelegate : public PlistReaderDelegate {
public:
    std::size_t elements = 0;
    std::size_t characters = 0;
    void parserFoundCharacters(std::u16string_view text) override { characters += text.size(); }
    void readerDidReadRootArrayElement(PlistValue&& element) override
    {
        ++elements;
        benchmark::DoNotOptimize(element);
    }
};

// Seeded field texts that look like table cells: names, words, numbers, an occasional entity.
class FieldMaker {
public:
    std::string next()
    {
        static const char* const words[] = {"Tokyo",   "Berlin",  "coffee", "invoice", "Müller",  "東京都",
                                            "shipped", "pending", "42",     "3.14",    "Smith & Co", "2024-05-01",
                                            "blue",    "large",   "order",  "café",    "North",   "item"};
        std::string field;
        const int count = 1 + static_cast<int>(_random() % 3);
        for (int i = 0; i < count; ++i) {
            if (i)
                field += ' ';
            std::string word = words[_random() % std::size(words)];
            for (std::size_t at = word.find('&'); at != std::string::npos; at = word.find('&', at + 1))
                word.replace(at, 1, "&amp;");
            field += word;
        }
        return field;
    }

private:
    std::mt19937 _random{20240501};
};

const std::string& dictionaryList()
{
    static const std::string xml = [] {
        FieldMaker maker;
        std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST "
                          "1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<array>\n";
        while (out.size() < 16u * 1024 * 1024) {
            out += "\t<dict>\n";
            for (int k = 0; k < 10; ++k)
                out += "\t\t<key>column" + std::to_string(k) + "</key>\n\t\t<string>" + maker.next() + "</string>\n";
            out += "\t</dict>\n";
        }
        return out + "</array>\n</plist>\n";
    }();
    return xml;
}

const std::string& arrayList()
{
    static const std::string xml = [] {
        FieldMaker maker;
        std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n";
        while (out.size() < 16u * 1024 * 1024) {
            out += "\t<array>\n";
            for (int k = 0; k < 10; ++k)
                out += "\t\t<string>" + maker.next() + "</string>\n";
            out += "\t</array>\n";
        }
        return out + "</array>\n</plist>\n";
    }();
    return xml;
}

void readStreaming(benchmark::State& state, const std::string& xml)
{
    for (auto _ : state) {
        CountingDelegate delegate;
        const PropertyListReadResult result = PropertyListReader::readBytes(xml, delegate);
        if (!result.ok())
            state.SkipWithError(result.message.c_str());
        benchmark::DoNotOptimize(delegate.elements);
        state.counters["elements"] = static_cast<double>(delegate.elements);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void readStreamingWithExpat(benchmark::State& state, const std::string& xml)
{
    for (auto _ : state) {
        CountingDelegate delegate;
        detail::XmlPropertyListReader reader(delegate);
        reader.begin();
        constexpr std::size_t piece = 64 * 1024;
        for (std::size_t at = 0; at < xml.size(); at += piece)
            reader.feed(std::string_view(xml).substr(at, piece), at + piece >= xml.size());
        if (!reader.result().ok())
            state.SkipWithError(reader.result().message.c_str());
        benchmark::DoNotOptimize(delegate.elements);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void readTokenizerOnly(benchmark::State& state, const std::string& xml)
{
    struct Nothing : detail::ExpatParser::Handler {
        void xmlStartElement(const char*) override {}
        void xmlEndElement(const char*) override {}
        void xmlCharacters(std::string_view) override {}
    } nothing;
    for (auto _ : state) {
        std::string characters;
        detail::PlistXmlTokenizer tokenizer(nothing, characters);
        tokenizer.feed(xml, true);
        if (tokenizer.status() != detail::PlistXmlTokenizer::Status::Finished)
            state.SkipWithError("the tokenizer left the list to expat");
        benchmark::DoNotOptimize(characters);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void readLibplist(benchmark::State& state, const std::string& xml)
{
    for (auto _ : state) {
        plist_t tree = nullptr;
        plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &tree);
        if (!tree)
            state.SkipWithError("libplist refused the list");
        plist_free(tree);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void readExpatOnly(benchmark::State& state, const std::string& xml)
{
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetElementHandler(parser, [](void*, const XML_Char*, const XML_Char**) {}, [](void*, const XML_Char*) {});
        XML_SetCharacterDataHandler(parser, [](void*, const XML_Char*, int) {});
        constexpr std::size_t piece = 64 * 1024;
        for (std::size_t at = 0; at < xml.size(); at += piece) {
            const std::size_t length = std::min(piece, xml.size() - at);
            if (XML_Parse(parser, xml.data() + at, static_cast<int>(length), at + length == xml.size()) != XML_STATUS_OK)
                state.SkipWithError("expat refused the list");
        }
        XML_ParserFree(parser);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void BM_StreamingReaderDictionaries(benchmark::State& state) { readStreaming(state, dictionaryList()); }
void BM_StreamingReaderArrays(benchmark::State& state) { readStreaming(state, arrayList()); }
void BM_StreamingReaderExpatDictionaries(benchmark::State& state) { readStreamingWithExpat(state, dictionaryList()); }
void BM_StreamingReaderExpatArrays(benchmark::State& state) { readStreamingWithExpat(state, arrayList()); }
void BM_TokenizerOnlyDictionaries(benchmark::State& state) { readTokenizerOnly(state, dictionaryList()); }
void BM_LibplistFromXmlDictionaries(benchmark::State& state) { readLibplist(state, dictionaryList()); }
void BM_LibplistFromXmlArrays(benchmark::State& state) { readLibplist(state, arrayList()); }
void BM_ExpatOnlyDictionaries(benchmark::State& state) { readExpatOnly(state, dictionaryList()); }
void BM_ExpatOnlyArrays(benchmark::State& state) { readExpatOnly(state, arrayList()); }

BENCHMARK(BM_StreamingReaderDictionaries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamingReaderArrays)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamingReaderExpatDictionaries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamingReaderExpatArrays)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TokenizerOnlyDictionaries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibplistFromXmlDictionaries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibplistFromXmlArrays)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpatOnlyDictionaries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpatOnlyArrays)->Unit(benchmark::kMillisecond);

} // namespace
