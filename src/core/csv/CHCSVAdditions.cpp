#include "core/csv/CHCSVAdditions.hpp"

#include "core/AssertionFailure.hpp"
#include "core/csv/CHCSVAggregator.hpp"
#include "core/csv/CHCSVParser.hpp"
#include "core/csv/CHCSVWriter.hpp"
#include "core/io/MemoryOutputStream.hpp"
#include "core/io/detail/MemoryViewInputStream.hpp"
#include "core/text/detail/Utf8.hpp"

#include <bit>
#include <memory>
#include <string_view>

namespace plistable {
namespace {

std::optional<std::vector<std::vector<Text>>> collect(CHCSVParser& parser, std::uint64_t options, CHCSVError* error)
{
    CHCSVAggregator aggregator;
    parser.setDelegate(&aggregator);
    parser.setRecognizesBackslashesAsEscapes((options & CHCSVAdditionsRecognizesBackslashesAsEscapes) != 0);
    parser.setSanitizesFields((options & CHCSVAdditionsSanitizesFields) != 0);
    parser.setRecognizesComments((options & CHCSVAdditionsRecognizesComments) != 0);
    parser.parse();
    parser.setDelegate(nullptr);
    if (error != nullptr && aggregator.error())
        *error = *aggregator.error();
    return aggregator.takeLines();
}

} // namespace

std::optional<std::vector<std::vector<Text>>> arrayWithContentsOfCSVFile(const std::optional<std::string>& csvFilePath,
                                                                         std::uint64_t options, CHCSVError* error)
{
    if (!csvFilePath)
        failInvalidParameter("csvFilePath");
    CHCSVParser parser(*csvFilePath);
    return collect(parser, options, error);
}

std::optional<std::vector<std::vector<Text>>> CSVComponents(const Text& text)
{
    return CSVComponentsWithOptions(text, 0);
}

std::optional<std::vector<std::vector<Text>>> CSVComponentsWithOptions(const Text& text, std::uint64_t options,
                                                                       CHCSVError* error)
{
    // The parser reads the text's own UTF-16 in place: copying a whole document into a byte
    // string first cost a fifth of the time (and, for a large text, fresh pages every call).
    // The text outlives the parser here, which CHCSVParser(const Text&) cannot assume.
    TextEncoding encoding = std::endian::native == std::endian::little ? NSUTF16LittleEndianStringEncoding
                                                                       : NSUTF16BigEndianStringEncoding;
    const std::string_view bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
    CHCSVParser parser(std::make_unique<detail::MemoryViewInputStream>(bytes), &encoding, u',');
    return collect(parser, options, error);
}

Text CSVString(const PlistValue::Array& rows)
{
    auto stream = std::make_shared<MemoryOutputStream>();
    {
        CHCSVWriter writer(stream, NSUTF8StringEncoding, u',');
        for (const PlistValue& row : rows)
            if (row.isCollection())
                writer.writeLineOfFields(row);
        writer.closeStream();
    }
    // The writer drops what it cannot encode, so its bytes are always well-formed UTF-8.
    Text text;
    detail::appendUtf8AsUtf16(stream->bytes(), text);
    return text;
}

} // namespace plistable
