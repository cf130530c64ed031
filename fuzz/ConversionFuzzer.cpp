// Both conversions on random file contents: no exception; a Failed report leaves an existing output
// file as it was; a written property list reads back whole with as many elements as records reported.
// A file found to be UTF-8 (read as bytes) converts as it does with UTF-8 named (read as UTF-16).
#include "FuzzSupport.hpp"

#include "core/convert/FileConverter.hpp"
#include "core/plist/PropertyListReader.hpp"
#include "core/UserDefaults.hpp"

#include <filesystem>

using namespace plistable;

namespace {

struct Counter : PlistReaderDelegate {
    void readerDidReadRootArrayElement(PlistValue&&) override { ++elements; }
    std::size_t elements = 0;
};

const std::string sentinel = "\x01 left in place \x01"; // no conversion writes this

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t flags = in.take();
    const std::string csv = fuzz::scratch::write("x.csv", in.rest());
    const std::string plist = fuzz::scratch::write("x.plist", in.rest());
    std::filesystem::create_directories(fuzz::scratch::path("out"));
    for (const char* name : {"out/x.plist", "out/x.csv"})
        flags & 1 ? (void)fuzz::scratch::write(name, sentinel) : fuzz::scratch::remove(name);

    UserDefaults defaults(fuzz::scratch::path("settings.json"));
    ConversionOptions options;
    options.shape.header = (flags & 2) != 0;
    if (flags & 4)
        options.csvRead.encodingName = flags & 8 ? "Shift_JIS" : "UTF-8";
    FileConverter converter(defaults, options);
    const auto reports = converter.convertDroppedFiles({csv, plist}, fuzz::scratch::path("out"));
    FUZZ_CHECK(reports.size() == 2);
    for (const ConversionReport& report : reports) {
        const std::string output = report.sourcePath == csv ? "out/x.plist" : "out/x.csv";
        const auto written = fuzz::scratch::read(output);
        if (report.status == ConversionReport::Status::Failed) {
            FUZZ_CHECK(report.outputPath.empty() && !report.problems.empty());
            FUZZ_CHECK(flags & 1 ? written == sentinel : !written);
            continue;
        }
        FUZZ_CHECK(report.status != ConversionReport::Status::Skipped);
        FUZZ_CHECK(report.outputPath == fuzz::scratch::path(output) && written && written != sentinel);
        if (report.sourcePath == csv) {
            Counter counter;
            FUZZ_CHECK(PropertyListReader::readBytes(*written, counter).ok());
            FUZZ_CHECK(counter.elements == report.records);
        }
    }
    if (!options.csvRead.encodingName && reports[0].encodingName == "UTF-8") {
        options.csvRead.encodingName = "UTF-8";
        std::filesystem::create_directories(fuzz::scratch::path("named"));
        const ConversionReport named =
            FileConverter(defaults, options).convertDroppedFiles({csv}, fuzz::scratch::path("named")).at(0);
        if (named.status != ConversionReport::Status::Failed) { // a last character cut off fails when named
            FUZZ_CHECK(named.status == reports[0].status && named.problems == reports[0].problems);
            FUZZ_CHECK(named.records == reports[0].records);
            FUZZ_CHECK(fuzz::scratch::read("named/x.plist") == fuzz::scratch::read("out/x.plist"));
        }
        fuzz::scratch::remove("named/x.plist");
    }
    return 0;
}
