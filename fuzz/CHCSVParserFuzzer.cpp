// The streaming CSV reader with random options, delimiter and encoding, fed through a stream that
// returns random short reads: its events, error and counts must equal those of one whole buffer.
#include "FuzzSupport.hpp"

#include "core/csv/CHCSVParser.hpp"
#include "core/io/MemoryInputStream.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace plistable;

namespace {

// Gives 1 to 16 bytes per read, the sizes drawn from a generator seeded with the input itself.
class ShortReadStream : public InputStream {
public:
    ShortReadStream(std::string bytes, std::uint32_t seed) : _bytes(std::move(bytes)), _state(seed | 1) {}
    void open() override {}
    std::ptrdiff_t read(char* buffer, std::size_t maxLength) override
    {
        _state ^= _state << 13, _state ^= _state >> 17, _state ^= _state << 5;
        const std::size_t count = std::min({maxLength, _bytes.size() - _position, std::size_t{1 + _state % 16}});
        std::memcpy(buffer, _bytes.data() + _position, count);
        _position += count;
        return static_cast<std::ptrdiff_t>(count);
    }
    bool hasBytesAvailable() const override { return _position < _bytes.size(); }
    void close() override {}
    std::string name() const override { return "short reads"; }

private:
    std::string _bytes;
    std::uint32_t _state;
    std::size_t _position = 0;
};

constexpr TextEncoding encodings[] = {0, NSUTF8StringEncoding, NSUTF16LittleEndianStringEncoding,
                                      NSUTF16BigEndianStringEncoding, NSUTF32LittleEndianStringEncoding,
                                      NSMacOSRomanStringEncoding, NSShiftJISStringEncoding, NSISO2022KRStringEncoding};

std::string run(std::unique_ptr<InputStream> stream, std::uint8_t flags, char16_t delimiter, TextEncoding encoding)
{
    TextEncoding used = encoding;
    CHCSVParser parser(std::move(stream), flags & 0x80 ? &used : nullptr, delimiter);
    parser.setRecognizesBackslashesAsEscapes(flags & 1);
    parser.setSanitizesFields(flags & 2);
    parser.setRecognizesComments(flags & 4);
    fuzz::EventLog events;
    // ICU's ISO-2022 decoder reports a bad escape sequence split over two reads with other bytes
    // than one read whole, so the offset it gives cannot be compared across read sizes.
    events.omitDecodingOffset = parser.streamEncoding() == NSISO2022KRStringEncoding;
    parser.setDelegate(&events);
    parser.parse();
    // After a failure the reader stops taking bytes, so how many it took depends on the read sizes.
    const std::string taken = parser.error() ? "" : " bytes " + std::to_string(parser.totalBytesRead());
    return events.log + "encoding " + std::to_string(parser.streamEncoding()) + " used " + std::to_string(used) + taken;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t flags = in.take();
    const char16_t delimiter = fuzz::charactersFromBytes(std::string(1, static_cast<char>(in.take())))[0];
    if (!CHCSVParser::acceptsDelimiter(delimiter))
        return 0; // refused by the constructor
    const TextEncoding encoding = encodings[(flags >> 3) % std::size(encodings)];
    const std::string bytes(in.rest());
    std::uint32_t seed = 2166136261u;
    for (char c : bytes)
        seed = (seed ^ static_cast<std::uint8_t>(c)) * 16777619u;

    const std::string whole = run(std::make_unique<MemoryInputStream>(bytes), flags, delimiter, encoding);
    const std::string pieces = run(std::make_unique<ShortReadStream>(bytes, seed), flags, delimiter, encoding);
    if (whole != pieces)
        std::fprintf(stderr, "whole buffer:\n%s\nshort reads:\n%s", whole.c_str(), pieces.c_str());
    FUZZ_CHECK(whole == pieces);
    return 0;
}
