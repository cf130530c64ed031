// The straight path for tables of strings against the general reader it stands in for: whenever
// StringRowsScanner reads a list to its end, fed in pieces of a size taken from the input, its
// lines must be the general conversion's, byte for byte, with the same record count and key list;
// and convertStringRows() must take exactly the lists the scanner finishes. Most inputs are built
// from table-like tokens inside the usual prolog, so that the shape is met and just missed often.
#include "FuzzSupport.hpp"

#include "core/UserDefaults.hpp"
#include "core/convert/FileConverter.hpp"
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
    std::string xml;
    if (flags & 1) {
        xml = in.rest(); // raw bytes
    } else {
        static constexpr std::string_view tokens[] = {
            "<dict>", "</dict>", "<key>", "</key>", "<string>", "</string>", "<string/>", "<array>", "</array>",
            "\n\t", " ", "&amp;", "&lt;", "&quot;", "&#65;", "\r\n", "]]>", "]", ",", ";", "\"", "\t", "\xC3\xA9",
            "\xE2\x80\xA8", "\xC2\x85", "\xEF\xBF\xBE", "\x01", "<integer>1</integer>", "<!-- c -->", "<key>a</key>",
            "<key>b</key>", "<string>x</string>", "<integer>", "</integer>", "<real>", "</real>", "<true/>",
            "<false/>", "<integer>-0x1F</integer>", "<real>1e400</real>", "<real> -NaN</real>", "0", ".", "e-5", "<date>",
            "</date>", "<date>2001-01-01T00:00:00Z</date>", "-12-31T23:59:59.25Z", "<data>AA==</data>"};
        xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<array>\n";
        for (const char c : in.rest()) {
            const auto b = static_cast<unsigned char>(c);
            if (b >= 0x80)
                xml += tokens[b % std::size(tokens)];
            else
                xml.push_back(b < 0x20 ? 'a' + static_cast<char>(b % 4) : c);
        }
        if (!(flags & 2))
            xml += "\n</array>\n</plist>\n";
    }
    const bool header = flags & 4;
    CsvWriteDialect dialect;
    dialect.delimiter = flags & 8 ? u'\u00E9' : flags & 16 ? u';' : flags & 64 ? u'<' : flags & 128 ? u' ' : u',';
    dialect.crlf = flags & 32;

    UserDefaults defaults(fuzz::scratch::path("settings.json"));
    FileConverter general(defaults), straight(defaults), pieces(defaults);
    const std::string path = fuzz::scratch::write("rows.plist", xml);
    const std::string expectedPath = fuzz::scratch::path("general.csv");
    fuzz::scratch::remove("general.csv");
    const ConversionReport expected = convertPlistToCsv(path, expectedPath, header, general, &xml, dialect);

    auto stream = std::make_shared<MemoryOutputStream>();
    CHCSVWriter writer(stream, NSUTF8StringEncoding, dialect.delimiter);
    if (dialect.crlf)
        writer.setLineEnd(u"\r\n");
    writer.setBuffersLines(true);
    StringRowsScanner scanner(writer, header, pieces);
    for (std::size_t at = 0; scanner.feed(std::string_view(xml).substr(std::min(at, xml.size()), step),
                                          at + step >= xml.size())
                             == StringRowsScanner::Status::Reading;)
        at += step;
    writer.closeStream();

    ConversionMonitor monitor;
    fuzz::scratch::remove("straight.csv");
    const auto report = convertStringRows(path, fuzz::scratch::path("straight.csv"), header, straight, dialect, monitor);
    FUZZ_CHECK(report.has_value() == (scanner.status() == StringRowsScanner::Status::Finished));
    if (!report) {
        FUZZ_CHECK(!fuzz::scratch::read("straight.csv"));
        return 0;
    }
    const auto written = fuzz::scratch::read("general.csv");
    FUZZ_CHECK(expected.status == ConversionReport::Status::Converted && report->status == expected.status);
    FUZZ_CHECK(written && stream->bytes() == *written && fuzz::scratch::read("straight.csv") == written);
    FUZZ_CHECK(report->records == expected.records && scanner.lines() == expected.records);
    FUZZ_CHECK(general.keys() == straight.keys() && general.keys() == pieces.keys());
    return 0;
}
