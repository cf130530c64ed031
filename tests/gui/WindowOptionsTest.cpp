#include "gui/WindowOptions.hpp"

#include "core/UserDefaults.hpp"
#include "gui/OptionsPanel.hpp"
#include "support/TestSupport.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QTest>

#include <gtest/gtest.h>

using namespace plistable;
using namespace plistable::gui;
using plistable::test::TempDir;

namespace {

TEST(WindowOptionsTest, ReadsEachStoredOptionAndADamagedOneAsItsDefault)
{
    struct Case {
        const char* name;
        const char* store; // the settings file
        WindowOptions expected;
    };
    const Case cases[] = {
        {"nothing stored", "{}", {}},
        {"every option", R"({"excel":true,"types":true,"allKeys":true,"outputEncoding":"cp932",)"
                         R"("delimiterIn":";","delimiterOut":"\t","outputForm":"json"})",
         {true, QStringLiteral("cp932"), u';', u'\t', OutputFormat::Json, true, true}},
        {"damaged texts", R"({"outputEncoding":"no-such-encoding","delimiterIn":"\"","delimiterOut":";;",)"
                          R"("outputForm":"yaml"})",
         {}},
        {"a line break is no delimiter", R"({"delimiterIn":"\u2028","delimiterOut":"\n"})", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const UserDefaults defaults(dir.write("settings.json", c.store));
        EXPECT_TRUE(WindowOptions::load(defaults) == c.expected);
    }
}

TEST(WindowOptionsTest, DefaultsLeaveTheConversionOptionsAsTheyWere)
{
    ConversionOptions options;
    options.shape.header = true;
    WindowOptions().applyTo(options);
    EXPECT_EQ(options.shape.header, true);
    EXPECT_FALSE(options.csvWrite.crlf || options.csvWrite.byteOrderMark || options.shape.types || options.shape.allKeys);
    EXPECT_EQ(options.csvRead.delimiter, u',');
    EXPECT_EQ(options.csvWrite.delimiter, u',');
    EXPECT_FALSE(options.csvWrite.encodingName);
    EXPECT_EQ(options.output.format, OutputFormat::Xml);

    WindowOptions chosen;
    chosen.excel = true;
    chosen.outputEncoding = QStringLiteral("cp932");
    chosen.delimiterOut = u';';
    chosen.outputForm = OutputFormat::Binary;
    chosen.applyTo(options);
    EXPECT_TRUE(options.csvWrite.crlf && options.csvWrite.byteOrderMark);
    EXPECT_EQ(options.csvWrite.encodingName, "cp932");
    EXPECT_EQ(options.csvRead.delimiter, u',');
    EXPECT_EQ(options.csvWrite.delimiter, u';');
    EXPECT_EQ(options.output.format, OutputFormat::Binary);
}

TEST(WindowOptionsTest, ThePanelStoresWhatTheUserChangesAndANewPanelShowsIt)
{
    TempDir dir;
    UserDefaults defaults(dir.file("settings.json"));
    {
        OptionsPanel panel(defaults);
        // Made from an empty store, it stores nothing until the user changes something.
        EXPECT_FALSE(UserDefaults(dir.file("settings.json")).objectForKey("excel").has_value());
        panel.excelBox()->click();
        panel.encodingBox()->setFocus();
        // The arrow keys choose on a closed list, as the user does from the keyboard.
        QTest::keyClick(panel.encodingBox(), Qt::Key_Down);
        QTest::keyClick(panel.formBox(), Qt::Key_End);
        QTest::keyClick(panel.delimiterInBox(), Qt::Key_Down);
    }
    const UserDefaults stored(dir.file("settings.json"));
    EXPECT_EQ(stored.objectForKey("excel"), true);
    EXPECT_EQ(stored.stringForKey("outputEncoding"), "cp932");
    EXPECT_EQ(stored.stringForKey("outputForm"), "strings");
    EXPECT_EQ(stored.stringForKey("delimiterIn"), ";");
    EXPECT_FALSE(stored.stringForKey("delimiterOut").has_value());

    UserDefaults again(dir.file("settings.json"));
    OptionsPanel panel(again);
    EXPECT_TRUE(panel.excelBox()->isChecked());
    EXPECT_FALSE(panel.typesBox()->isChecked());
    EXPECT_EQ(panel.encodingBox()->currentData().toString(), QStringLiteral("cp932"));
    EXPECT_EQ(panel.formBox()->currentData().toString(), QStringLiteral("strings"));
    EXPECT_EQ(panel.delimiterInBox()->currentData().toString(), QStringLiteral(";"));
}

} // namespace
