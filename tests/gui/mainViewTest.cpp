#include "gui/mainView.hpp"

#include "core/UserDefaults.hpp"
#include "gui/Localization.hpp"
#include "gui/GuiTestSupport.hpp"
#include "support/TestSupport.hpp"

#include <QDragEnterEvent>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace plistable;
using namespace plistable::gui;
using plistable::test::fileDrag;
using plistable::test::qs;
using plistable::test::RecordingChooser;
using plistable::test::TempDir;

namespace {

using Status = ConversionReport::Status;

const std::string arrayPlist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<plist version=\"1.0\">\n<array>\n\t<array>\n\t\t<string>x</string>\n"
                               "\t\t<string>y</string>\n\t</array>\n</array>\n</plist>\n";

QStringList filesIn(const std::string& folder)
{
    return QDir(qs(folder)).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

class mainViewTest : public ::testing::Test {
protected:
    TempDir dir;
    UserDefaults defaults{dir.file("settings.json")};
    RecordingChooser chooser;
    mainView view{defaults};

    void SetUp() override
    {
        ::mkdir(dir.file("out").c_str(), 0700);
        chooser.answer = qs(dir.file("out"));
        view.setFolderChooser(chooser.chooser());
    }

    // Sends a drag entering the view and its drop, as the platform would, and reports whether the
    // view accepted the drop. (Qt hands a drop only to the widget that accepted the drag's entry.)
    bool drop(const QMimeData& data)
    {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        event.setAccepted(false);
        QCoreApplication::sendEvent(&view, &event);
        return event.isAccepted();
    }

    ConversionReports waitForReports(QSignalSpy& finished)
    {
        if (finished.isEmpty() && !finished.wait(30000))
            return {};
        return finished.takeFirst().at(0).value<ConversionReports>();
    }
};

TEST_F(mainViewTest, DropConvertsEveryFileInDropOrderIntoTheChosenFolder)
{
    const std::string a = dir.write("a.csv", "a,b\n1,2\n");
    const std::string b = dir.write("b.plist", arrayPlist);
    const std::string c = dir.write("c.txt", "not a table");
    QSignalSpy finished(&view, &mainView::conversionFinished);
    QSignalSpy progress(&view, &mainView::fileConverted);

    const auto data = fileDrag({a, b, c});
    EXPECT_TRUE(drop(*data));
    const ConversionReports reports = waitForReports(finished);

    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].sourcePath, a);
    EXPECT_EQ(reports[0].status, Status::Converted);
    EXPECT_EQ(reports[0].outputPath, dir.file("out/a.plist"));
    EXPECT_EQ(reports[1].sourcePath, b);
    EXPECT_EQ(reports[2].sourcePath, c);
    EXPECT_EQ(reports[2].status, Status::Skipped);
    EXPECT_NE(dir.read("out/a.plist").find("<string>a</string>"), std::string::npos);
    EXPECT_EQ(reports[1].status, Status::Converted);
    EXPECT_EQ(reports[1].outputPath, dir.file("out/b.csv"));
    EXPECT_EQ(dir.read("out/b.csv"), "x,y\n");
    EXPECT_EQ(view.saveDirPath(), qs(dir.file("out") + "/"));

