#include "gui/AppDelegate.hpp"

#include "core/UserDefaults.hpp"
#include "support/TestSupport.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QFile>

#include <gtest/gtest.h>

using namespace plistable;
using namespace plistable::gui;
using plistable::test::TempDir;

namespace {

class AppDelegateTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string store = dir.file("settings.json");

    // What the next launch shows: a fresh store object, delegate and check box, set up as at start.
    bool launchAndReadBox()
    {
        UserDefaults defaults(store);
        AppDelegate delegate(defaults);
        QCheckBox box;
        delegate.setHeaderCheckBtn(&box);
        delegate.applicationDidFinishLaunching();
        return box.checkState() == Qt::Checked;
    }
};

TEST_F(AppDelegateTest, FirstRunShowsTheBoxOffAndWritesNothing)
{
    UserDefaults defaults(store);
    AppDelegate delegate(defaults);
    QCheckBox box;
    box.setChecked(true);
    delegate.setHeaderCheckBtn(&box);
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(box.checkState(), Qt::Unchecked);
    EXPECT_FALSE(defaults.boolForKey("header"));
    EXPECT_EQ(defaults.objectForKey("header"), false); // the default is registered...
    EXPECT_TRUE(defaults.storedValues().empty());      // ...but never stored
    EXPECT_FALSE(QFile::exists(QString::fromStdString(store)));
}

TEST_F(AppDelegateTest, ToggleIsStoredAtOnceAndShownAtTheNextLaunch)
{
    {
        UserDefaults defaults(store);
        AppDelegate delegate(defaults);
        QCheckBox box;
        delegate.setHeaderCheckBtn(&box);
        delegate.applicationDidFinishLaunching();
        box.click(); // the user's toggle, as a mouse click or the space bar delivers it
        EXPECT_TRUE(defaults.boolForKey("header"));
        // Written through at once: another reader of the store (the command line) sees it.
        EXPECT_EQ(UserDefaults(store).objectForKey("header"), true);
    }
    EXPECT_TRUE(launchAndReadBox());
}

TEST_F(AppDelegateTest, StoresTrueOnlyForACheckedBox)
{
    struct Case {
        Qt::CheckState state;
        bool stored;
    };
    for (const Case c : {Case{Qt::Checked, true}, Case{Qt::Unchecked, false}, Case{Qt::PartiallyChecked, false}}) {
        SCOPED_TRACE(static_cast<int>(c.state));
        UserDefaults defaults(store);
        defaults.setBool("header", !c.stored);
        defaults.synchronize();
        AppDelegate delegate(defaults);
        QCheckBox box;
        box.setTristate(true);
        box.setCheckState(c.state);
        delegate.changeHeader(&box);
        EXPECT_EQ(UserDefaults(store).objectForKey("header"), c.stored);
    }
}

TEST_F(AppDelegateTest, KeepsReferencesAndEndsWithTheLastWindow)
{
    UserDefaults defaults(store);
    AppDelegate delegate(defaults);
    QWidget window;
    auto box = std::make_unique<QCheckBox>();
    delegate.setWindow(&window);
    delegate.setHeaderCheckBtn(box.get());
    EXPECT_EQ(delegate.window(), &window);
    EXPECT_EQ(delegate.headerCheckBtn(), box.get());

    QApplication::setQuitOnLastWindowClosed(false);
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(AppDelegate::applicationShouldTerminateAfterLastWindowClosed());
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());

    box.reset(); // not owned: the reference goes null instead of dangling
    EXPECT_EQ(delegate.headerCheckBtn(), nullptr);
    delegate.applicationDidFinishLaunching();
}

} // namespace
