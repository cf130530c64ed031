#include "gui/StatusText.hpp"

#include <gtest/gtest.h>

using namespace plistable;
using namespace plistable::gui;

namespace {

using Status = ConversionReport::Status;

ConversionReport report(const std::string& source, Status status, const std::string& output = {},
                        const std::string& encoding = {}, std::vector<std::string> problems = {},
                        std::vector<std::string> notes = {})
{
    ConversionReport r;
    r.sourcePath = source;
    r.status = status;
    r.outputPath = output;
    r.encodingName = encoding;
    r.problems = std::move(problems);
    r.notes = std::move(notes);
    return r;
}

TEST(StatusTextTest, DescribesEachFile)
{
    struct Case {
        const char* name;
        ConversionReport report;
        const char* line;
    };
    const Case cases[] = {
        {"csv converted", report("/in/a.csv", Status::Converted, "/out/a.plist", "UTF-8"),
         "a.csv → a.plist (read as UTF-8)"},
        {"plist converted", report("/in/b.plist", Status::Converted, "/out/b.csv"), "b.plist → b.csv"},
        {"partial", report("/in/c.csv", Status::Partial, "/out/c.plist", "Shift_JIS", {"line 3: unexpected double quote"}),
         "c.csv → c.plist, incomplete: line 3: unexpected double quote (read as Shift_JIS)"},
        {"failed", report("/in/d.csv", Status::Failed, "", "UTF-8", {"cannot read: denied", "second"}),
         "d.csv: not converted: cannot read: denied; second (read as UTF-8)"},
        {"guessed encoding", report("/in/e.csv", Status::Converted, "/out/e.plist", "macintosh", {}, {"read as Mac OS Roman"}),
         "e.csv → e.plist (read as macintosh); read as Mac OS Roman"},
        {"skipped", report("/in/f.txt", Status::Skipped, "", "", {}, {"not a .csv or .plist file; passed over"}),
         "f.txt: not a .csv or .plist file; passed over"},
        {"skipped silently", report("/in/g", Status::Skipped), "g: passed over"},
        {"cancelled", report("/in/h.csv", Status::Cancelled, "", "", {"stopped on request; nothing was written"}),
         "h.csv: cancelled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(describeReport(c.report).toStdString(), c.line);
    }
}

TEST(StatusTextTest, SummaryCountsWrittenTroubledAndPassedOver)
{
    const std::vector<ConversionReport> reports = {
        report("/in/a.csv", Status::Converted, "/out/a.plist", "UTF-8"),
        report("/in/b.csv", Status::Partial, "/out/b.plist", "UTF-8", {"bad"}),
        report("/in/c.plist", Status::Failed, "", "", {"unreadable"}),
        report("/in/d.txt", Status::Skipped),
    };
    const StatusText text = describeReports(reports, QStringLiteral("/out/"));
    EXPECT_EQ(text.summary.toStdString(), "Wrote 2 of 3 files to /out/; 2 with problems; 1 passed over.");
    EXPECT_EQ(text.lines.size(), 4);
    EXPECT_EQ(text.problems.size(), 2);
    EXPECT_EQ(describeReports({}, QStringLiteral("/out/")).summary.toStdString(), "Nothing to convert.");

    // Cancelled files count among the files but are no problem: the user asked for it.
    const StatusText stopped =
        describeReports({reports[0], report("/in/e.csv", Status::Cancelled)}, QStringLiteral("/out/"));
    EXPECT_EQ(stopped.summary.toStdString(), "Wrote 1 of 2 files to /out/; 1 cancelled.");
    EXPECT_TRUE(stopped.problems.isEmpty());
}

TEST(StatusTextTest, ShortStatusShowsProblemsFirstAndCountsTheRest)
{
    std::vector<ConversionReport> reports;
    for (int i = 0; i < 5; ++i)
        reports.push_back(report("/in/ok" + std::to_string(i) + ".csv", Status::Converted, "/out/ok.plist", "UTF-8"));
    reports.push_back(report("/in/late.csv", Status::Failed, "", "", {"cannot be decoded"}));
    const QStringList shown = shortStatus(describeReports(reports, QStringLiteral("/out/")), 2).split(QLatin1Char('\n'));
    ASSERT_EQ(shown.size(), 4);
    EXPECT_TRUE(shown[1].startsWith(QStringLiteral("late.csv: not converted")));
    EXPECT_TRUE(shown[2].startsWith(QStringLiteral("ok0.csv")));
    EXPECT_TRUE(shown[3].contains(QStringLiteral("4 more")));
    EXPECT_EQ(shortStatus(describeReports(reports, QStringLiteral("/out/")), 10).split(QLatin1Char('\n')).size(), 7);
}

} // namespace