    // Progress came file by file, in drop order, before the end.
    ASSERT_EQ(progress.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(progress.at(i).at(0).toInt(), i);
    ASSERT_EQ(chooser.questions.size(), 1u);
}

TEST_F(mainViewTest, CancelledFolderConvertsNothingAndKeepsTheSaveFolder)
{
    const std::string a = dir.write("a.csv", "a,b\n");
    QSignalSpy finished(&view, &mainView::conversionFinished);
    const auto data = fileDrag({a});
    ASSERT_TRUE(view.performDragOperation(data.get()));
    waitForReports(finished);
    ASSERT_EQ(view.saveDirPath(), qs(dir.file("out") + "/"));
    ASSERT_TRUE(QFile::remove(qs(dir.file("out/a.plist"))));

    chooser.answer.reset();
    QSignalSpy cancelled(&view, &mainView::conversionCancelled);
    EXPECT_TRUE(view.performDragOperation(data.get())); // a cancelled drop is still a handled drop
    EXPECT_TRUE(drop(*data));                            // the same through the event, asked after it
    ASSERT_TRUE(cancelled.size() == 2 || cancelled.wait(10000));
    EXPECT_EQ(cancelled.size(), 2);
    EXPECT_FALSE(view.isBusy());
    EXPECT_EQ(view.saveDirPath(), qs(dir.file("out") + "/"));
    EXPECT_TRUE(filesIn(dir.file("out")).isEmpty());
    EXPECT_EQ(finished.size(), 0);
}

TEST_F(mainViewTest, DragsWithoutFileNamesAreRefusedAtTheDrop)
{
    struct Case {
        const char* name;
        std::function<void(QMimeData&)> fill;
    };
    const Case cases[] = {
        {"colour", [](QMimeData& d) { d.setColorData(QColor(Qt::red)); }},
        {"plain text", [](QMimeData& d) { d.setText(QStringLiteral("/tmp/a.csv")); }},
        {"web link", [](QMimeData& d) { d.setUrls({QUrl(QStringLiteral("https://example.org/a.csv"))}); }},
        {"nothing", [](QMimeData&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QMimeData data;
        c.fill(data);
        EXPECT_FALSE(view.performDragOperation(&data));
        EXPECT_FALSE(drop(data));
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(chooser.questions.empty());
    EXPECT_FALSE(view.performDragOperation(nullptr));
}

TEST_F(mainViewTest, EveryDragIsOfferedTheCopyAction)
{
    QMimeData colour;
    colour.setColorData(QColor(Qt::blue));
    const auto files = fileDrag({dir.file("a.csv")});
    QMimeData empty;
    for (const QMimeData* data : std::initializer_list<const QMimeData*>{&colour, files.get(), &empty}) {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, data, Qt::LeftButton,
                              Qt::NoModifier);
        enter.setAccepted(false);
        QCoreApplication::sendEvent(&view, &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_EQ(enter.dropAction(), Qt::CopyAction);

        QDragMoveEvent move(QPoint(6, 6), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        move.setAccepted(false);
        QCoreApplication::sendEvent(&view, &move);
        EXPECT_TRUE(move.isAccepted());
        EXPECT_EQ(move.dropAction(), Qt::CopyAction);
    }
}

TEST_F(mainViewTest, FolderQuestionStartsInTheFirstFilesFolderWithTheShippedTexts)
{
    ::mkdir(dir.file("one").c_str(), 0700);
    ::mkdir(dir.file("two").c_str(), 0700);
    const std::string second = dir.write("one/second.csv", "x\n");
    const std::string first = dir.write("two/first.csv", "y\n");
    QSignalSpy finished(&view, &mainView::conversionFinished);
    const auto data = fileDrag({first, second});
    ASSERT_TRUE(view.performDragOperation(data.get()));
    const ConversionReports reports = waitForReports(finished);

    ASSERT_EQ(chooser.questions.size(), 1u);
    EXPECT_EQ(chooser.questions[0].startFolder, qs(dir.file("two")));
    EXPECT_EQ(chooser.questions[0].title, Localization::localizedString(QStringLiteral("OPEN_PANEL_TITLE")));
    EXPECT_EQ(chooser.questions[0].prompt, Localization::localizedString(QStringLiteral("OPEN_PANEL_PROMPT")));
    EXPECT_NE(chooser.questions[0].title, QStringLiteral("OPEN_PANEL_TITLE"));
    EXPECT_NE(chooser.questions[0].prompt, QStringLiteral("OPEN_PANEL_PROMPT"));
    // Both outputs go to the one chosen folder.
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].outputPath, dir.file("out/first.plist"));
    EXPECT_EQ(reports[1].outputPath, dir.file("out/second.plist"));
}

TEST_F(mainViewTest, PercentEscapedFileUrlIsConverted)
{
    const std::string source = dir.write("a b%.csv", "k,v\n");
    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("file://") + qs(dir.path()) + QStringLiteral("/a%20b%25.csv"))});
    ASSERT_EQ(mainView::droppedFilePaths(&data), QStringList{qs(source)});

    QSignalSpy finished(&view, &mainView::conversionFinished);
    ASSERT_TRUE(view.performDragOperation(&data));
    const ConversionReports reports = waitForReports(finished);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].status, Status::Converted);
    EXPECT_EQ(reports[0].outputPath, dir.file("out/a b%.plist"));
}

TEST_F(mainViewTest, EmptyFileListAsksNothingAndConvertsNothing)
{
    QMimeData data;
    data.setUrls({});
    data.setData(QStringLiteral("text/uri-list"), QByteArray());
    EXPECT_TRUE(view.performDragOperation(&data));
    EXPECT_FALSE(view.convertFiles({}));
    EXPECT_TRUE(chooser.questions.empty());
    EXPECT_FALSE(view.isBusy());
}

