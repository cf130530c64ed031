#include "core/csv/detail/CHCSVInput.hpp"

#include "core/Log.hpp"
#include "core/text/EncodingDetection.hpp"
#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace plistable::detail {

// How this works
// --------------
// The grammar calls peek(), peekPeek() and advance() several times per character, so those are
// inline and cost one comparison while nothing needs loading. _loadMark is the read position at
// which more text is due: when at most T characters are left ahead (T = 10 below 30 characters
// kept, else a third of them). Crossing it runs loadStep(): one read of at most 512 bytes, then
// decoding of everything that forms whole characters. A peek whose character is still not decoded
// after that (a stream giving a few bytes per read) reads on until it is, so the text the grammar
// sees never depends on how the stream cuts its bytes.
//
// Decoding is streaming: bytes of a character cut off by a read wait (in _bytes, or inside the ICU
// converter) for the read that completes it, and each byte is examined once. Bytes that cannot be
// decoded end the text there and leave a code-3 error; so does a character cut off at the very end.
// A read failure ends the text and leaves a code-4 error. Once _finished nothing is loaded again,
// and _loadMark stays one before the end of the text so that the last characters are peeked
// through the checked path.
//
// Keep the invariant that _next < _loadMark implies _next + 1 < _text.size(): the inline peeks
// index the text without any other check.

namespace {

std::string describeEncoding(TextEncoding encoding)
{
    const std::string_view name = encodingName(encoding);
    return name.empty() ? "encoding " + std::to_string(encoding) : std::string(name);
}

struct Mark {
    std::string_view bytes;
    TextEncoding encoding;
};

// Tested in this order: UTF-32LE's mark begins with UTF-16LE's.
constexpr Mark marks[] = {
    {std::string_view("\x00\x00\xFE\xFF", 4), NSUTF32BigEndianStringEncoding},
    {std::string_view("\xFF\xFE\x00\x00", 4), NSUTF32LittleEndianStringEncoding},
    {std::string_view("\x1B\x24\x29\x43", 4), NSISO2022KRStringEncoding},
    {std::string_view("\xFF\xFE", 2), NSUTF16LittleEndianStringEncoding},
    {std::string_view("\xFE\xFF", 2), NSUTF16BigEndianStringEncoding},
    {std::string_view("\xEF\xBB\xBF", 3), NSUTF8StringEncoding},
};

} // namespace

CHCSVInput::CHCSVInput(std::unique_ptr<InputStream> stream) : _stream(std::move(stream))
{
    _stream->open();
    if (_stream->error()) {
        _openFailed = true;
        failStream();
    }
}

CHCSVInput::~CHCSVInput()
{
    _stream->close();
}

TextEncoding CHCSVInput::sniffEncoding()
{
    // The first 512 bytes decide, however many reads the stream needs to give them.
    while (_byteCount < maxReadLength && !_streamEnded)
        readChunk(maxReadLength - _byteCount);
    if (_byteCount == 0)
        return 0;

    const std::string_view first(_bytes, _byteCount);
    for (const Mark& mark : marks) {
        if (first.substr(0, mark.bytes.size()) != mark.bytes)
            continue;
        const std::size_t length = mark.bytes.size();
        std::memmove(_bytes, _bytes + length, _byteCount - length);
        _byteCount -= length;
        _bytesOffset += length;
        setEncoding(mark.encoding);
        if (_converter && mark.encoding == NSISO2022KRStringEncoding) {
            // The announcer leaves the text, but the stateful decoder still has to see it.
            std::u16string ignored;
            _converter->decodeSome(mark.bytes, false, ignored);
        }
        return _encoding;
    }

    // A character cut off by the 512-byte limit does not make a UTF-8 stream Mac OS Roman when
    // the bytes after the sample complete it; they are read one at a time (the buffer has room
    // for the at most three), and the sample is not UTF-8 when they do not.
    std::size_t valid = validUtf8Length(first);
    const std::size_t sampleSize = first.size();
    while (valid < sampleSize && !_streamEnded && _byteCount < sampleSize + 3
           && isIncompleteUtf8Sequence(std::string_view(_bytes + valid, _byteCount - valid))) {
        readChunk(1);
        valid = validUtf8Length(std::string_view(_bytes, _byteCount));
    }
    // UTF-8 whose last character the end of the input cuts off is still UTF-8: the decoder then
    // reports that character as cut off (code 3) instead of the whole text turning Mac OS Roman.
    const bool cutAtEnd = _streamEnded && cutOffUtf8Length(std::string_view(_bytes, _byteCount)) > 0;
    if (valid >= sampleSize || cutAtEnd) {
        setEncoding(NSUTF8StringEncoding);
    } else {
        log("unable to determine stream encoding; assuming MacOSRoman");
        setEncoding(NSMacOSRomanStringEncoding);
    }
    return _encoding;
}

void CHCSVInput::setEncoding(TextEncoding encoding)
{
    _encoding = encoding;
    _converter.reset();
    _eucJp = EucJpStructure();
    if (encoding == NSUTF8StringEncoding) {
        _decoder = Decoder::Utf8;
    } else if (encoding == NSUTF16LittleEndianStringEncoding) {
        _decoder = Decoder::Utf16LittleEndian;
    } else if (encoding == NSUTF16BigEndianStringEncoding) {
        _decoder = Decoder::Utf16BigEndian;
    } else if (const char* name = icuConverterName(encoding); name != nullptr) {
        _converter = IcuConverter::open(name);
        _decoder = _converter ? Decoder::Icu : Decoder::None;
    } else {
        _decoder = Decoder::None;
    }
}

