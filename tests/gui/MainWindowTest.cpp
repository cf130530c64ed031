#include "gui/MainWindow.hpp"

#include "core/UserDefaults.hpp"
#include "gui/AppDelegate.hpp"
#include "gui/GuiTestSupport.hpp"
#include "gui/ResultsModel.hpp"
#include "support/TestSupport.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QUrl>

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

TEST_F(MainWindowTest, ListsEveryFileOfADropWithItsStateAndKeepsTheDropArea)
{
    using State = ResultsModel::State;
    window.show();
    const int dropHeight = window.dropView()->height();
    chosenFiles = {
        qs(dir.write("a.csv", "a,b\n1,2\n")),
        qs(dir.write("quote.csv", "a,b\nx,y\"z\n")),
        qs(dir.file("missing.csv")),
        qs(dir.write("notes.txt", "x")),
        qs(dir.write("latin.csv", "caf\xE9\n")),
        qs(dir.write("list.plist", "<plist><string>a</string></plist>")),
        qs(dir.write("b.csv", "c\n3\n")),
        qs(dir.write("picture.png", "p")),
    };
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.openFiles();
    ASSERT_TRUE(finished.wait(30000));

    const struct {
        State state;
        const char* reasonPart;
    } expected[] = {
        {State::Converted, ""},
        {State::Partial, "line 2: unexpected double quote"},
        {State::Failed, "cannot read: "},
        {State::PassedOver, ""},
        {State::Fallback, "read as Mac OS Roman"},
        {State::Failed, "not a property list with an array at its root"},
        {State::Converted, ""},
        {State::PassedOver, ""},
    };
    const ResultsModel& results = *window.results();
    ASSERT_EQ(results.rowCount(), 8);
    for (int row = 0; row < 8; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(results.state(row), expected[row].state);
        const QString reason = results.index(row, ResultsModel::ReasonColumn).data().toString();
        EXPECT_TRUE(reason.contains(QString::fromUtf8(expected[row].reasonPart))) << reason.toStdString();
        EXPECT_FALSE(reason.contains(QStringLiteral("--"))) << reason.toStdString();
    }
    EXPECT_EQ(results.index(4, ResultsModel::EncodingColumn).data().toString(), QStringLiteral("Mac OS Roman"));
    QApplication::processEvents();
    EXPECT_GE(window.dropView()->height(), dropHeight);
}

TEST_F(MainWindowTest, OpensARowsOutputAndTheOutputFolder)
{
    std::vector<QUrl> opened;
    window.setUrlOpener([&opened](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    chosenFiles = {qs(dir.write("a.csv", "a\n")), qs(dir.write("notes.txt", "x"))};
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.openFiles();
    ASSERT_TRUE(finished.wait(30000));

    window.show();
    window.resultsView()->setFocus();
    window.resultsView()->setCurrentIndex(window.results()->index(0, 0));
    QTest::keyClick(window.resultsView(), Qt::Key_Return);
    window.openResult(1); // passed over: nothing to open
    window.showFolderButton()->click();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].toLocalFile(), qs(dir.file("out/a.plist")));
    EXPECT_EQ(opened[1].toLocalFile(), qs(dir.file("out") + "/"));
}

TEST_F(MainWindowTest, CancelListsTheFilesNotStartedAsCancelled)
{
    chosenFiles = {qs(dir.write("a.csv", "a\n")), qs(dir.write("b.csv", "b\n"))};
    // Cancelled as the drop starts, so no file is started, whatever the worker's speed.
    QObject::connect(window.dropView(), &mainView::conversionStarted, window.cancelButton(), &QPushButton::click);
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.openFiles();
    ASSERT_TRUE(finished.wait(30000));
    ASSERT_EQ(window.results()->rowCount(), 2);
    EXPECT_EQ(window.results()->state(0), ResultsModel::State::Cancelled);
    EXPECT_EQ(window.results()->state(1), ResultsModel::State::Cancelled);
    EXPECT_FALSE(window.cancelButton()->isVisibleTo(&window));
    EXPECT_FALSE(QFileInfo::exists(qs(dir.file("out/a.plist"))));
}

} // namespace