TEST_F(mainViewTest, NewDropsAreRefusedUntilTheConversionEnds)
{
    const std::string a = dir.write("a.csv", "a\n");
    QSignalSpy finished(&view, &mainView::conversionFinished);
    QSignalSpy busy(&view, &mainView::busyChanged);
    const auto data = fileDrag({a});
    ASSERT_TRUE(view.performDragOperation(data.get()));
    // The end is delivered through the event loop, so until it runs the view is still busy.
    EXPECT_TRUE(view.isBusy());
    EXPECT_FALSE(view.performDragOperation(data.get()));
    EXPECT_FALSE(drop(*data));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &enter);
    EXPECT_FALSE(enter.isAccepted());

    waitForReports(finished);
    EXPECT_FALSE(view.isBusy());
    EXPECT_EQ(chooser.questions.size(), 1u);
    ASSERT_EQ(busy.size(), 2);
    EXPECT_TRUE(busy.at(0).at(0).toBool());
    EXPECT_FALSE(busy.at(1).at(0).toBool());
    EXPECT_TRUE(view.performDragOperation(data.get()));
    waitForReports(finished);
}

TEST_F(mainViewTest, ClosingDuringALargeDropStopsCleanly)
{
    std::vector<std::string> files;
    for (int i = 0; i < 200; ++i)
        files.push_back(dir.write(std::string("f").append(std::to_string(i)).append(".csv"), "a,b\n1,2\n")); // not "f" + ...: GCC 12 false -Wrestrict
    auto other = std::make_unique<mainView>(defaults);
    other->setFolderChooser(chooser.chooser());
    const auto data = fileDrag(files);
    ASSERT_TRUE(other->performDragOperation(data.get()));
    other.reset(); // must wait for the worker instead of leaving it to post to a dead view
    QCoreApplication::processEvents();
    // The file being converted when the view went away is finished; nothing is left half written.
    const QStringList written = filesIn(dir.file("out"));
    for (const QString& name : written)
        EXPECT_TRUE(name.endsWith(QStringLiteral(".plist"))) << name.toStdString();
}

TEST_F(mainViewTest, PaintsTheBackgroundColour)
{
    view.resize(200, 120);
    const QImage image = view.grab().toImage();
    for (const QPoint point : {QPoint(2, 2), QPoint(197, 117), QPoint(197, 2)}) {
        const QColor colour = image.pixelColor(point);
        EXPECT_EQ(colour.red(), 51);
        EXPECT_EQ(colour.green(), 54);
        EXPECT_EQ(colour.blue(), 59);
        EXPECT_EQ(colour.alpha(), 255);
    }
}

} // namespace

namespace {

TEST_F(mainViewTest, FolderQuestionStartsInTheLastChosenFolderAfterARestart)
{
    ::mkdir(dir.file("in").c_str(), 0700);
    const std::string file = dir.write("in/a.csv", "x\n");
    QSignalSpy finished(&view, &mainView::conversionFinished);
    ASSERT_TRUE(view.convertFiles({qs(file)}));
    waitForReports(finished);

    // A new window reading the same store, as after quitting and starting again.
    UserDefaults restarted(dir.file("settings.json"));
    EXPECT_EQ(restarted.objectForKey("header"), std::nullopt);
    mainView again(restarted);
    RecordingChooser secondChooser; // answers nothing: the question is all this test needs
    again.setFolderChooser(secondChooser.chooser());
    again.convertFiles({qs(file)});
    ASSERT_EQ(secondChooser.questions.size(), 1u);
    EXPECT_EQ(secondChooser.questions[0].startFolder, qs(dir.file("out")));
}

} // namespace

namespace {

TEST_F(mainViewTest, ReconvertReadsOneFileAgainIntoTheDropsFolderWithoutAskingOrReportingADrop)
{
    const std::string latin = dir.write("latin.csv", "caf\xE9\n");
    EXPECT_FALSE(view.reconvert(qs(latin), QStringLiteral("windows-1252"))); // no drop yet: no folder
    QSignalSpy finished(&view, &mainView::conversionFinished);
    ASSERT_TRUE(view.convertFiles({qs(latin)}));
    waitForReports(finished);

    QSignalSpy started(&view, &mainView::conversionStarted);
    QSignalSpy converted(&view, &mainView::fileConverted);
    QSignalSpy reconverted(&view, &mainView::reconverted);
    ASSERT_TRUE(view.reconvert(qs(latin), QStringLiteral("windows-1252")));
    EXPECT_TRUE(view.isBusy());
    EXPECT_FALSE(view.reconvert(qs(latin), QStringLiteral("windows-1252")));
    ASSERT_TRUE(reconverted.wait(30000));
    const auto report = reconverted.takeFirst().at(0).value<ConversionReport>();
    EXPECT_EQ(report.status, Status::Converted);
    EXPECT_FALSE(report.encodingGuessed);
    EXPECT_EQ(report.outputPath, dir.file("out/latin.plist"));
    EXPECT_EQ(chooser.questions.size(), 1u);
    EXPECT_EQ(started.size(), 0);
    EXPECT_EQ(converted.size(), 0);
    EXPECT_EQ(finished.size(), 0);
    EXPECT_EQ(view.droppedPaths(), QStringList{qs(latin)});
    EXPECT_FALSE(view.isBusy());
}

} // namespace
