#include "core/plist/detail/PlistXmlTokenizer.hpp"

#include "core/plist/PropertyListReader.hpp"
#include "core/plist/detail/ExpatParser.hpp"
#include "core/plist/detail/XmlPropertyListReader.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <functional>

using namespace plistable;
using namespace plistable::detail;

namespace {

// One line per element event with its position, the text gathered before it on its own line.
class EventLog : public ExpatParser::Handler {
public:
    std::function<XmlPosition()> where;
    std::string characters;
    std::string lines;

    void xmlStartElement(const char* name) override { add(std::string("<") + name + ">"); }
    void xmlEndElement(const char* name) override { add(std::string("</") + name + ">"); }
    void xmlCharacters(std::string_view text) override { characters.append(text); }

private:
    void add(const std::string& event)
    {
        if (!characters.empty())
            lines += "text \"" + characters + "\"\n";
        characters.clear();
        const XmlPosition at = where();
        lines += event + " " + std::to_string(at.line) + ":" + std::to_string(at.column) + " @"
                 + std::to_string(at.byteOffset) + "\n";
    }
};

struct ExpatRun {
    bool ok;
    std::string lines;
};

ExpatRun readWithExpat(std::string_view xml)
{
    EventLog log;
    ExpatParser parser(log);
    parser.gatherCharactersInto(&log.characters);
    log.where = [&] { return parser.position(); };
    const bool ok = parser.parse(xml, true);
    return {ok, log.lines};
}

struct TokenizerRun {
    PlistXmlTokenizer::Status status;
    std::string lines;
};

// Feeds `step` bytes at a time (0: all at once, in place), alternating feed() and feedBuffer().
TokenizerRun readWithTokenizer(std::string_view xml, std::size_t step)
{
    EventLog log;
    PlistXmlTokenizer tokenizer(log, log.characters);
    log.where = [&] { return tokenizer.position(); };
    if (step == 0) {
        tokenizer.feed(xml, true);
    } else {
        for (std::size_t at = 0, piece = 0;; at += step, ++piece) {
            const std::string_view bytes = xml.substr(std::min(at, xml.size()), step);
            const bool last = at + step >= xml.size();
            bool more;
            if (piece % 2 == 0) {
                more = tokenizer.feed(bytes, last);
            } else {
                std::copy(bytes.begin(), bytes.end(), tokenizer.buffer(bytes.size()));
                more = tokenizer.feedBuffer(bytes.size(), last);
            }
            if (!more || last)
                break;
        }
    }
    return {tokenizer.status(), log.lines};
}

struct Case {
    std::string_view name;
    std::string_view xml;
    bool accepted; // read by the tokenizer itself; otherwise left to expat
};

constexpr std::string_view header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";

const Case cases[] = {
    {"TypicalList",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<array>\n\t<dict>\n"
     "\t\t<key>id</key>\n\t\t<string>東京 &amp; 大阪</string>\n\t\t<key>n</key><integer>3</integer>\n\t</dict>\n"
     "\t<true/>\n</array>\n</plist>\n",
     true},
    {"NoProlog", "<plist><array><string>a</string></array></plist>", true},
    {"ByteOrderMark", "\xEF\xBB\xBF<?xml version='1.0'?><plist/>", true},
    {"DeclarationLowerCaseEncodingStandalone", "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\" ?><a/>",
     true},
    {"DoctypeSystem", "<!DOCTYPE plist SYSTEM \"x.dtd\"><plist/>", true},
    {"DoctypeNameOnly", "<!DOCTYPE plist ><plist/>", true},
    {"CommentsAndInstructions", "<!-- a -->\n<?pi data?><plist><!--b-->x<?q?>y</plist><!--c-->\n<?z?>", true},
    {"Cdata", "<a>x<![CDATA[<&]]y]]>z</a>", true},
    {"CdataLineEnds", "<a><![CDATA[1\r\n2\r3]]></a>", true},
    {"PredefinedEntities", "<a>&lt;&gt;&amp;&apos;&quot;</a>", true},
    {"CharacterReferences", "<a>&#65;&#x42;&#X43;&#x10FFFF;&#13;&#x3042;&#0000009;</a>", false},
    {"CharacterReferencesLowerX", "<a>&#65;&#x42;&#x10FFFF;&#13;&#x3042;&#0000009;</a>", true},
    {"LineEnds", "<a>\r\n1\r2\n\r\n</a>\r<b/>", false},
    {"LineEndsInside", "<a>\r\n1\r2\n\r\n<b/>\r</a>\r\n", true},
    {"LineEndsBeforeTags", "<a>\r<b>\r\n</b>\n<c/>\r\r\n</a>", true},
    {"MultiByteText", "<a>é€😀ｱ</a>\n<!-- é -->", true},
    {"MultiByteTextOneRoot", "<a>é€😀ｱ\n<b>\n</b>日本</a>\n<!-- é -->", true},
    {"WhitespaceInTags", "<a\n>\t<b\t/><c ></c\n></a >", true},
    {"EmptyDocument", "", false},
    {"OnlyWhitespace", " \n", false},
    {"UnclosedRoot", "<a><b></b>", false},
    {"MismatchedTag", "<a><b></c></a>", false},
    {"TwoRoots", "<a/><b/>", false},
    {"TextAfterRoot", "<a/>x", false},
    {"TextBeforeRoot", "x<a/>", false},
    {"Attribute", "<plist><dict a=\"1\"/></plist>", false},
    {"PlistOtherAttribute", "<plist xmlns=\"x\"/>", false},
    {"PlistTwoAttributes", "<plist version=\"1\" version=\"2\"/>", false},
    {"PlistVersionUnquoted", "<plist version=1/>", false},
    {"InternalSubset", "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", false},
    {"UndeclaredEntity", "<a>&e;</a>", false},
    {"UndeclaredEntityWithDoctype", "<!DOCTYPE a SYSTEM \"a.dtd\"><a>&e;</a>", false},
    {"BadCharacterReference", "<a>&#0;</a>", false},
    {"SurrogateReference", "<a>&#xD800;</a>", false},
    {"UnterminatedReference", "<a>&lt</a>", false},
    {"OtherEncoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>", false},
    {"Utf16", std::string_view("\xFF\xFE<\0a\0/\0>\0", 10), false},
    {"Version11", "<?xml version=\"1.1\"?><a/>", false},
    {"DeclarationNotFirst", " <?xml version=\"1.0\"?><a/>", false},
    {"ReservedInstruction", "<a><?xml-stylesheet x?></a>", false},
    {"MalformedUtf8", "<a>\xC3(</a>", false},
    {"OverlongUtf8", "<a>\xC0\xAF</a>", false},
    {"EncodedSurrogate", "<a>\xED\xA0\x80</a>", false},
    {"NonCharacterFFFE", "<a>\xEF\xBF\xBE</a>", false},
    {"ControlCharacter", "<a>\x01</a>", false},
    {"NulCharacter", std::string_view("<a>\0</a>", 8), false},
    {"CdataEndInText", "<a>]]></a>", false},
    {"BracketsInText", "<a>]] ]></a>", true},
    {"DoubleDashInComment", "<a><!-- a -- b --></a>", false},
    {"CommentEndingInDash", "<a><!-- a ---></a>", false},
    {"LessThanInText", "<a>a < b</a>", false},
    {"NonAsciiName", "<ä/>", false},
    {"NameStartingWithDigit", "<1/>", false},
    {"UnknownMarkup", "<a><!ELEMENT a ANY></a>", false},
    {"DoctypeAfterRoot", "<a/><!DOCTYPE a>", false},
    {"TwoDoctypes", "<!DOCTYPE a><!DOCTYPE a><a/>", false},
    {"TruncatedComment", "<a/><!-- x", false},
    {"ElementAfterTruncation", "<a><b>text", false},
};

class PlistXmlTokenizerCases : public testing::TestWithParam<Case> {};

TEST_P(PlistXmlTokenizerCases, ReportsWhatExpatReportsOrLeavesTheDocumentToIt)
{
    const Case& c = GetParam();
    const ExpatRun expat = readWithExpat(c.xml);
    for (std::size_t step : {0, 1, 2, 3, 7, 64}) {
        SCOPED_TRACE("step " + std::to_string(step));
        const TokenizerRun run = readWithTokenizer(c.xml, step);
        if (c.accepted) {
            EXPECT_EQ(run.status, PlistXmlTokenizer::Status::Finished);
            EXPECT_TRUE(expat.ok);
            EXPECT_EQ(run.lines, expat.lines);
        } else {
            EXPECT_EQ(run.status, PlistXmlTokenizer::Status::Unsupported);
            EXPECT_EQ(expat.lines.substr(0, run.lines.size()), run.lines);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Snippets, PlistXmlTokenizerCases, testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PlistXmlTokenizerTest, LongConstructBeyondThePendingLimitGoesToExpat)
{
    std::string xml = "<a><!--" + std::string(2 * PlistXmlTokenizer::maxPending, 'x') + "--></a>";
    const TokenizerRun run = readWithTokenizer(xml, 4096);
    EXPECT_EQ(run.status, PlistXmlTokenizer::Status::Unsupported);
}

TEST(PlistXmlTokenizerTest, StopFromAHandlerEndsReading)
{
    struct Stopper : ExpatParser::Handler {
        PlistXmlTokenizer* tokenizer = nullptr;
        int starts = 0;
        void xmlStartElement(const char*) override
        {
            if (++starts == 2)
                tokenizer->stop();
        }
        void xmlEndElement(const char*) override {}
        void xmlCharacters(std::string_view) override {}
    } stopper;
    std::string characters;
    PlistXmlTokenizer tokenizer(stopper, characters);
    stopper.tokenizer = &tokenizer;
    EXPECT_FALSE(tokenizer.feed("<a><b/><c/></a>", true));
    EXPECT_EQ(tokenizer.status(), PlistXmlTokenizer::Status::Stopped);
    EXPECT_EQ(stopper.starts, 2);
}

// The whole reader: with the tokenizer (and expat after it where it gives up) every event, element,
// message and position is that of expat alone.
struct Recorder : PlistReaderDelegate {
    std::string log;
    void parserDidStartDocument() override { log += "start\n"; }
    // Appended piece by piece: GCC 12 flags "literal" + string with a false -Werror=restrict in Release.
    void add(const char* before, const std::string& middle, const char* after)
    {
        log += before;
        log += middle;
        log += after;
    }
    void parserDidStartElement(std::u16string_view name) override { add("<", test::s(name), ">\n"); }
    void parserDidEndElement(std::u16string_view name) override { add("</", test::s(name), ">\n"); }
    void parserFoundCharacters(std::u16string_view text) override { add("text ", test::s(text), "\n"); }
    void parserDidEndDocument() override { log += "end\n"; }
    void readerDidReadRootArrayElement(PlistValue&& element) override
    {
        add("element ", test::s(element.description()), "\n");
    }
};

std::string describe(const PropertyListReadResult& r, const Recorder& recorder)
{
    return recorder.log + std::to_string(static_cast<int>(r.status)) + " " + r.message + " "
           + std::to_string(r.line) + ":" + std::to_string(r.column) + " @" + std::to_string(r.byteOffset);
}

TEST(PlistXmlTokenizerTest, ReaderResultsMatchExpatAlone)
{
    const std::string list = std::string(header) + "<plist version=\"1.0\">\n<array>\n";
    const std::string rows[] = {
        "<dict><key>a</key><string>x</string></dict>\n</array>\n</plist>\n",
        "<dict><key>a</key><integer>x1</integer></dict>\n</array>\n</plist>\n",
        "<dict>\n\t<key>é</key>\n\t<lemon/></dict>\n</array>\n</plist>\n",
        "<array>\n\t<string>é</string>\n\tstray é</array>\n</array>\n</plist>\n",
        "<dict><key>a</key></dict>\n</array>\n</plist>\n",
        "<dict><key>a</key><string>&ent;</string></dict>\n</array>\n</plist>\n",
        "<dict><key>a</key><string>b</string></dict>\n</array>\n</plist>\n<junk/>",
        "<dict><key>a</key><string>b\r\nc</string><key>b</key><data>\r\nYWJj\r\n</data></dict>\n</array>\n</plist>",
        "<dict><key>a</key><string>b</string></dict>\n<dict><key a='1'>b</key></dict></array>\n</plist>",
        "<dict><key>a</key><string>b</string></dict>\n<dict><key>b</key><string>c</key></dict></array>\n</plist>",
        "<string>unterminated",
    };
    for (const std::string& row : rows) {
        const std::string xml = list + row;
        SCOPED_TRACE(xml);
        Recorder expatOnly, fast, fromFile;
        detail::XmlPropertyListReader reader(expatOnly);
        reader.begin();
        reader.feed(xml, true);
        const std::string expected = describe(reader.result(), expatOnly);
        EXPECT_EQ(describe(PropertyListReader::readBytes(xml, fast), fast), expected);
        test::TempDir dir;
        const std::string path = dir.write("x.plist", xml);
        EXPECT_EQ(describe(PropertyListReader::readFile(path, fromFile), fromFile), expected);
    }
}

} // namespace
