#include "gui/Localization.hpp"

#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

using plistable::gui::Localization;
using plistable::test::TempDir;

namespace {

TEST(LocalizationTest, MissingKeyShowsAsTheKey)
{
    struct Case {
        const char* name;
        std::string contents;
        qsizetype size;
    };
    const Case cases[] = {
        {"table", R"({"A": "Alpha", "N": 3})", 1},
        {"damaged", R"({"A": "Alpha")", 0},
        {"not an object", R"(["A"])", 0},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Localization table(QString::fromStdString(dir.write("t.json", c.contents)));
        EXPECT_EQ(table.size(), c.size);
        EXPECT_EQ(table.text(QStringLiteral("MISSING")), QStringLiteral("MISSING"));
        EXPECT_EQ(table.text(QStringLiteral("N")), QStringLiteral("N"));
        EXPECT_EQ(table.text(QStringLiteral("A")), c.size == 1 ? QStringLiteral("Alpha") : QStringLiteral("A"));
    }
    EXPECT_EQ(Localization(QStringLiteral(":/no/such.json")).text(QStringLiteral("K")), QStringLiteral("K"));
}

} // namespace
