#include "core/io/TranscodingOutputStream.hpp"

#include "core/io/MemoryOutputStream.hpp"
#include "support/TestSupport.hpp"

using namespace plistable;
using plistable::test::hex;

namespace {

std::shared_ptr<TranscodingOutputStream> over(const std::shared_ptr<MemoryOutputStream>& memory, const char* encoding)
{
    std::optional<TextEncoder> encoder = TextEncoder::open(encoding);
    EXPECT_TRUE(encoder);
    auto stream = std::make_shared<TranscodingOutputStream>(memory, std::move(*encoder));
    stream->open();
    return stream;
}

// The bytes of a character may arrive in two writes; they are encoded once whole.
TEST(TranscodingOutputStreamTest, ReencodesUtf8EvenWhenACharacterIsSplitBetweenWrites)
{
    auto memory = std::make_shared<MemoryOutputStream>();
    auto stream = over(memory, "cp932");
    const std::string text = "a,\xE6\x97\xA5\xE6\x9C\xAC\n"; // a,日本
    for (const std::size_t cut : {std::size_t{3}, std::size_t{4}, std::size_t{6}}) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(stream->write(text.data(), cut), static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(stream->write(text.data() + cut, text.size() - cut), static_cast<std::ptrdiff_t>(text.size() - cut));
    }
    stream->close();
    EXPECT_FALSE(stream->error());
    EXPECT_EQ(hex(memory->bytes()), hex(std::string("a,\x93\xFA\x96\x7B\n").append("a,\x93\xFA\x96\x7B\n").append(
                                        "a,\x93\xFA\x96\x7B\n")));
}

TEST(TranscodingOutputStreamTest, ACharacterItCannotHoldFailsTheStreamNamingItsLine)
{
    auto memory = std::make_shared<MemoryOutputStream>();
    auto stream = over(memory, "latin1");
    const std::string lines = "caf\xC3\xA9\r\n\"x\ny\"\r\n";
    EXPECT_EQ(stream->write(lines.data(), lines.size()), static_cast<std::ptrdiff_t>(lines.size()));
    const std::string bad = "ok,\xE6\x97\xA5\n";
    EXPECT_EQ(stream->write(bad.data(), bad.size()), -1);
    EXPECT_EQ(stream->write("more", 4), -1);
    ASSERT_TRUE(stream->unencodable());
    EXPECT_EQ(stream->unencodable()->line, 4u); // a line break inside a quoted field counts
    EXPECT_EQ(stream->unencodable()->character, U'\u65E5');
    EXPECT_EQ(stream->unencodable()->reason, "line 4: \"\xE6\x97\xA5\" (U+65E5) cannot be written in latin1");
    EXPECT_EQ(stream->error(), std::errc::illegal_byte_sequence);
    EXPECT_EQ(memory->bytes(), "caf\xE9\r\n\"x\ny\"\r\n");
}

} // namespace
