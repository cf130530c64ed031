// The straight path for old-style tables against the general reader it stands in for: whenever
// OpenStepRowsScanner reads a list to its end, fed in pieces of a size taken from the input, its
// lines must be the general conversion's, byte for byte, with the same record count and key list;
// and convertStraightRows() must take exactly the lists the scanner finishes. Most inputs are built
// from table-like tokens inside a root array, so that the shape is met and just missed often.
#include "FuzzSupport.hpp"

#include "core/UserDefaults.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/OpenStepRowsScanner.hpp"
#include "core/convert/detail/PlistToCsvConversion.hpp"
#include "core/convert/detail/StringRowsConversion.hpp"
#include "core/io/MemoryOutputStream.hpp"

using namespace plistable;
using namespace plistable::detail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t flags = in.take();
    const std::size_t step = in.take() % 32 * 7 + 1;
    std::string text;
    if (flags & 1) {
        text = in.rest(); // raw bytes
    } else {
        static constexpr std::string_view tokens[] = {
            "{", "}", "(", ")", "=", ";", ",", "\"", "'", "\\", " ", "\n\t", "\r\n", "\r", "/*", "*/", "//",
            "a = b;", "\"k\" = \"v\";", "id = 1;", "name = \"x y\";", "{ a = 1; b = 2; }", "(a, b)", "\\n",
            "\\t", "\\\"", "\\\\", "\\U00e9", "\\U", "\\UD83D\\UDE00", "\\101", "\\351", "\\377", "\\0", "\\a",
            "\xC3\xA9", "\xE2\x80\xA8", "\xEF\xBB\xBF", "\xEF\xBF\xBE", "\xF0\x9F\x98\x80", "\xC3", "\x01", "\v",
            "<0a>", "<*I1>", "$_+-/:.", "\"\"", "''", "{}", "()", "\"a,b\"", "\"q\"\"q\""};
        text = flags & 64 ? "\xEF\xBB\xBF(\n" : "(\n";
        for (const char c : in.rest()) {
            const auto b = static_cast<unsigned char>(c);
            if (b >= 0x80)
                text += tokens[b % std::size(tokens)];
            else
                text.push_back(b < 0x20 ? 'a' + static_cast<char>(b % 4) : c);
        }
        if (!(flags & 2))
            text += "\n)\n";
    }
    const bool header = flags & 4;
    CsvWriteDialect dialect;
    dialect.delimiter = flags & 8 ? u'\u00E9' : flags & 16 ? u';' : flags & 128 ? (flags & 64 ? u'.' : u' ') : u',';
    dialect.crlf = flags & 32;

    UserDefaults defaults(fuzz::scratch::path("settings.json"));
    FileConverter general(defaults), straight(defaults), pieces(defaults);
    const std::string path = fuzz::scratch::write("rows.plist", text);
    const std::string expectedPath = fuzz::scratch::path("general.csv");
    fuzz::scratch::remove("general.csv");

    auto stream = std::make_shared<MemoryOutputStream>();
    CHCSVWriter writer(stream, NSUTF8StringEncoding, dialect.delimiter);
    if (dialect.crlf)
        writer.setLineEnd(u"\r\n");
    writer.setBuffersLines(true);
    OpenStepRowsScanner scanner(writer, header, pieces);
    for (std::size_t at = 0; scanner.feed(std::string_view(text).substr(std::min(at, text.size()), step),
                                          at + step >= text.size())
                             == RowsScanner::Status::Reading;)
        at += step;
    writer.closeStream();

    ConversionMonitor monitor;
    fuzz::scratch::remove("straight.csv");
    const auto report = convertStraightRows(path, fuzz::scratch::path("straight.csv"), header, straight, dialect,
                                            monitor, StraightRows::OpenStep);
    FUZZ_CHECK(report.has_value() == (scanner.status() == RowsScanner::Status::Finished));
    if (!report) {
        FUZZ_CHECK(!fuzz::scratch::read("straight.csv"));
        return 0;
    }
    // The general reader only for the lists the scanner takes: the rest go to it anyway.
    const ConversionReport expected = convertPlistToCsv(path, expectedPath, header, general, &text, dialect);
    const auto written = fuzz::scratch::read("general.csv");
    FUZZ_CHECK(expected.status == ConversionReport::Status::Converted && report->status == expected.status);
    FUZZ_CHECK(written && stream->bytes() == *written && fuzz::scratch::read("straight.csv") == written);
    FUZZ_CHECK(report->records == expected.records && scanner.lines() == expected.records);
    FUZZ_CHECK(general.keys() == straight.keys() && general.keys() == pieces.keys());
    return 0;
}
