#include "core/CHCSVAdditions.hpp"

#include "core/CHCSVWriter.hpp"
#include "core/MemoryOutputStream.hpp"
#include "core/detail/Utf8.hpp"

#include <memory>

namespace plistable {

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
