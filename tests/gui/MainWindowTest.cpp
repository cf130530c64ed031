#include "gui/MainWindow.hpp"

#include "core/UserDefaults.hpp"
#include "gui/AppDelegate.hpp"
#include "gui/DetailsPane.hpp"
#include "gui/OptionsPanel.hpp"
#include "gui/GuiTestSupport.hpp"
#include "gui/ResultsModel.hpp"
#include "support/TestSupport.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QTableWidget>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include <gtest/gtest.h>
#include <numeric>
#include <set>
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
    // The drop view is a band above the results, which take the room.
    EXPECT_LT(window.dropView()->height(), window.height() / 8);
    EXPECT_GT(window.resultsView()->height(), window.dropView()->height() * 2);
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
    // One line of counts and the folder; a line per file in its tooltip.
    const QString status = window.statusLabel()->text();
    EXPECT_TRUE(status.contains(qs(dir.file("out") + "/"))) << status.toStdString();
    EXPECT_FALSE(status.contains(QLatin1Char('\n'))) << status.toStdString();
    const QString lines = window.statusLabel()->toolTip();
    EXPECT_TRUE(lines.contains(QStringLiteral("a.csv → a.plist (read as UTF-8)"))) << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("notes.txt"))) << lines.toStdString();
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
        {State::Failed, "a property list whose root is a string"},
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

