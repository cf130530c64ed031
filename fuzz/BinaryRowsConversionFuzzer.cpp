// The straight path for binary tables against the general reader it stands in for: whenever
// convertBinaryRows() takes a list, its lines, report, record count and key list must be the
// general conversion's, byte for byte. Most inputs are built as a root array of rows over a pool
// of scalars (strings with characters the writer quotes or cannot encode, numbers, dates, and
// types it refuses), then perhaps one byte changed, so that the shape is met and just missed often.
// The file is read in blocks of a size the input may choose as small as one byte, so that every
// object, length and reference list straddles blocks and the cache evicts what it goes back to;
// the same conversion from the bytes in memory must agree.
#include "FuzzSupport.hpp"

#include "core/UserDefaults.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/BinaryRowsConversion.hpp"
#include "core/convert/detail/PlistToCsvConversion.hpp"

using namespace plistable;
using namespace plistable::detail;

namespace {

// One scalar object chosen by the input: its marker and contents.
std::string scalar(fuzz::ByteReader& in)
{
    static constexpr std::string_view pieces[] = {"a", ",", "\"", "\n", "\r", "\xC3\xA9", "\xFF", ";", "\xE6\x9D\xB1"};
    static constexpr char16_t units[] = {u'A', u'\u00E9', 0xD800, 0xDC00, u'\u6771', u'\n', u'"', u','};
    static constexpr std::string_view dates[] = {std::string_view("\0\0\0\0\0\0\0\0", 8), "\xC1\xCD\xCD\x65\0\0\0\0",
                                                 "\x7E\x37\xE4\x3C\x88\x00\x75\x9C", "\x7F\xF8\0\0\0\0\0\0"};
    std::string object;
    const std::uint8_t op = in.take();
    switch (op % 8) {
    case 0:
        for (int n = op / 8 % 4; n > 0; --n)
            object += pieces[in.take() % std::size(pieces)];
        return static_cast<char>(0x50 | std::min<std::size_t>(object.size(), 14)) + object.substr(0, 14);
    case 1:
        object.push_back(static_cast<char>(0x60 | op / 8 % 4));
        for (int n = op / 8 % 4; n > 0; --n) {
            const char16_t unit = units[in.take() % std::size(units)];
            object += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
        }
        return object;
    case 2: object.push_back(static_cast<char>(0x10 | op / 8 % 5)); break;
    case 3: object.push_back(op & 8 ? '\x22' : '\x23'); break;
    case 4: return "\x33" + std::string(dates[op / 8 % std::size(dates)]);
    case 5: return std::string(1, "\x08\x09\x00\x41"[op / 8 % 4]) + 'x';
    default: object.push_back(static_cast<char>(in.take())); break; // any marker
    }
    const std::size_t size = std::size_t{1} << (object[0] & 0x07);
    for (std::size_t i = 0; i < size; ++i)
        object.push_back(static_cast<char>(in.take()));
    return object;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t flags = in.take();
    const std::size_t blockSize = flags & 128 ? 1 + in.take() % 64 : BlockReader::defaultBlockSize;
    std::string bytes;
    if (flags & 1) {
        bytes = in.rest();
    } else {
        // Objects: the root, its rows, then a pool of scalars; offsets of two bytes, references of one.
        const std::size_t rows = in.take() % 6, width = in.take() % 4, pool = in.take() % 8 + 1;
        const char rowMarker = flags & 2 ? '\xA0' : '\xD0';
        std::vector<std::string> objects{std::string(1, static_cast<char>(0xA0 | rows))};
        for (std::size_t r = 0; r < rows; ++r) {
            objects[0].push_back(static_cast<char>(in.take() % 16 < 14 ? 1 + r : in.take()));
            std::string row(1, static_cast<char>(rowMarker | width));
            for (std::size_t k = 0; rowMarker == '\xD0' && k < width; ++k) // keys: pool entries 0, 1, ...
                row.push_back(static_cast<char>(1 + rows + (in.take() % 16 < 14 ? k : in.take() % pool)));
            for (std::size_t k = 0; k < width; ++k)
                row.push_back(static_cast<char>(1 + rows + in.take() % pool));
            objects.push_back(row);
        }
        // The first pool entries are the keys "a", "b", "a" (a repeat), "d" unless the flag asks for scalars.
        for (std::size_t i = 0; i < pool; ++i)
            objects.push_back(i < width && rowMarker == '\xD0' && !(flags & 4) ? "\x51" + std::string(1, 'a' + i % 2 * i) : scalar(in));
        bytes = "bplist00";
        std::string table;
        for (const std::string& object : objects) {
            table += {static_cast<char>(bytes.size() >> 8), static_cast<char>(bytes.size() & 0xFF)};
            bytes += object;
        }
        const std::size_t tableAt = bytes.size();
        bytes += table + std::string(6, '\0') + "\x02\x01" + std::string(7, '\0') + static_cast<char>(objects.size())
                 + std::string(14, '\0') + static_cast<char>(tableAt >> 8) + static_cast<char>(tableAt & 0xFF);
        if (flags & 8) {
            const std::size_t at = in.take() * 256u + in.take();
            bytes[at % bytes.size()] = static_cast<char>(in.take());
        }
    }
    const bool header = flags & 16;
    CsvWriteDialect dialect;
    dialect.delimiter = flags & 32 ? u';' : u',';
    dialect.crlf = flags & 64;

    UserDefaults defaults(fuzz::scratch::path("settings.json"));
    FileConverter general(defaults), straight(defaults);
    const std::string path = fuzz::scratch::write("rows.plist", bytes);
    fuzz::scratch::remove("general.csv");
    fuzz::scratch::remove("straight.csv");
    const ConversionReport expected =
        convertPlistToCsv(path, fuzz::scratch::path("general.csv"), header, general, &bytes, dialect);
    ConversionMonitor monitor;
    const auto report = convertBinaryRows(path, fuzz::scratch::path("straight.csv"), header, straight, dialect,
                                          monitor, blockSize, BlockReader::laneCount + 1 + flags % 4);
    FileConverter memory(defaults);
    BlockReader inMemory(bytes);
    std::optional<CHCSVWriter> writer(std::in_place, fuzz::scratch::path("memory.csv"));
    const auto status = BinaryRowsConversion(inMemory, *writer, header, memory).run();
    writer.reset();
    FUZZ_CHECK((status == BinaryRowsConversion::Status::Finished) == report.has_value());
    if (!report) {
        FUZZ_CHECK(!fuzz::scratch::read("straight.csv"));
        return 0;
    }
    if (dialect.delimiter == u',' && !dialect.crlf)
        FUZZ_CHECK(fuzz::scratch::read("memory.csv") == fuzz::scratch::read("straight.csv"));
    FUZZ_CHECK(report->status == expected.status && report->problems == expected.problems);
    FUZZ_CHECK(report->records == expected.records);
    FUZZ_CHECK(fuzz::scratch::read("straight.csv") == fuzz::scratch::read("general.csv"));
    FUZZ_CHECK(general.keys() == straight.keys());
    return 0;
}