namespace {

TEST_F(MainWindowTest, ReadsAFallbackFileAgainInTheChosenEncoding)
{
    chosenFiles = {qs(dir.write("latin.csv", "caf\xE9\n"))};
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.openFiles();
    ASSERT_TRUE(finished.wait(30000));
    ASSERT_EQ(window.results()->state(0), ResultsModel::State::Fallback);

    QSignalSpy reconverted(window.dropView(), &mainView::reconverted);
    window.readAgainAs(0, QStringLiteral("windows-1252"));
    // Off the GUI thread: the call returns at once, the row changes when the worker is done.
    EXPECT_TRUE(window.dropView()->isConverting());
    EXPECT_TRUE(window.progressBar()->isVisibleTo(&window));
    window.readAgainAs(0, QStringLiteral("ISO-8859-1")); // busy: refused
    ASSERT_TRUE(reconverted.wait(30000));
    EXPECT_EQ(reconverted.size(), 1);
    EXPECT_FALSE(window.progressBar()->isVisibleTo(&window));
    EXPECT_EQ(window.results()->rowCount(), 1);
    EXPECT_EQ(window.results()->state(0), ResultsModel::State::Converted);
    const std::string output = dir.read("out/latin.plist");
    EXPECT_NE(output.find("<string>caf\xC3\xA9</string>"), std::string::npos) << output;
}

} // namespace

namespace {

// Big enough that the conversion is still reading it when the first progress report reaches the window.
std::string largeCsv()
{
    std::string text;
    const std::string line = "12345,a field of some length,\"another, with \"\"quotes\"\"\",3.14159\n";
    text.reserve(40u << 20);
    while (text.size() < (40u << 20))
        text += line;
    return text;
}

std::string largePropertyList()
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n";
    const std::string row = "\t<array><string>a field of some length</string><integer>12345</integer></array>\n";
    text.reserve(40u << 20);
    while (text.size() < (40u << 20))
        text += row;
    return text + "</array>\n</plist>\n";
}

TEST_F(MainWindowTest, CancelAbandonsTheFileBeingConvertedAndListsTheRest)
{
    const struct {
        const char* name;
        const char* source;
        const char* output;
        std::string (*contents)();
    } cases[] = {
        {"csv to property list", "big.csv", "big.plist", largeCsv},
        {"property list to csv", "big.plist", "big.csv", largePropertyList},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string existing = "an earlier result, to be left exactly as it is\n";
        dir.write(std::string("out/") + c.output, existing);
        chosenFiles = {qs(dir.write(c.source, c.contents())), qs(dir.write("a.csv", "a\n")),
                       qs(dir.write("b.csv", "b\n"))};

        // Cancelled from the first report of progress inside the large file, whenever it comes.
        int barValue = -1;
        const QMetaObject::Connection cancelOnProgress =
            QObject::connect(window.dropView(), &mainView::fileProgress, window.cancelButton(), [this, &barValue] {
                if (barValue < 0) {
                    barValue = window.progressBar()->value();
                    window.cancelButton()->click();
                }
            });
        QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
        window.openFiles();
        ASSERT_TRUE(finished.wait(120000));
        QObject::disconnect(cancelOnProgress);

        // The bar moved inside the first file, by bytes of the whole drop.
        EXPECT_GT(barValue, 0);
        EXPECT_LT(barValue, window.progressBar()->maximum());
        ASSERT_EQ(window.results()->rowCount(), 3);
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(window.results()->state(row), ResultsModel::State::Cancelled) << row;
        EXPECT_EQ(dir.read(std::string("out/") + c.output), existing);
        EXPECT_EQ(QDir(qs(dir.file("out"))).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{qs(c.output)});
        EXPECT_TRUE(window.statusLabel()->text().contains(QStringLiteral("3 cancelled")))
            << window.statusLabel()->text().toStdString();
        ASSERT_TRUE(QFile::remove(qs(dir.file(std::string("out/") + c.output))));
    }
}

} // namespace
