#pragma once

#include "core/csv/CHCSVError.hpp"
#include "core/io/InputStream.hpp"
#include "core/text/TextEncoding.hpp"
#include "core/text/detail/EucJpStructure.hpp"
#include "core/text/detail/IcuConverter.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace plistable::detail {

/// The input layer of CHCSVParser: reads its stream in chunks of at most 512 bytes, finds the
/// encoding, decodes the bytes into a short look-ahead of UTF-16 characters and offers them one at a
/// time. It knows nothing of CSV; the grammar asks for characters and drops what it has used.
class CHCSVInput {
public:
    /// What peek() and peekPeek() return where the text ends (U+0000 is an ordinary character).
    static constexpr int endOfInput = -1;
    /// The most bytes one read asks for.
    static constexpr std::size_t maxReadLength = 512;

    /// Takes the stream and opens it; a failure to open is kept as a code-4 error().
    explicit CHCSVInput(std::unique_ptr<InputStream> stream);
    /// Closes the stream.
    ~CHCSVInput();
    CHCSVInput(const CHCSVInput&) = delete;
    CHCSVInput& operator=(const CHCSVInput&) = delete;

    /// Reads the first 512 bytes (fewer when the stream is shorter), removes a byte-order mark and
    /// chooses the encoding from it, else UTF-8 when the bytes are UTF-8, else Mac OS Roman (with a
    /// log line). Returns the encoding, 0 for an empty or unreadable stream.
    TextEncoding sniffEncoding();

    /// Decodes every byte with `encoding`; nothing is read or removed now.
    void setEncoding(TextEncoding encoding);

    /// The encoding in use; 0 while none is known.
    TextEncoding encoding() const { return _encoding; }

    /// The character at the read position, or endOfInput.
    int peek()
    {
        // Below the load mark the next two characters are decoded (see updateLoadMark()).
        if (_next < _loadMark) [[likely]]
            return _text[_next];
        loadFor(_next);
        return _next < _text.size() ? _text[_next] : endOfInput;
    }

    /// The character after the one at the read position, or endOfInput.
    int peekPeek()
    {
        if (_next < _loadMark) [[likely]]
            return _text[_next + 1];
        loadFor(_next + 1);
        return _next + 1 < _text.size() ? _text[_next + 1] : endOfInput;
    }

    /// Moves the read position one character on; past the end both peeks keep giving endOfInput.
    void advance()
    {
        if (_next >= _loadMark) [[unlikely]]
            loadStep();
        ++_next;
    }

    /// The characters from the read position on that can be examined without loading (possibly
    /// none): a grammar may scan them directly and skip() over the ones it takes.
    std::u16string_view run() const
    {
        const std::size_t end = _loadMark < _text.size() ? _loadMark : _text.size();
        return _next < end ? std::u16string_view(_text.data() + _next, end - _next) : std::u16string_view();
    }

    /// Moves the read position over `count` characters of run().
    void skip(std::size_t count) { _next += count; }

    /// The characters from `begin` (a position() taken since the last dropConsumed()) up to the
    /// read position.
    std::u16string_view textFrom(std::uint64_t begin) const
    {
        const std::size_t from = static_cast<std::size_t>(begin - _dropped);
        const std::size_t end = _next < _text.size() ? _next : _text.size();
        return std::u16string_view(_text.data() + from, end - from);
    }

    /// Forgets every character before the read position. The look-ahead threshold is left as it
    /// was (a larger kept text gave it): that can only make the next load come earlier.
    void dropConsumed() { _start = _next < _text.size() ? _next : _text.size(); }

    /// UTF-16 units from the start of the text to the read position.
    std::uint64_t position() const { return _dropped + _next; }

    /// Bytes taken from the stream so far (a byte-order mark and undecoded bytes included).
    std::uint64_t totalBytesRead() const { return _totalBytesRead; }
    /// Replaces the count; later reads add to the new value.
    void setTotalBytesRead(std::uint64_t count) { _totalBytesRead = count; }

    /// The failure that ended the text early: code 3 (bytes that cannot be decoded, or a character
    /// cut off at the end) or code 4 (the stream could not be opened or read); line is left 0.
    const std::optional<CHCSVError>& error() const { return _error; }

    /// True when the stream could not be opened: there is no text at all.
    bool openFailed() const { return _openFailed; }

private:
    enum class Decoder { None, Utf8, Utf16LittleEndian, Utf16BigEndian, Icu };

    // Dropped characters are removed from the front of _text once there are this many.
    static constexpr std::size_t compactThreshold = 16384;

    void loadFor(std::size_t index);
    void loadStep();
    void readChunk(std::size_t maxLength);
    void decodeBytes(bool flush);
    void updateLoadMark()
    {
        if (_finished) {
            // Nothing is loaded again; the mark only keeps the peeks' fast path within the text.
            _loadMark = _text.empty() ? 0 : _text.size() - 1;
            return;
        }
        const std::size_t kept = _text.size() - _start;
        const std::size_t threshold = kept < 30 ? 10 : kept / 3;
        _loadMark = _text.size() > threshold ? _text.size() - threshold : 0;
    }
    void compact();
    void failDecoding(std::uint64_t offset, bool cutOff);
    void failStream();

    std::unique_ptr<InputStream> _stream;
    TextEncoding _encoding = 0;
    Decoder _decoder = Decoder::None;
    std::optional<IcuConverter> _converter;
    // EUC-JP's byte structure, followed across reads: ICU's converter takes bytes that EUC-JP text
    // never holds.
    EucJpStructure _eucJp;

    // Bytes read but not yet decoded; at most a cut-off character waits here between reads.
    char _bytes[maxReadLength + 8];
    std::size_t _byteCount = 0;
    std::uint64_t _bytesOffset = 0; // stream offset of _bytes[0]

    // Decoded characters: [_start, size) is still wanted, _next is the read position.
    std::u16string _text;
    std::size_t _start = 0;
    std::size_t _next = 0;
    std::size_t _loadMark = 0; // loading is due once _next reaches this
    std::uint64_t _dropped = 0; // characters removed from the front of _text

    std::uint64_t _totalBytesRead = 0;
    bool _streamEnded = false; // no read will be made again
    bool _finished = false;    // every character there will be is in _text
    bool _openFailed = false;
    std::optional<CHCSVError> _error;
};

} // namespace plistable::detail
