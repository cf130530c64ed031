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
#include <numeric>
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
