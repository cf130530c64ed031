#include "core/plist/PropertyListReader.hpp"

#include "core/io/detail/FileDescriptor.hpp"
#include "core/plist/detail/BinaryPropertyList.hpp"
#include "core/plist/detail/OpenStepPropertyListReader.hpp"
#include "core/plist/detail/PlistSelection.hpp"
#include "core/plist/detail/PlistXmlEvents.hpp"
#include "core/plist/detail/XmlPropertyListReader.hpp"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace plistable {
namespace {

using Status = PropertyListReadResult::Status;

constexpr std::size_t chunkSize = 64 * 1024;
// In-memory XML goes to the tokenizer in pieces of this size (it reads each in place).
constexpr std::size_t tokenizerPieceSize = 1024 * 1024;
constexpr std::string_view binaryMagic = "bplist";

enum class Syntax { Binary, Xml, OpenStep, Undecided };

// The syntax of a list that begins with `head`: "bplist" is binary; '<' after an optional
// byte-order mark and white space is XML (zero bytes are passed over, so UTF-16 XML is XML too);
// nothing but those so far is undecided (and XML at the end of the input, which then fails as
// it always has); anything else is old-style text.
Syntax syntaxOf(std::string_view head)
{
    if (head.substr(0, binaryMagic.size()) == binaryMagic)
        return Syntax::Binary;
    if (binaryMagic.substr(0, head.size()) == head && !head.empty())
        return Syntax::Undecided;
    std::string_view rest = head;
    for (std::string_view mark : {std::string_view("\xEF\xBB\xBF"), std::string_view("\xFF\xFE"), std::string_view("\xFE\xFF")})
        if (rest.substr(0, mark.size()) == mark) {
            rest.remove_prefix(mark.size());
            break;
        }
    for (char c : rest) {
        if (c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        return c == '<' ? Syntax::Xml : Syntax::OpenStep;
    }
    return Syntax::Undecided;
}

// Elements of a binary list converted between two calls of the monitor.
constexpr std::uint64_t binaryElementsPerCheck = 4096;

PropertyListReadResult stopped(std::uint64_t byteOffset, bool binary)
{
    PropertyListReadResult result;
    result.status = Status::Stopped;
    result.message = "stopped on request";
    result.byteOffset = byteOffset;
    result.binary = binary;
    return result;
}

bool goOn(const PropertyListReadMonitor& monitor, std::uint64_t bytesRead, std::uint64_t totalBytes)
{
    return !monitor.pieceRead || monitor.pieceRead(bytesRead, totalBytes);
}

// An old-style text is parsed a piece at a time as it is read; between pieces, the monitor is
// asked and its stop flag read.
constexpr std::size_t openStepPieceSize = chunkSize;

bool goOnWithOpenStep(const PropertyListReadMonitor& monitor, std::uint64_t bytesRead, std::uint64_t totalBytes)
{
    return !(monitor.stop && monitor.stop->load()) && goOn(monitor, bytesRead, totalBytes);
}

PropertyListReadResult readOpenStepBytes(std::string_view bytes, PlistReaderDelegate& delegate,
                                         const PropertyListReadMonitor& monitor, const PlistPointer* selection)
{
    const std::uint64_t total = bytes.size();
    std::uint64_t given = 0;
    auto pieces = [&](std::string_view& piece) {
        if (given > 0 && given < total && !goOnWithOpenStep(monitor, given, total))
            return false;
        piece = bytes.substr(given, openStepPieceSize);
        given += piece.size();
        return true;
    };
    if (auto result = detail::readOpenStep(pieces, delegate, selection))
        return std::move(*result);
    return stopped(given, false);
}

// A binary list is read whole: its offset table sits at the end and objects refer to each
// other anywhere in the file.
PropertyListReadResult readBinary(std::string_view bytes, PlistReaderDelegate& delegate,
                                  const PropertyListReadMonitor& monitor, const PlistPointer* selection)
{
    PropertyListReadResult result;
    result.binary = true;
    delegate.parserDidStartDocument();
    detail::BinaryPlistProblem problem;
    auto list = detail::BinaryPropertyList::open(bytes, problem);
    if (!list) {
        result.status = problem.status;
        result.message = std::move(problem.message);
        result.byteOffset = problem.byteOffset;
        return result;
    }
    list->reportRepeatedKeys(delegate);
    if (selection) {
        PlistValue root = list->root();
        std::string why;
        PlistValue* selected = detail::findSelected(root, *selection, 0, why);
        if (!selected) {
            result.status = Status::NoSelectedValue;
            result.message = detail::noValueMessage(*selection, why);
            return result;
        }
        detail::handOverTable(std::move(*selected), delegate, result, true);
        delegate.parserDidEndDocument();
        return result;
    }
    // The events of the XML form: <plist>, the root value, </plist>.
    delegate.parserDidStartElement(u"plist");
    result.rootKind = list->rootIsArray() ? PlistValue::Kind::Array : PlistValue::Kind::String;
    if (list->rootIsArray()) {
        delegate.parserDidStartElement(u"array");
        for (std::uint64_t i = 0; i < list->rootArrayCount(); ++i) {
            // Elements stand in for bytes here: the list is in memory, converting it is the work.
            if (i % binaryElementsPerCheck == binaryElementsPerCheck - 1) {
                const double share = static_cast<double>(i) / static_cast<double>(list->rootArrayCount());
                if (!goOn(monitor, static_cast<std::uint64_t>(share * static_cast<double>(bytes.size())), bytes.size()))
                    return stopped(bytes.size(), true);
            }
            PlistValue element = list->rootArrayElement(i);
            detail::reportXmlEvents(element, delegate);
            delegate.readerDidReadRootArrayElement(std::move(element));
        }
        delegate.parserDidEndElement(u"array");
    } else if (PlistValue root = list->root(); (result.rootKind = root.kind()), root.isDictionary()) {
        // The events of <dict>, each entry's after its key's, then the entry itself.
        result.rootIsDictionary = true;
        delegate.parserDidStartElement(u"dict");
        for (auto& [key, value] : root.dictionary()) {
            delegate.parserDidStartElement(u"key");
            if (!key.empty())
                delegate.parserFoundCharacters(key);
            delegate.parserDidEndElement(u"key");
            detail::reportXmlEvents(value, delegate);
            delegate.readerDidReadRootDictionaryEntry(std::move(key), std::move(value));
        }
        delegate.parserDidEndElement(u"dict");
        result.status = Status::RootNotArray;
        result.message = "the root value is not an array";
    } else {
        detail::reportXmlEvents(root, delegate);
        result.status = Status::RootNotArray;
        result.message = "the root value is not an array";
    }
    delegate.parserDidEndElement(u"plist");
    delegate.parserDidEndDocument();
    return result;
}

PropertyListReadResult unreadable(int error, std::uint64_t byteOffset)
{
    PropertyListReadResult result;
    result.status = Status::Unreadable;
    result.message = std::generic_category().message(error);
    result.byteOffset = byteOffset;
    return result;
}

} // namespace

PropertyListReadResult PropertyListReader::readBytes(std::string_view bytes, PlistReaderDelegate& delegate,
                                                     const PropertyListReadMonitor& monitor,
                                                     const PlistPointer* selection)
{
    const Syntax syntax = syntaxOf(bytes);
    if (syntax == Syntax::Binary)
        return readBinary(bytes, delegate, monitor, selection);
    if (syntax == Syntax::OpenStep)
        return readOpenStepBytes(bytes, delegate, monitor, selection);
    const std::uint64_t total = bytes.size();
    detail::XmlPropertyListReader reader(delegate);
    if (selection)
        reader.select(*selection);
    reader.begin();
    // The tokenizer reads the bytes in place; what it does not read goes to expat from the start.
    // It takes them a piece at a time, so that a stop is heard between pieces.
    reader.useTokenizer();
    for (std::string_view rest = bytes;;) {
        const std::string_view piece = rest.substr(0, tokenizerPieceSize);
        rest.remove_prefix(piece.size());
        if (!reader.feed(piece, rest.empty()) || rest.empty())
            break;
        if (!goOn(monitor, total - rest.size(), total))
            return stopped(total - rest.size(), false);
    }
    if (!reader.needsRestart())
        return reader.result();
    reader.restart();
    // In file-sized pieces: expat copies what it is given into its own buffer, and a buffer the
    // size of the whole input costs more (page faults, cache misses) than the parsing saves.
    do {
        const std::string_view piece = bytes.substr(0, chunkSize);
        bytes.remove_prefix(piece.size());
        if (!reader.feed(piece, bytes.empty()))
            break;
        if (!goOn(monitor, total - bytes.size(), total))
            return stopped(total - bytes.size(), false);
    } while (!bytes.empty());
    return reader.result();
}

PropertyListReadResult PropertyListReader::readFile(const std::string& path, PlistReaderDelegate& delegate,
                                                    const PropertyListReadMonitor& monitor,
                                                    const PlistPointer* selection)
{
    const detail::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return unreadable(errno, 0);
    if (const std::error_code refused = detail::checkReadableKind(file.get())) {
        PropertyListReadResult result = unreadable(0, 0);
        result.message = refused.message();
        return result;
    }
    struct stat info {};
    const std::uint64_t size =
        ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    // A read ends in a stop when the monitor's flag was set by the signal that interrupted it.
    auto failedRead = [&](std::uint64_t at, bool binary) {
        return errno == ECANCELED ? stopped(at, binary) : unreadable(errno, at);
    };

    // Enough of the start to tell the syntax.
    std::string head(chunkSize, '\0');
    std::size_t headSize = 0;
    bool atEnd = false;
    while (headSize < head.size() && !atEnd && syntaxOf(std::string_view(head).substr(0, headSize)) == Syntax::Undecided) {
        const ssize_t n = detail::readSome(file.get(), head.data() + headSize, head.size() - headSize, monitor.stop);
        if (n < 0)
            return failedRead(headSize, false);
        headSize += static_cast<std::size_t>(n);
        atEnd = n == 0;
    }
    head.resize(headSize);

    const Syntax syntax = syntaxOf(head);
    if (syntax == Syntax::OpenStep) {
        // Read, decoded and parsed a piece at a time: the head first, then the rest of the file.
        std::optional<PropertyListReadResult> failure;
        std::string buffer;
        std::uint64_t total = 0;
        bool headGiven = false;
        auto pieces = [&](std::string_view& piece) {
            if (!headGiven) {
                headGiven = true;
                piece = head;
                total = head.size();
                return true;
            }
            if (atEnd) {
                piece = {};
                return true;
            }
            if (!goOnWithOpenStep(monitor, total, size)) {
                failure = stopped(total, false);
                return false;
            }
            buffer.resize(openStepPieceSize);
            const ssize_t n = detail::readSome(file.get(), buffer.data(), buffer.size(), monitor.stop);
            if (n < 0) {
                failure = failedRead(total, false);
                return false;
            }
            atEnd = n == 0;
            total += static_cast<std::uint64_t>(n);
            piece = std::string_view(buffer.data(), static_cast<std::size_t>(n));
            return true;
        };
        if (auto result = detail::readOpenStep(pieces, delegate, selection))
            return std::move(*result);
        return std::move(*failure);
    }
    if (syntax == Syntax::Binary) {
        // Read whole: a binary list refers anywhere.
        std::string bytes = std::move(head);
        while (!atEnd) {
            const std::size_t used = bytes.size();
            bytes.resize(used + chunkSize);
            const ssize_t n = detail::readSome(file.get(), bytes.data() + used, chunkSize, monitor.stop);
            if (n < 0)
                return failedRead(used, true);
            bytes.resize(used + static_cast<std::size_t>(n));
            atEnd = n == 0;
            if (!goOn(monitor, bytes.size(), size))
                return stopped(bytes.size(), true);
        }
        return readBinary(bytes, delegate, monitor, selection);
    }

    detail::XmlPropertyListReader reader(delegate);
    if (selection)
        reader.select(*selection);
    reader.begin();
    std::uint64_t total = headSize;
    // The tokenizer first, where the file can be read again from its start should it hand the
    // document over to expat (a pipe cannot).
    struct stat status {};
    if (::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode)) {
        reader.useTokenizer();
        bool more = reader.feed(head, atEnd) && !atEnd;
        while (more) {
            char* buffer = static_cast<char*>(reader.buffer(chunkSize));
            const ssize_t n = detail::readSome(file.get(), buffer, chunkSize, monitor.stop);
            if (n < 0)
                return failedRead(total, false);
            total += static_cast<std::uint64_t>(n);
            more = reader.feedBuffer(static_cast<std::size_t>(n), n == 0) && n != 0;
            if (more && !goOn(monitor, total, size))
                return stopped(total, false);
        }
        if (!reader.needsRestart())
            return reader.result();
        reader.restart();
        if (::lseek(file.get(), 0, SEEK_SET) != 0)
            return unreadable(errno, 0);
        head.clear();
        atEnd = false;
        total = 0;
    }
    if (!reader.feed(head, atEnd) || atEnd)
        return reader.result();
    if (!goOn(monitor, total, size))
        return stopped(total, false);
    while (true) {
        void* buffer = reader.buffer(chunkSize);
        if (!buffer) {
            PropertyListReadResult result;
            result.status = Status::Unreadable;
            result.message = "out of memory";
            result.byteOffset = total;
            return result;
        }
        const ssize_t n = detail::readSome(file.get(), buffer, chunkSize, monitor.stop);
        if (n < 0)
            return failedRead(total, false);
        total += static_cast<std::uint64_t>(n);
        if (!reader.feedBuffer(static_cast<std::size_t>(n), n == 0) || n == 0)
            return reader.result();
        if (!goOn(monitor, total, size))
            return stopped(total, false);
    }
}

} // namespace plistable
