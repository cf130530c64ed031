#include "core/strings/detail/FormatPlaceholders.hpp"

#include <gtest/gtest.h>

namespace plistable::detail {
namespace {

TEST(FormatPlaceholdersTest, ComparesWhatEachArgumentTakes)
{
    struct Case {
        std::string_view base, translation;
        bool same;
    };
    const Case cases[] = {
        {"%@ has %d files", "%d Dateien in %@", false},   // the unnumbered order changed the types
        {"%1$@ has %2$d files", "%2$d Dateien in %1$@", true},
        {"%1$@ has %2$d files", "%2$@ Dateien in %1$d", false},
        {"%d items", "%d", true},
        {"%d items", "items", false},
        {"%d of %d", "%d", false},
        {"100%% done", "100 %% fertig", true},
        {"%ld left", "%d left", false},
        {"%i left", "%d left", true},
        {"%.2f km", "%5.2f km", true},
        {"Total: %lld", "合計：%lld", true},
        {"%#@files@", "%#@files@", true},
        {"%#@files@", "%#@dateien@", false},
        {"%1$@ and %1$@", "%1$@", true},
        {"50%", "50 %", true}, // a lone % at the end starts no placeholder
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.base) + " | " + std::string(c.translation));
        EXPECT_EQ(samePlaceholders(formatPlaceholders(c.base), formatPlaceholders(c.translation)), c.same);
    }
    EXPECT_EQ(describePlaceholders(formatPlaceholders("%1$@ at %2$.1f%%")), "%1$@ %2$.1f");
    EXPECT_EQ(describePlaceholders(formatPlaceholders("none")), "none");
}

} // namespace
} // namespace plistable::detail
