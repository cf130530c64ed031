#include "gui/MainWindow.hpp"

#include "core/UserDefaults.hpp"
#include "gui/AppDelegate.hpp"
#include "gui/GuiTestSupport.hpp"
#include "support/TestSupport.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace plistable;
using namespace plistable::gui;
using plistable::test::qs;
using plistable::test::RecordingChooser;
using plistable::test::TempDir;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    TempDir dir;
    UserDefaults defaults{dir.file("settings.json")};
    RecordingChooser chooser;
    MainWindow window{defaults};
    QStringList chosenFiles;
    int filesAsked = 0;

    void SetUp() override
    {
        ::mkdir(dir.file("out").c_str(), 0700);
        chooser.answer = qs(dir.file("out"));
        window.dropView()->setFolderChooser(chooser.chooser());
        window.setFilesChooser([this](const QString&, const QString&) {
            ++filesAsked;
            return chosenFiles;
        });
    }
};

TEST_F(MainWindowTest, LaysOutTheDropViewAndTheHeaderBox)
{
    EXPECT_EQ(window.windowTitle(), QStringLiteral("plistable"));
    EXPECT_GE(window.minimumWidth(), 300);
    EXPECT_GE(window.minimumHeight(), 200);
    EXPECT_EQ(window.headerCheckBtn()->text(), QStringLiteral("First line is a header"));
    EXPECT_EQ(window.findChildren<mainView*>().size(), 1);
    window.show();
    // The drop view takes most of the window.
    EXPECT_GT(window.dropView()->height(), window.height() / 2);
}

TEST_F(MainWindowTest, OpenButtonConvertsLikeADropAndReportsWhatWasWritten)
{
    chosenFiles = {qs(dir.write("a.csv", "a,b\n1,2\n")), qs(dir.write("notes.txt", "x"))};
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.openButton()->click();
    EXPECT_EQ(filesAsked, 1);
    EXPECT_FALSE(window.openButton()->isEnabled());
    EXPECT_TRUE(window.progressBar()->isVisibleTo(&window));
    window.openButton()->click(); // disabled: nothing happens
    EXPECT_EQ(filesAsked, 1);

    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(window.openButton()->isEnabled());
    EXPECT_FALSE(window.progressBar()->isVisibleTo(&window));
    const QString status = window.statusLabel()->text();
    EXPECT_TRUE(status.contains(qs(dir.file("out") + "/"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("a.csv → a.plist (read as UTF-8)"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("notes.txt"))) << status.toStdString();
    EXPECT_FALSE(dir.read("out/a.plist").empty());
}

TEST_F(MainWindowTest, ControlOOpensFiles)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    // A button's shortcut animates a click, which ends on a timer.
    EXPECT_TRUE(QTest::qWaitFor([this] { return filesAsked == 1; }, 5000));
}

TEST_F(MainWindowTest, ToggledBoxDecidesTheNextDropsOutput)
{
    AppDelegate delegate(defaults);
    delegate.setWindow(&window);
    delegate.setHeaderCheckBtn(window.headerCheckBtn());
    delegate.applicationDidFinishLaunching();
    ASSERT_FALSE(window.headerCheckBtn()->isChecked());

    window.headerCheckBtn()->click();
    EXPECT_EQ(UserDefaults(dir.file("settings.json")).objectForKey("header"), true);

    chosenFiles = {qs(dir.write("a.csv", "a,b\n1,2\n"))};
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.openFiles();
    ASSERT_TRUE(finished.wait(30000));
    const std::string output = dir.read("out/a.plist");
    EXPECT_NE(output.find("<dict>"), std::string::npos) << output;
    EXPECT_NE(output.find("<key>a</key>"), std::string::npos) << output;
}

} // namespace