void CHCSVInput::loadFor(std::size_t index)
{
    loadStep();
    while (index >= _text.size() && !_finished)
        loadStep();
}

void CHCSVInput::loadStep()
{
    if (_finished)
        return;
    compact();
    // Sniffing leaves up to 512 bytes waiting; decode them first so that a whole read fits.
    if (_byteCount > sizeof _bytes - maxReadLength)
        decodeBytes(false);
    if (!_streamEnded && !_error) {
        if (_stream->hasBytesAvailable())
            readChunk(std::min(maxReadLength, sizeof _bytes - _byteCount));
        else
            _streamEnded = true;
    }
    decodeBytes(_streamEnded);
    if (_streamEnded || _error)
        _finished = true;
    updateLoadMark();
}

void CHCSVInput::readChunk(std::size_t maxLength)
{
    const std::ptrdiff_t count = _stream->read(_bytes + _byteCount, maxLength);
    if (count > 0) {
        _byteCount += static_cast<std::size_t>(count);
        _totalBytesRead += static_cast<std::uint64_t>(count);
        return;
    }
    _streamEnded = true;
    if (count < 0)
        failStream();
}

void CHCSVInput::compact()
{
    // Dropped characters stay in place until there are many of them: moving the kept ones to the
    // front at every read cost as much as a tenth of the reading time. Memory stays bounded by
    // compactThreshold plus the kept text plus one read.
    if (_start < compactThreshold)
        return;
    _text.erase(0, _start);
    _next -= _start;
    _dropped += _start;
    _start = 0;
}

void CHCSVInput::decodeBytes(bool flush)
{
    if (_error && _error->code == CHCSVErrorCodeUndecodableBytes)
        return;
    const std::string_view bytes(_bytes, _byteCount);
    std::size_t used = 0;
    switch (_decoder) {
    case Decoder::Utf8: {
        used = appendUtf8PrefixAsUtf16(bytes, _text);
        if (used < bytes.size()) {
            const bool waiting = isIncompleteUtf8Sequence(bytes.substr(used));
            if (flush || !waiting)
                failDecoding(_bytesOffset + used, waiting);
        }
        break;
    }
    case Decoder::Utf16LittleEndian:
    case Decoder::Utf16BigEndian: {
        // Every code unit is taken as it is, lone surrogates included.
        const auto* p = reinterpret_cast<const unsigned char*>(_bytes);
        const std::size_t units = _byteCount / 2;
        const std::size_t at = _text.size();
        _text.resize(at + units);
        const bool little = _decoder == Decoder::Utf16LittleEndian;
        if (little == (std::endian::native == std::endian::little)) {
            std::memcpy(_text.data() + at, p, units * 2);
        } else {
            for (std::size_t i = 0; i < units; ++i)
                _text[at + i] = little ? static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8))
                                       : static_cast<char16_t>((p[2 * i] << 8) | p[2 * i + 1]);
        }
        used = units * 2;
        if (flush && used < _byteCount)
            failDecoding(_bytesOffset + used, true);
        break;
    }
    case Decoder::Icu: {
        // The converter keeps the bytes of a cut-off character itself, so every byte is used.
        // For EUC-JP it is given only the bytes before a sequence the encoding never holds.
        std::optional<std::uint64_t> malformed;
        if (_encoding == NSJapaneseEUCStringEncoding)
            malformed = _eucJp.findMalformed(bytes, _bytesOffset);
        const std::string_view taken =
            malformed ? bytes.substr(0, *malformed > _bytesOffset ? *malformed - _bytesOffset : 0) : bytes;
        const IcuConverter::Chunk chunk = _converter->decodeSome(taken, flush && !malformed, _text);
        used = bytes.size();
        if (chunk.failed) {
            const std::uint64_t end = _bytesOffset + chunk.consumed;
            const std::uint64_t length = std::min<std::uint64_t>(chunk.invalidLength, end);
            failDecoding(end - length, flush && chunk.consumed == bytes.size());
        } else if (malformed) {
            failDecoding(*malformed, false);
        }
        break;
    }
    case Decoder::None:
        if (!bytes.empty() && !_error) {
            _error = CHCSVError{std::string(CHCSVErrorDomain), CHCSVErrorCodeUndecodableBytes,
                                "Cannot decode the input: " + describeEncoding(_encoding) + " is not supported",
                                0, _bytesOffset};
        }
        break;
    }
    std::memmove(_bytes, _bytes + used, _byteCount - used);
    _byteCount -= used;
    _bytesOffset += used;
}

void CHCSVInput::failDecoding(std::uint64_t offset, bool cutOff)
{
    if (_error) // a failed read explains a cut-off character better
        return;
    std::string message = "Cannot decode the input as " + describeEncoding(_encoding) + ": ";
    message += cutOff ? "the character at byte offset " + std::to_string(offset) + " is cut off by the end of the input"
                      : "invalid bytes at byte offset " + std::to_string(offset);
    _error = CHCSVError{std::string(CHCSVErrorDomain), CHCSVErrorCodeUndecodableBytes, std::move(message), 0, offset};
}

void CHCSVInput::failStream()
{
    if (_error)
        return;
    _streamEnded = true;
    _finished = true;
    updateLoadMark();
    _error = CHCSVError{std::string(CHCSVErrorDomain), CHCSVErrorCodeStreamFailed,
                        "cannot read " + _stream->name() + ": " + _stream->error().message(), 0, 0};
}

} // namespace plistable::detail
