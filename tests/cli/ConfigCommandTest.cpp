#include "CliRun.hpp"
#include "support/TestSupport.hpp"

using plistable::test::runCli;
using plistable::test::TempDir;

namespace {

TEST(ConfigCommandTest, StoresTheWindowsOptionsAndListsThemOnceStored)
{
    TempDir dir;
    const std::string settings = dir.file("settings.json");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* out;
    } steps[] = {
        {{"config", "excel"}, 0, "excel = off\n"},
        {{"config", "outputEncoding"}, 0, "outputEncoding = utf-8\n"},
        {{"config", "delimiterOut"}, 0, "delimiterOut = comma\n"},
        {{"config", "outputEncoding", "cp932"}, 0, "outputEncoding = cp932\n"},
        {{"config", "delimiterIn", "semicolon"}, 0, "delimiterIn = semicolon\n"},
        {{"config", "delimiterOut", "#"}, 0, "delimiterOut = #\n"},
        {{"config", "outputForm", "binary"}, 0, "outputForm = binary\n"},
        {{"config", "types", "on"}, 0, "types = on\n"},
        {{"config"}, 0,
         "header = off\ntypes = on\noutputEncoding = cp932\ndelimiterIn = semicolon\ndelimiterOut = #\n"
         "outputForm = binary\n"},
        {{"config", "outputEncoding", "no-such-encoding"}, 2, ""},
        {{"config", "delimiterIn", "\""}, 2, ""},
        {{"config", "outputForm", "yaml"}, 2, ""},
        {{"config", "allKeys", "maybe"}, 2, ""},
        {{"config", "colour", "red"}, 2, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args.back());
        const auto result = runCli(step.args, settings);
        EXPECT_EQ(result.status, step.status) << result.err;
        if (step.status == 0) {
            EXPECT_EQ(result.out, step.out);
        }
    }
    // The store holds the characters themselves, as the window reads them.
    const std::string stored = dir.read("settings.json");
    EXPECT_NE(stored.find("\"delimiterIn\": \";\""), std::string::npos) << stored;
}

} // namespace
