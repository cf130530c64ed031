#include "core/plist/OpenStepParser.hpp"

#include "core/plist/detail/NextStepCharacters.hpp"
#include "support/TestSupport.hpp"

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>

using namespace plistable;
using plistable::test::s;
using plistable::test::u;

namespace {

// A value in one line: kind-tagged scalars ("int 12"), strings in quotes, collections as JSON.
std::string shown(const PlistValue& value)
{
    switch (value.kind()) {
    case PlistValue::Kind::String: return '"' + s(value.string()) + '"';
    case PlistValue::Kind::Integer:
    case PlistValue::Kind::Unsigned: return "int " + s(value.description());
    case PlistValue::Kind::Real: return "real " + s(value.description());
    case PlistValue::Kind::Boolean: return "bool " + s(value.description());
    case PlistValue::Kind::Date: return "date " + s(value.description());
    case PlistValue::Kind::Data: return "data " + s(value.description());
    default: return s(value.description());
    }
}

// Every callback as one line, so a failing case prints the whole sequence.
class Log : public OpenStepParserDelegate {
public:
    std::string text;

    void parserDidStartRootDictionary(bool stringsForm) override { add(stringsForm ? "strings" : "dict"); }
    void parserDidReadEntry(OpenStepEntry&& entry) override
    {
        std::string line = s(entry.key) + " = " + shown(entry.value) + " @" + std::to_string(entry.line);
        if (entry.endLine != entry.line)
            line += "-" + std::to_string(entry.endLine);
        for (const auto& comment : entry.commentsBefore)
            line += commentText(comment);
        add(line);
    }
    void parserDidStartRootArray() override { add("array"); }
    void parserDidReadArrayElement(PlistValue&& element, std::uint64_t line) override
    {
        add(shown(element) + " @" + std::to_string(line));
    }
    void parserDidReadRootValue(PlistValue&& value) override { add("root " + shown(value)); }
    void parserDidReadTrailingComments(std::vector<OpenStepComment>&& comments) override
    {
        std::string line = "trailing";
        for (const auto& comment : comments)
            line += commentText(comment);
        add(line);
    }
    void parserDidRepeatKey(std::u16string_view key, std::uint64_t line) override
    {
        add("repeat " + s(key) + " @" + std::to_string(line));
    }

private:
    static std::string commentText(const OpenStepComment& comment)
    {
        std::string range = std::to_string(comment.firstLine);
        if (comment.lastLine != comment.firstLine)
            range += "-" + std::to_string(comment.lastLine);
        return (comment.block ? " /*" : " //") + s(comment.text) + (comment.block ? "*/" : "") + " @" + range;
    }
    void add(const std::string& line) { text += (text.empty() ? "" : " | ") + line; }
};

std::string parsed(std::string_view utf8, std::optional<OpenStepError>* error = nullptr)
{
    Log log;
    const auto fault = OpenStepParser::parse(u(utf8), log);
    if (error)
        *error = fault;
    else if (fault)
        return "error line " + std::to_string(fault->line) + ": " + fault->message;
    return log.text;
}

struct GrammarCase {
    const char* name;
    std::string_view text;
    std::string_view events;
};

const GrammarCase grammarCases[] = {
    {"BracedDictionary", "{ a = b; \"c d\" = \"e\"; }", "dict | a = \"b\" @1 | c d = \"e\" @1"},
    {"NestedValues", "{ l = (1, (2), {k = v;}); d = {}; e = (); }",
     "dict | l = [\"1\",[\"2\"],{\"k\":\"v\"}] @1 | d = {} @1 | e = [] @1"},
    {"ArrayTrailingComma", "(a, b,)", "array | \"a\" @1 | \"b\" @1"},
    {"ArrayLines", "(\n a,\n \"b\nc\"\n)", "array | \"a\" @2 | \"b\nc\" @3"},
    {"UnquotedCharacters", "(Az09_$+/:.-)", "array | \"Az09_$+/:.-\" @1"},
    {"UnquotedSlashesAreNoComment", "(a//b)", "array | \"a//b\" @1"},
    {"SingleQuotes", "('it''s')", "error line 1: expected ',' or ')' after an array element"},
    {"SingleQuotedString", "('a \"b\"')", "array | \"a \"b\"\" @1"},
    {"EscapesOfOneLetter", R"(("\a\b\f\n\r\t\v\"\\"))", "array | \"\a\b\f\n\r\t\v\"\\\" @1"},
    {"UnknownEscapeIsTheCharacter", R"(("\q\'"))", "array | \"q'\" @1"},
    {"OctalEscapes", R"(("\101\0612\7"))", "array | \"A12\a\" @1"},
    {"OctalAboveAsciiIsNextStep", R"(("\200\341\374\375"))", "array | \"\u00a0\u00c6\u00fe\u00ff\" @1"},
    {"UnicodeEscapes", R"(("\U41\U00e9\u20ac\U20AC"))", "array | \"A\u00e9u20ac\u20ac\" @1"},
    {"UnicodeEscapeTakesFourDigits", R"(("\U00411"))", "array | \"A1\" @1"},
    {"SurrogatePairEscapes", R"(("\UD83D\UDE00"))", "array | \"\U0001F600\" @1"},
    {"Data", "(<0fbd77 1c2735ae>, <>, < 0 F >)", "array | data D713HCc1rg== @1 | data  @1 | data Dw== @1"},
    {"TypedForms", "(<*I12>, <*I-3>, <*R1.5>, <*BY>, <*BN>, <*D2024-01-02 03:04:05 +0000>)",
     "array | int 12 @1 | int -3 @1 | real 1.5 @1 | bool true @1 | bool false @1 | date 2024-01-02T03:04:05Z @1"},
    {"TypedDateWithOffset", "<*D2024-01-02 03:04:05 +0130>", "root date 2024-01-02T01:34:05Z"},
    {"RootString", "\"just this\"", "root \"just this\""},
    {"RootUnquoted", "  word  ", "root \"word\""},
    {"RootData", "<00ff>", "root data AP8="},
    {"StringsForm", "\"a\" = \"1\";\nb = 2;", "strings | a = \"1\" @1 | b = \"2\" @2"},
    {"StringsFormKeyAlone", "\"a\";\n\"b\" = \"c\";", "strings | a = \"a\" @1 | b = \"c\" @2"},
    {"KeyAloneInBraces", "{ a; }", "dict | a = \"a\" @1"},
    {"EmptyText", "", "strings"},
    {"OnlyComments", "/* x */ // y\n", "strings | trailing /* x */ @1 // y @1"},
    {"CommentsBeforeEntries", "// head\n/* one\ntwo */ \"a\" = 1; /* b's */\nb = 2;\n// tail",
     "strings | a = \"1\" @3 // head @1 /* one\ntwo */ @2-3 | b = \"2\" @4 /* b's */ @3 | trailing // tail @5"},
    {"CommentsInBraces", "/* 0 */ { /* 1 */ a /* x */ = /* y */ 1 /* z */; } // end",
     "dict | a = \"1\" @1 /* 0 */ @1 /* 1 */ @1 | trailing // end @1"},
    {"CommentsInsideValues", "( /* a */ 1 // b\n, { k /*c*/ = /*d*/ v /*e*/ ; } /* f */ )",
     "array | \"1\" @1 | {\"k\":\"v\"} @2 | trailing /* f */ @2"},
    {"CommentMarksInsideStrings", "(\"/* no */\", \"// no\")", "array | \"/* no */\" @1 | \"// no\" @1"},
    {"EntrySpanningLines", "{ a =\n(\n1\n)\n;\n}", "dict | a = [\"1\"] @1-5"},
    {"CrLfAndCrLines", "(\r\na,\rb)", "array | \"a\" @2 | \"b\" @3"},
    {"RepeatedKeyAtRoot", "{ a = 1; b = 2;\n a = 3; }", "dict | a = \"1\" @1 | b = \"2\" @1 | repeat a @2 | a = \"3\" @2"},
    {"RepeatedKeyInside", "(\n{ a = 1; b = 2;\n a = 3; })", "array | repeat a @3 | {\"a\":\"3\",\"b\":\"2\"} @2"},
};

