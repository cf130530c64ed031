#include "gui/ResultsModel.hpp"

#include <gtest/gtest.h>

using namespace plistable;
using namespace plistable::gui;
using Status = ConversionReport::Status;
using State = ResultsModel::State;

namespace {

ConversionReport report(Status status, std::vector<std::string> problems, std::vector<std::string> notes = {},
                        bool guessed = false)
{
    ConversionReport result;
    result.sourcePath = "/in/a.csv";
    result.outputPath = status == Status::Failed || status == Status::Skipped ? "" : "/out/a.plist";
    result.status = status;
    result.problems = std::move(problems);
    result.notes = std::move(notes);
    result.encodingGuessed = guessed;
    return result;
}

TEST(ResultsModelTest, GivesEachReportItsStateAndReasonWithoutCommandLineAdvice)
{
    struct Case {
        const char* name;
        ConversionReport report;
        State state;
        const char* reason;
    };
    const Case cases[] = {
        {"converted", report(Status::Converted, {}), State::Converted, ""},
        {"fallback", report(Status::Converted, {}, {"read as Mac OS Roman; use --encoding to choose another"}, true),
         State::Fallback, "read as Mac OS Roman; choose another with Read as…"},
        {"advice of an option the window has", report(Status::Partial, {"keys not in the first dictionary were left out: b"},
                                                       {"--all-keys writes a column for every key"}),
         State::Partial, "keys not in the first dictionary were left out: b; Options: “A column for every key” writes them all"},
        {"advice of an option the window lacks",
         report(Status::Converted, {}, {"--dedupe-keys renames repeated header names so that every value is kept"}),
         State::Converted, ""},
        {"partial", report(Status::Partial, {"line 2: unexpected double quote", "1 character replaced"}),
         State::Partial, "line 2: unexpected double quote; 1 character replaced"},
        {"failed", report(Status::Failed, {"cannot read: No such file or directory"}), State::Failed,
         "cannot read: No such file or directory"},
        {"passed over", report(Status::Skipped, {}, {"not a .csv or .plist file"}), State::PassedOver,
         "not a .csv or .plist file"},
    };
    ResultsModel model;
    for (const Case& c : cases)
        model.addReport(c.report);
    ASSERT_EQ(model.rowCount(), static_cast<int>(std::size(cases)));
    for (int row = 0; row < model.rowCount(); ++row) {
        SCOPED_TRACE(cases[row].name);
        EXPECT_EQ(model.state(row), cases[row].state);
        EXPECT_EQ(model.index(row, ResultsModel::ReasonColumn).data().toString(), QString::fromUtf8(cases[row].reason));
        EXPECT_EQ(model.index(row, ResultsModel::SourceColumn).data().toString(), QStringLiteral("a.csv"));
    }
    EXPECT_EQ(model.outputPath(0), QStringLiteral("/out/a.plist"));
    EXPECT_TRUE(model.outputPath(5).isEmpty());
}

TEST(ResultsModelTest, ListsFilesNotStartedAsCancelledAndClears)
{
    ResultsModel model;
    model.addCancelled(QStringLiteral("/in/late.csv"));
    EXPECT_EQ(model.state(0), State::Cancelled);
    EXPECT_EQ(model.index(0, ResultsModel::SourceColumn).data().toString(), QStringLiteral("late.csv"));
    EXPECT_TRUE(model.outputPath(0).isEmpty());
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
}

} // namespace
