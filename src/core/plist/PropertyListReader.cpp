#include "core/plist/PropertyListReader.hpp"

#include "core/io/detail/FileDescriptor.hpp"
#include "core/plist/detail/BinaryPropertyList.hpp"
#include "core/plist/detail/PlistXmlEvents.hpp"
#include "core/plist/detail/XmlPropertyListReader.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace plistable {
namespace {

using Status = PropertyListReadResult::Status;

constexpr std::size_t chunkSize = 64 * 1024;
constexpr std::string_view binaryMagic = "bplist";

bool looksBinary(std::string_view bytes)
{
    return bytes.substr(0, binaryMagic.size()) == binaryMagic;
}

// A binary list is read whole: its offset table sits at the end and objects refer to each
// other anywhere in the file.
PropertyListReadResult readBinary(std::string_view bytes, PlistReaderDelegate& delegate)
{
    PropertyListReadResult result;
    result.binary = true;
    delegate.parserDidStartDocument();
    detail::BinaryPlistProblem problem;
    const auto list = detail::BinaryPropertyList::open(bytes, problem);
    if (!list) {
        result.status = problem.status;
        result.message = std::move(problem.message);
        result.byteOffset = problem.byteOffset;
        return result;
    }
    // The events of the XML form: <plist>, the root value, </plist>.
    delegate.parserDidStartElement(u"plist");
    if (list->rootIsArray()) {
        delegate.parserDidStartElement(u"array");
        for (std::uint64_t i = 0; i < list->rootArrayCount(); ++i) {
            PlistValue element = list->rootArrayElement(i);
            detail::reportXmlEvents(element, delegate);
            delegate.readerDidReadRootArrayElement(std::move(element));
        }
        delegate.parserDidEndElement(u"array");
    } else {
        detail::reportXmlEvents(list->root(), delegate);
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

PropertyListReadResult PropertyListReader::readBytes(std::string_view bytes, PlistReaderDelegate& delegate)
{
    if (looksBinary(bytes))
        return readBinary(bytes, delegate);
    detail::XmlPropertyListReader reader(delegate);
    reader.begin();
    // The tokenizer reads the bytes in place; what it does not read goes to expat from the start.
    reader.useTokenizer();
    reader.feed(bytes, true);
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
    } while (!bytes.empty());
    return reader.result();
}

PropertyListReadResult PropertyListReader::readFile(const std::string& path, PlistReaderDelegate& delegate)
{
    const detail::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return unreadable(errno, 0);

    // Enough of the start to tell a binary list from XML.
    std::string head(chunkSize, '\0');
    std::size_t headSize = 0;
    bool atEnd = false;
    while (headSize < binaryMagic.size() && !atEnd) {
        const ssize_t n = detail::readSome(file.get(), head.data() + headSize, head.size() - headSize);
        if (n < 0)
            return unreadable(errno, headSize);
        headSize += static_cast<std::size_t>(n);
        atEnd = n == 0;
    }
    head.resize(headSize);

    if (looksBinary(head)) {
        std::string bytes = std::move(head);
        while (!atEnd) {
            const std::size_t used = bytes.size();
            bytes.resize(used + chunkSize);
            const ssize_t n = detail::readSome(file.get(), bytes.data() + used, chunkSize);
            if (n < 0)
                return unreadable(errno, used);
            bytes.resize(used + static_cast<std::size_t>(n));
            atEnd = n == 0;
        }
        return readBinary(bytes, delegate);
    }

    detail::XmlPropertyListReader reader(delegate);
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
            const ssize_t n = detail::readSome(file.get(), buffer, chunkSize);
            if (n < 0)
                return unreadable(errno, total);
            total += static_cast<std::uint64_t>(n);
            more = reader.feedBuffer(static_cast<std::size_t>(n), n == 0) && n != 0;
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
    while (true) {
        void* buffer = reader.buffer(chunkSize);
        if (!buffer) {
            PropertyListReadResult result;
            result.status = Status::Unreadable;
            result.message = "out of memory";
            result.byteOffset = total;
            return result;
        }
        const ssize_t n = detail::readSome(file.get(), buffer, chunkSize);
        if (n < 0)
            return unreadable(errno, total);
        total += static_cast<std::uint64_t>(n);
        if (!reader.feedBuffer(static_cast<std::size_t>(n), n == 0) || n == 0)
            return reader.result();
    }
}

} // namespace plistable