TEST_F(MainWindowTest, ADropConvertedSideBySideGivesTheRowsAndResultsOfOneFileAfterAnother)
{
    // A larger file first, so that the files after it are done before it when they convert beside it;
    // an output that a later file reads, and two files that write the same output.
    std::string large;
    while (large.size() < (3u << 20))
        large += "12345,some text,\"quoted, with a comma\"\n";
    ::mkdir(dir.file("b").c_str(), 0700);
    const QStringList drop = {
        qs(dir.write("large.csv", large)),
        qs(dir.write("a.csv", "a,b\n1,2\n")),
        qs(dir.write("quote.csv", "a,b\nx,y\"z\n")),
        qs(dir.file("missing.csv")),
        qs(dir.write("notes.txt", "x")),
        qs(dir.write("latin.csv", "caf\xE9\n")),
        qs(dir.file("out/a.plist")),
        qs(dir.write("list.plist", "<plist><string>a</string></plist>")),
        qs(dir.write("b/a.csv", "second\n")),
    };
    struct Outcome {
        std::vector<int> converted; // the indexes of fileConverted, as they came
        std::vector<QStringList> rows;
        QString status;
        std::vector<std::pair<std::string, std::string>> outputs; // name and bytes
    };
    auto convert = [&](unsigned jobs) {
        for (const QString& name : QDir(qs(dir.file("out"))).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
            QFile::remove(qs(dir.file("out/" + name.toStdString())));
        window.dropView()->setJobs(jobs);
        Outcome outcome;
        const QMetaObject::Connection order = QObject::connect(
            window.dropView(), &mainView::fileConverted, &window,
            [&outcome](int index, const ConversionReport&) { outcome.converted.push_back(index); });
        chosenFiles = drop;
        QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
        window.openFiles();
        EXPECT_TRUE(finished.wait(60000));
        QObject::disconnect(order);
        for (int row = 0; row < window.results()->rowCount(); ++row) {
            QStringList columns;
            for (int column = 0; column < ResultsModel::ColumnCount; ++column)
                columns.append(window.results()->index(row, column).data().toString());
            outcome.rows.push_back(columns);
        }
        outcome.status = window.statusLabel()->toolTip();
        for (const QString& name : QDir(qs(dir.file("out"))).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
            outcome.outputs.emplace_back(name.toStdString(), dir.read("out/" + name.toStdString()));
        return outcome;
    };
    const Outcome sequential = convert(1);
    std::vector<int> inOrder(static_cast<std::size_t>(drop.size()));
    std::iota(inOrder.begin(), inOrder.end(), 0);
    ASSERT_EQ(sequential.converted, inOrder);
    ASSERT_EQ(sequential.rows.size(), inOrder.size());
    EXPECT_EQ(sequential.rows[6][ResultsModel::StateColumn], QStringLiteral("Converted")); // a.csv's output, read back
    for (const unsigned jobs : {2u, 4u}) {
        SCOPED_TRACE(jobs);
        const Outcome parallel = convert(jobs);
        EXPECT_EQ(parallel.converted, inOrder);
        EXPECT_EQ(parallel.rows, sequential.rows);
        EXPECT_EQ(parallel.status, sequential.status);
        EXPECT_EQ(parallel.outputs, sequential.outputs);
    }
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

// Large enough that the conversion is still reading it when the first progress report reaches the
// window, however fast it runs: 200 MB, written as one line repeated in blocks of about 1 MiB, which
// takes a fraction of a second.
constexpr std::size_t largeSize = 200u << 20;

void writeRepeated(const std::string& path, const std::string& head, const std::string& line,
                   const std::string& tail)
{
    std::string block;
    while (block.size() < (1u << 20))
        block += line;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::size_t written = std::fwrite(head.data(), 1, head.size(), file);
    while (written < largeSize)
        written += std::fwrite(block.data(), 1, block.size(), file);
    std::fwrite(tail.data(), 1, tail.size(), file);
    ASSERT_EQ(std::fclose(file), 0) << path;
}

void writeLargeCsv(const std::string& path)
{
    writeRepeated(path, "", "12345,a field of some length,\"another, with \"\"quotes\"\"\",3.14159\n", "");
}

void writeLargePropertyList(const std::string& path)
{
    writeRepeated(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n",
                  "\t<array><string>a field of some length</string><integer>12345</integer></array>\n",
                  "</array>\n</plist>\n");
}

// Which rows a cancelled drop may show: the files being converted are abandoned, those not started
// are listed as such, and a file done before the cancel (converting beside the large one) stays done.
// AnyOutcome: done, abandoned or not started, as the cancel happens to fall; the check below that
// the output folder holds the outputs of exactly the files reported done still applies.
enum class AfterCancel { Abandoned, NotStarted, AbandonedOrDone, AnyOutcome };

TEST_F(MainWindowTest, CancelAbandonsTheFilesBeingConvertedAndListsTheRest)
{
    const std::string existing = "an earlier result, to be left exactly as it is\n";
    const struct {
        const char* name;
        unsigned jobs;
        struct Large {
            const char* source;
            const char* output;
        };
        std::vector<Large> large;
        std::vector<AfterCancel> rows; // the large files first, then a.csv and b.csv
    } cases[] = {
        {"csv to property list, one at a time", 1, {{"big.csv", "big.plist"}},
         {AfterCancel::Abandoned, AfterCancel::NotStarted, AfterCancel::NotStarted}},
        {"property list to csv, one at a time", 1, {{"big.plist", "big.csv"}},
         {AfterCancel::Abandoned, AfterCancel::NotStarted, AfterCancel::NotStarted}},
        {"two large ones side by side", 2, {{"big.csv", "big.plist"}, {"big.plist", "big.csv"}},
         {AfterCancel::AbandonedOrDone, AfterCancel::AbandonedOrDone, AfterCancel::NotStarted,
          AfterCancel::NotStarted}},
        {"small ones beside a large one", 3, {{"big.csv", "big.plist"}},
         {AfterCancel::Abandoned, AfterCancel::AnyOutcome, AfterCancel::AnyOutcome}},
    };
    // The inputs are only read: written once for every case.
    writeLargeCsv(dir.file("big.csv"));
    writeLargePropertyList(dir.file("big.plist"));
    ASSERT_FALSE(HasFatalFailure());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window.dropView()->setJobs(c.jobs);
        chosenFiles.clear();
        for (const auto& large : c.large) {
            dir.write(std::string("out/") + large.output, existing);
            chosenFiles.append(qs(dir.file(large.source)));
        }
        chosenFiles.append(qs(dir.write("a.csv", "a\n")));
        chosenFiles.append(qs(dir.write("b.csv", "b\n")));
        const QStringList before = QDir(qs(dir.file("out"))).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);

        // Cancelled from the first report of progress inside a large file, whenever it comes.
        int barValue = -1;
        const QMetaObject::Connection cancelOnProgress =
            QObject::connect(window.dropView(), &mainView::fileProgress, window.cancelButton(),
                             [this, &barValue, large = static_cast<int>(c.large.size())](int index, qint64 done) {
                if (barValue < 0 && index < large && done > 0) {
                    barValue = window.progressBar()->value();
                    window.cancelButton()->click();
                }
            });
        QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
        window.openFiles();
        ASSERT_TRUE(finished.wait(120000));
        QObject::disconnect(cancelOnProgress);

        // The bar moved inside the drop, by bytes of the whole drop.
        EXPECT_GT(barValue, 0);
        EXPECT_LT(barValue, window.progressBar()->maximum());
        const ResultsModel& results = *window.results();
        ASSERT_EQ(results.rowCount(), static_cast<int>(c.rows.size()));
        QStringList expectedFiles = before;
        int cancelled = 0;
        for (int row = 0; row < results.rowCount(); ++row) {
            SCOPED_TRACE(row);
            EXPECT_EQ(QFile::encodeName(chosenFiles[row]).toStdString(), results.report(row).sourcePath);
            const ResultsModel::State state = results.state(row);
            const QString reason = results.index(row, ResultsModel::ReasonColumn).data().toString();
            const bool notStarted = reason == QStringLiteral("the drop was cancelled before this file");
            const bool done = state == ResultsModel::State::Converted;
            switch (c.rows[static_cast<std::size_t>(row)]) {
            case AfterCancel::Abandoned:
                EXPECT_EQ(state, ResultsModel::State::Cancelled);
                EXPECT_FALSE(notStarted) << reason.toStdString();
                break;
            case AfterCancel::NotStarted:
                EXPECT_EQ(state, ResultsModel::State::Cancelled);
                EXPECT_TRUE(notStarted) << reason.toStdString();
                break;
            case AfterCancel::AbandonedOrDone:
                EXPECT_TRUE(done || (state == ResultsModel::State::Cancelled && !notStarted)) << reason.toStdString();
                break;
            case AfterCancel::AnyOutcome:
                EXPECT_TRUE(done || state == ResultsModel::State::Cancelled) << reason.toStdString();
                break;
            }
            cancelled += done ? 0 : 1;
            if (done && !expectedFiles.contains(results.outputPath(row).section(QLatin1Char('/'), -1)))
                expectedFiles.append(results.outputPath(row).section(QLatin1Char('/'), -1));
        }
        // Untouched earlier results beside whatever was done, and no temporary left.
        for (std::size_t row = 0; row < c.large.size(); ++row) {
            if (results.state(static_cast<int>(row)) == ResultsModel::State::Cancelled) {
                EXPECT_EQ(dir.read(std::string("out/") + c.large[row].output), existing);
            }
        }
        expectedFiles.sort();
        EXPECT_EQ(QDir(qs(dir.file("out"))).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                  expectedFiles);
        EXPECT_TRUE(window.statusLabel()->text().contains(QStringLiteral("%1 cancelled").arg(cancelled)))
            << window.statusLabel()->text().toStdString();
        for (const QString& name : QDir(qs(dir.file("out"))).entryList(QDir::Files | QDir::NoDotAndDotDot))
            ASSERT_TRUE(QFile::remove(qs(dir.file("out/" + name.toStdString()))));
    }
}

} // namespace