class OpenStepGrammarTest : public testing::TestWithParam<GrammarCase> {};

TEST_P(OpenStepGrammarTest, ReadsToTheListedEvents)
{
    EXPECT_EQ(parsed(GetParam().text), GetParam().events);
}

INSTANTIATE_TEST_SUITE_P(Grammar, OpenStepGrammarTest, testing::ValuesIn(grammarCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct FaultCase {
    const char* name;
    std::string text;
    std::string_view message;
    std::uint64_t line;
};

const FaultCase faultCases[] = {
    {"MissingSemicolon", "{\n a = 1;\n name = \"x\"\n b = 2; }", "expected ';' after the value of \"name\"", 3},
    {"MissingSemicolonAfterMultilineValue", "x = (\n1\n)\ny = 2;", "expected ';' after the value of \"x\"", 3},
    {"StringsFormEndsAfterValue", "a = 1;\nb = 2", "expected ';' after the value of \"b\"", 2},
    {"StringsFormEndsAfterKey", "a = 1;\nb", "expected '=' after the key \"b\"", 2},
    {"MissingEquals", "{ a 1; }", "expected '=' after the key \"a\"", 1},
    {"UnterminatedComment", "a = 1;\n/* never\nclosed", "unterminated comment", 2},
    {"UnterminatedString", "(\n\"abc\n", "unterminated string", 2},
    {"UnterminatedStringAfterBackslash", "(\"abc\\", "unterminated string", 1},
    {"UnterminatedArray", "{ a = (\n1,\n2", "unterminated array", 1},
    {"UnterminatedDictionary", "(\n{ a = 1;\n", "unterminated dictionary", 2},
    {"UnterminatedRootDictionary", "\n{ a = 1", "unterminated dictionary", 2},
    {"UnterminatedData", "(<0a\n0b", "unterminated data", 1},
    {"OddData", "<abc>", "data with an odd number of hex digits", 1},
    {"BadDataCharacter", "<0g>", "unexpected character 'g' in data", 1},
    {"BadTypedInteger", "<*Ix>", "<*Ix> is not an integer", 1},
    {"BadTypedBoolean", "<*BT>", "<*BT> is not a boolean (Y or N)", 1},
    {"BadTypedDate", "<*D2024-01-02>", "<*D2024-01-02> is not a date (YYYY-MM-DD HH:MM:SS +ZZZZ)", 1},
    {"UnknownType", "<*Q1>", "<*Q1> is not a value of a known type", 1},
    {"UnicodeEscapeWithoutDigits", "(\n\"a\\Ux\")", "\\U without hex digits", 2},
    {"LoneHighSurrogate", "(\"\\UD800\")", "\\UD800 is half of a surrogate pair without the other half", 1},
    {"LoneLowSurrogate", "(\"\\UDC00\\UD800\")", "\\UDC00 is half of a surrogate pair without the other half", 1},
    {"OctalWithoutNextStepCharacter", "a = 1;\nb = \"\\376\";", "\\376 is no NeXTSTEP character", 2},
    {"OctalAboveAByte", "(\"\\777\")", "\\777 is no NeXTSTEP character", 1},
    {"MissingComma", "(a b)", "expected ',' or ')' after an array element", 1},
    {"StrayCharacter", "(a, #)", "unexpected character '#'", 1},
    {"TextAfterRoot", "{}\n}", "unexpected '}' after the root value", 2},
    {"TwoRootStrings", "\"a\" \"b\"", "expected '=' after the key \"a\"", 1},
    {"KeyNotAString", "{ (a) = 1; }", "expected a key or '}', found '('", 1},
    {"NestingTooDeep", std::string(100000, '(') + std::string(100000, ')'),
     "arrays and dictionaries nested deeper than 512 levels", 1},
};

class OpenStepFaultTest : public testing::TestWithParam<FaultCase> {};

TEST_P(OpenStepFaultTest, GivesItsMessageAndLine)
{
    std::optional<OpenStepError> error;
    parsed(GetParam().text, &error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, GetParam().message);
    EXPECT_EQ(error->line, GetParam().line);
    EXPECT_LE(error->offset, u(GetParam().text).size());
}

INSTANTIATE_TEST_SUITE_P(Faults, OpenStepFaultTest, testing::ValuesIn(faultCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OpenStepParserTest, DecodesEachEncodingOrNamesTheByte)
{
    const std::string text = "a = \"\xC3\xA9\";\n";
    auto utf16 = [&](bool little, bool mark) {
        std::string out = mark ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
        for (char16_t c : u(text)) {
            const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
            out += little ? std::string{lo, hi} : std::string{hi, lo};
        }
        return out;
    };
    const struct {
        const char* name;
        std::string bytes;
        std::string error; // empty: decodes to `text`
    } cases[] = {
        {"Utf8", text, ""},
        {"Utf8WithMark", "\xEF\xBB\xBF" + text, ""},
        {"Utf16LeWithMark", utf16(true, true), ""},
        {"Utf16BeWithMark", utf16(false, true), ""},
        {"Utf16LeWithoutMark", utf16(true, false), ""},
        {"Utf16BeWithoutMark", utf16(false, false), ""},
        {"Latin1", "a = 1;\nb = \"\xE9\";", "line 2, byte 12: byte 12 (0xE9) is not UTF-8, and the text has no UTF-16 byte-order mark"},
        {"Utf16OddLength", utf16(true, true) + "a", "line 2, byte 20: byte 20 ends the text in the middle of a UTF-16 character"},
        {"Utf16LoneSurrogate", test::bytes({0xFF, 0xFE, 'a', 0, 0, 0xD8}), "line 1, byte 4: byte 4 holds half of a UTF-16 surrogate pair without the other half"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OpenStepError error;
        const auto decoded = OpenStepParser::decode(c.bytes, error);
        if (c.error.empty()) {
            ASSERT_TRUE(decoded);
            EXPECT_EQ(*decoded, u(text));
        } else {
            EXPECT_FALSE(decoded);
            EXPECT_EQ("line " + std::to_string(error.line) + ", byte " + std::to_string(error.offset) + ": " +
                          error.message,
                      c.error);
        }
    }
}

TEST(OpenStepParserTest, QuotedTextReadsBackAsItself)
{
    const Text texts[] = {u(""), u("plain"), u("\"quotes\" and \\ back\\slash"), u("line\nbreak\ttab\rcr"),
                          Text(u"\u0001\u001f\u007f"), u("caf\u00e9 \u20ac \U0001F600"), u("/* not a comment */ // nor")};
    for (const Text& text : texts) {
        SCOPED_TRACE(s(text));
        const std::string written = OpenStepParser::quoted(text);
        EXPECT_EQ(parsed("(" + written + ")"), "array | \"" + s(text) + "\" @1");
    }
    EXPECT_EQ(OpenStepParser::quoted(u"a\"\\\n\u0001\u00e9"), "\"a\\\"\\\\\\n\\U0001\xC3\xA9\"");
    EXPECT_EQ(OpenStepParser::quoted(Text(1, char16_t(0xD800))), "\"\\UD800\"");
}

// The table of the upper half must be the C library's NEXTSTEP charmap, wherever it is installed.
TEST(OpenStepParserTest, NextStepTableIsTheCharmapOfTheCLibrary)
{
    std::unique_ptr<FILE, int (*)(FILE*)> charmap(::popen("zcat /usr/share/i18n/charmaps/NEXTSTEP.gz 2>/dev/null", "r"),
                                                  ::pclose);
    std::map<unsigned, unsigned> table;
    char line[256];
    while (charmap && std::fgets(line, sizeof line, charmap.get())) {
        unsigned character = 0, byte = 0;
        if (std::sscanf(line, "<U%X> /x%x", &character, &byte) == 2 && byte >= 0x80)
            table[byte] = character;
    }
    if (table.empty())
        GTEST_SKIP() << "no NEXTSTEP charmap on this machine";
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
        SCOPED_TRACE(byte);
        const auto mapped = detail::nextStepCharacter(byte);
        if (table.count(byte))
            EXPECT_EQ(mapped, std::optional<char16_t>(static_cast<char16_t>(table[byte])));
        else
            EXPECT_FALSE(mapped);
    }
}

} // namespace