namespace {

// A drop of one file of each kind and outcome, for the tests of the layout and the details.
QStringList mixedDrop(const TempDir& dir)
{
    return {qs(dir.write("fruit-with-a-long-name-for-its-column.csv", "name,colour\napple,red\npear,green\n")),
            qs(dir.write("list.plist", "<plist><array><dict><key>k</key><string>v</string></dict></array></plist>")),
            qs(dir.write("latin.csv", "caf\xE9\n")), qs(dir.write("quote.csv", "a,b\nx,y\"z\n")),
            qs(dir.write("notes.txt", "x"))};
}

TEST_F(MainWindowTest, FitsAnEightHundredBySixHundredScreenAndGivesGrowthToTheResults)
{
    EXPECT_LE(window.width(), 800);
    EXPECT_LE(window.height(), 570); // the title bar takes the rest
    EXPECT_LE(window.minimumWidth(), 800);
    EXPECT_LE(window.minimumHeight(), 570);
    chosenFiles = mixedDrop(dir);
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.show();
    window.openFiles();
    ASSERT_TRUE(finished.wait(30000));

    window.resize(800, 600);
    QApplication::processEvents();
    QTreeView& list = *window.resultsView();
    // Every column in view with at least its heading, the reason with room to be read.
    EXPECT_LE(list.header()->length(), list.viewport()->width());
    for (int column = 0; column < ResultsModel::ColumnCount; ++column) {
        SCOPED_TRACE(column);
        const QString heading = window.results()->headerData(column, Qt::Horizontal).toString();
        EXPECT_GE(list.columnWidth(column), list.fontMetrics().horizontalAdvance(heading));
    }
    EXPECT_GE(list.columnWidth(ResultsModel::ReasonColumn), 150);
    EXPECT_GE(list.height(), 5 * list.sizeHintForRow(0));
    // The Reason whole in a tooltip and in the details.
    const QModelIndex latin = window.results()->index(2, ResultsModel::ReasonColumn);
    EXPECT_EQ(latin.data(Qt::ToolTipRole), latin.data());
    window.showDetails(2);
    EXPECT_EQ(window.details()->reasonLabel()->text(), latin.data().toString());

    const int listHeight = list.height();
    const int band = window.dropView()->height();
    window.resize(1200, 900);
    QApplication::processEvents();
    EXPECT_GT(list.height(), listHeight);
    EXPECT_EQ(window.dropView()->height(), band);
}

TEST_F(MainWindowTest, FilesDroppedAnywhereOnTheWindowAreConverted)
{
    window.show();
    const auto data = plistable::test::fileDrag({dir.write("a.csv", "a\n")});
    const QPoint overTheList = window.resultsView()->mapTo(&window, window.resultsView()->rect().center());
    QDragEnterEvent enter(overTheList, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    QDropEvent drop(QPointF(overTheList), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(window.results()->rowCount(), 1);
    EXPECT_FALSE(dir.read("out/a.plist").empty());
}

TEST_F(MainWindowTest, SelectingAResultShowsItsFirstRowsAndItsProblems)
{
    window.show();
    chosenFiles = mixedDrop(dir);
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.openFiles();
    ASSERT_TRUE(finished.wait(30000));
    const struct {
        int row;
        std::vector<QStringList> cells; // the preview's rows
        const char* summaryPart;
        bool readAs;
    } cases[] = {
        // The first row is selected when the drop ends; a property list is shown as its table.
        {0, {{"name", "colour"}, {"apple", "red"}, {"pear", "green"}}, "encoding read: UTF-8", false},
        {1, {{"v"}}, "rows written: 1", false},
        // As read: the Latin-1 byte of "é" is "È" in Mac OS Roman.
        {2, {{QStringLiteral("caf\u00C8")}}, "encoding read: Mac OS Roman", true},
        {3, {{"a", "b"}, {"x", "y"}}, "rows written: 2", false},
        {4, {}, "notes.txt", false},
    };
    ASSERT_NE(window.details()->table()->item(1, 0), nullptr);
    EXPECT_EQ(window.details()->table()->item(1, 0)->text(), QStringLiteral("apple"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        if (c.row > 0)
            window.resultsView()->setCurrentIndex(window.results()->index(c.row, 0));
        const DetailsPane& details = *window.details();
        EXPECT_EQ(details.preview().rows, c.cells);
        EXPECT_TRUE(details.summaryLabel()->text().contains(QString::fromUtf8(c.summaryPart)))
            << details.summaryLabel()->text().toStdString();
        EXPECT_EQ(details.readAsButton()->isEnabled(), c.readAs);
        EXPECT_EQ(details.table()->rowCount(), static_cast<int>(c.cells.size()));
    }
}

TEST_F(MainWindowTest, OptionsAreStoredAndApplyToTheNextDrop)
{
    window.show();
    window.optionsButton()->click();
    ASSERT_TRUE(window.optionsPanel()->isVisible());
    window.optionsPanel()->excelBox()->click();
    QTest::keyClick(window.optionsPanel()->delimiterOutBox(), Qt::Key_Down); // semicolon
    EXPECT_EQ(UserDefaults(dir.file("settings.json")).objectForKey("excel"), true);

    chosenFiles = {qs(dir.write("rows.plist", "<plist><array><array><string>a</string><string>b</string></array>"
                                              "</array></plist>"))};
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.openFiles();
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(dir.read("out/rows.csv"), "\xEF\xBB\xBF" "a;b\r\n");
    // The preview reads the output as it was written.
    EXPECT_EQ(window.details()->preview().rows, (std::vector<QStringList>{{"a", "b"}}));

    // A window of the next run starts from the store; the form is set as `plistable config` sets it.
    UserDefaults store(dir.file("settings.json"));
    store.setString("outputForm", "json");
    ASSERT_TRUE(store.synchronize());
    MainWindow next(store);
    next.dropView()->setFolderChooser(chooser.chooser());
    EXPECT_TRUE(next.optionsPanel()->excelBox()->isChecked());
    QSignalSpy nextFinished(next.dropView(), &mainView::conversionFinished);
    next.dropView()->convertFiles({qs(dir.write("t.csv", "1,x\n"))});
    ASSERT_TRUE(nextFinished.wait(30000));
    // Read with the delimiter read (","), not the one written.
    EXPECT_EQ(dir.read("out/t.json"), "[\n[\"1\",\"x\"]\n]\n");
}

TEST_F(MainWindowTest, TheKeyboardReachesEveryControl)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    chosenFiles = mixedDrop(dir);
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    window.openFiles();
    ASSERT_TRUE(finished.wait(30000));
    window.resultsView()->setCurrentIndex(window.results()->index(2, 0)); // Read as… is offered
    window.optionsButton()->setFocus();
    QTest::keyClick(window.optionsButton(), Qt::Key_Space);
    ASSERT_TRUE(window.optionsPanel()->isVisible());

    std::set<QWidget*> reached;
    window.openButton()->setFocus();
    for (int step = 0; step < 100 && reached.insert(QApplication::focusWidget()).second; ++step)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    for (QWidget* control : window.findChildren<QWidget*>()) {
        if (!control->isVisible() || !control->isEnabled() || (control->focusPolicy() & Qt::TabFocus) == 0
            || control->focusProxy() != nullptr)
            continue;
        SCOPED_TRACE(control->metaObject()->className() + (" " + control->accessibleName().toStdString()));
        EXPECT_EQ(reached.count(control), 1u);
    }
    EXPECT_GE(reached.size(), 13u);
}

} // namespace

namespace {

TEST_F(MainWindowTest, ADroppedFolderConvertsItsTablesGroupedUnderItsName)
{
    ::mkdir(dir.file("data").c_str(), 0700);
    ::mkdir(dir.file("data/sub").c_str(), 0700);
    dir.write("data/b.plist", "<plist><array><array><string>x</string></array></array></plist>");
    dir.write("data/a.csv", "1\n");
    dir.write("data/notes.txt", "x");
    dir.write("data/upper.CSV", "x");
    dir.write("data/sub/c.csv", "2\n");
    ::mkdir(dir.file("empty").c_str(), 0700);
    const struct {
        bool subfolders;
        QStringList names;
    } cases[] = {
        {false, {"data/a.csv", "data/b.plist", "empty", "single.csv"}},
        {true, {"data/a.csv", "data/b.plist", "data/sub/c.csv", "empty", "single.csv"}},
    };
    const QString single = qs(dir.write("single.csv", "3\n"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subfolders);
        defaults.setBool("includeSubfolders", c.subfolders);
        QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
        const auto data = plistable::test::fileDrag({dir.file("data"), dir.file("empty"), single.toStdString()});
        ASSERT_TRUE(window.dropView()->performDragOperation(data.get()));
        ASSERT_TRUE(finished.wait(30000));
        QStringList names;
        for (int row = 0; row < window.results()->rowCount(); ++row)
            names.append(window.results()->index(row, ResultsModel::SourceColumn).data().toString());
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(window.results()->state(static_cast<int>(names.indexOf("empty"))), ResultsModel::State::PassedOver);
        EXPECT_EQ(dir.read("out/b.csv"), "x\n");
    }
    EXPECT_EQ(dir.read("out/c.plist").find("<string>2</string>") != std::string::npos, true);
}

} // namespace

namespace {

TEST_F(MainWindowTest, AFolderOfLocalizationFilesOffersItsTableAndTheTableOffersImport)
{
    for (const char* folder : {"App", "App/en.lproj", "App/ja.lproj", "Back"})
        ::mkdir(dir.file(folder).c_str(), 0700);
    dir.write("App/en.lproj/Localizable.strings", "\"hello\" = \"Hello\";\n");
    dir.write("App/ja.lproj/Localizable.strings", "\"hello\" = \"こんにちは\";\n");
    std::vector<QString> offers;
    OfferAnswer answer = OfferAnswer::Accept;
    window.setOfferChooser([&](const QString&, const QString& offer) {
        offers.push_back(offer);
        return answer;
    });
    window.setSaveChooser([this](const QString&, const QString&) { return qs(dir.file("table.csv")); });
    QSignalSpy started(window.dropView(), &mainView::conversionStarted);

    EXPECT_FALSE(window.dropView()->convertFiles({qs(dir.file("App"))}));
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0], QStringLiteral("Export localization table…"));
    const std::string table = dir.read("table.csv");
    EXPECT_EQ(table.rfind("table,key,variant,comment,en,ja\n", 0), 0u) << table;
    EXPECT_NE(table.find("hello,,,Hello,こんにちは"), std::string::npos) << table;

    chooser.answer = qs(dir.file("Back"));
    EXPECT_FALSE(window.dropView()->convertFiles({qs(dir.file("table.csv"))}));
    ASSERT_EQ(offers.size(), 2u);
    EXPECT_EQ(offers[1], QStringLiteral("Import into…"));
    EXPECT_EQ(dir.read("Back/ja.lproj/Localizable.strings").find("\"hello\" = \"こんにちは\";") != std::string::npos,
              true);
    EXPECT_TRUE(window.statusLabel()->text().contains(QStringLiteral("Imported table.csv")))
        << window.statusLabel()->text().toStdString();
    EXPECT_EQ(started.size(), 0);

    // Declined: the table converts as any CSV file.
    answer = OfferAnswer::Convert;
    chooser.answer = qs(dir.file("out"));
    QSignalSpy finished(window.dropView(), &mainView::conversionFinished);
    EXPECT_TRUE(window.dropView()->convertFiles({qs(dir.file("table.csv"))}));
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_FALSE(dir.read("out/table.plist").empty());
}

} // namespace
