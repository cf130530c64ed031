#include "gui/TablePreview.hpp"

#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace plistable;
using namespace plistable::gui;
using plistable::test::TempDir;

namespace {

std::vector<QStringList> rowsOf(std::initializer_list<QStringList> rows)
{
    return rows;
}

TEST(TablePreviewTest, ShowsTheTableAFileHolds)
{
    struct Case {
        const char* name;
        const char* file;
        std::string bytes;
        QStringList columns;
        std::vector<QStringList> rows;
        QString encoding;
        const char* problem; // part of the one problem, or "" for none
    };
    const QString utf8 = QStringLiteral("UTF-8");
    const char* plistHead = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    const Case cases[] = {
        {"csv with a header and a byte-order mark", "a.csv", "\xEF\xBB\xBFname;n\r\nx;1\r\n\"y;z\";2\r\n",
         {QStringLiteral("name"), QStringLiteral("n")}, rowsOf({{"x", "1"}, {"y;z", "2"}}), utf8, ""},
        {"csv in Shift_JIS", "j.csv", "\x93\xFA\x96\x7B;x\n", {}, rowsOf({{QStringLiteral("日本"), "x"}}),
         QStringLiteral("Shift_JIS"), ""},
        {"csv stopped by a stray quote", "q.csv", "name;n\na;1\nb\"c;2\n", {"name", "n"}, rowsOf({{"a", "1"}, {"b"}}), utf8,
         "line 3: unexpected double quote"},
        {"array of dictionaries, keys in other orders", "d.plist",
         std::string(plistHead) + "<array><dict><key>a</key><string>1</string><key>b</key><integer>2</integer></dict>"
                                  "<dict><key>c</key><true/><key>a</key><string>3</string></dict></array></plist>",
         {"a", "b", "c"}, rowsOf({{"1", "2", ""}, {"3", "", "true"}}), {}, ""},
        {"array of arrays", "r.plist",
         std::string(plistHead) + "<array><array><string>x</string><real>1.5</real></array></array></plist>",
         {"1", "2"}, rowsOf({{"x", "1.5"}}), {}, ""},
        {"root dictionary", "k.plist",
         std::string(plistHead) + "<dict><key>one</key><string>1</string><key>two</key><dict><key>v</key>"
                                  "<string>2</string></dict></dict></plist>",
         {"key", "value", "v"}, rowsOf({{"one", "1", ""}, {"two", "", "2"}}), {}, ""},
        {"root string", "s.plist", std::string(plistHead) + "<string>x</string></plist>", {}, {}, {},
         "neither an array nor a dictionary"},
        {"not a property list", "n.plist", "a,b\n", {}, {}, {}, "line 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const QString path = QString::fromStdString(dir.write(c.file, c.bytes));
        const TablePreview preview = path.endsWith(QStringLiteral(".csv"))
                                         ? TablePreview::ofCsv(path, u';', !c.columns.isEmpty())
                                         : TablePreview::ofPropertyList(path);
        EXPECT_EQ(preview.columns, c.columns);
        EXPECT_EQ(preview.rows, c.rows);
        EXPECT_EQ(preview.encoding, c.encoding);
        EXPECT_FALSE(preview.more);
        if (*c.problem == 0) {
            EXPECT_TRUE(preview.problems.isEmpty()) << preview.problems.join(QLatin1Char('|')).toStdString();
        } else {
            ASSERT_EQ(preview.problems.size(), 1);
            EXPECT_TRUE(preview.problems[0].contains(QString::fromUtf8(c.problem)))
                << preview.problems[0].toStdString();
        }
    }
}

// A file of 1 GB whose first rows are followed by zero bytes, left as a hole so that it takes no disk:
// read whole, a CSV file would be one endless record of them, and a property list would fail on them.
std::string largeFile(const TempDir& dir, const std::string& name, const std::string& head, const std::string& row,
                      int rows)
{
    std::string text = head;
    for (int i = 0; i < rows; ++i)
        text += row;
    const std::string path = dir.write(name, text);
    EXPECT_EQ(::truncate(path.c_str(), off_t(1) << 30), 0);
    return path;
}

TEST(TablePreviewTest, AGigabyteFilePreviewsItsFirstRowsWithoutBeingReadWhole)
{
    TempDir dir;
    const QString csv =
        QString::fromStdString(largeFile(dir, "large.csv", "a,b\n", "12345,\"some, text\"\n", 20000));
    const TablePreview rows = TablePreview::ofCsv(csv, u',', true);
    EXPECT_EQ(rows.columns, (QStringList{"a", "b"}));
    ASSERT_EQ(rows.rows.size(), 200u);
    EXPECT_EQ(rows.rows[199], (QStringList{"12345", "some, text"}));
    EXPECT_TRUE(rows.more);
    EXPECT_TRUE(rows.problems.isEmpty()) << rows.problems.join(QLatin1Char('|')).toStdString();

    // Fewer rows than asked for: the record of zero bytes after them is read only up to the limit.
    const QString few = QString::fromStdString(largeFile(dir, "few.csv", "", "1,2\n", 50));
    const TablePreview limited = TablePreview::ofCsv(few, u',', false);
    ASSERT_EQ(limited.rows.size(), 51u);
    EXPECT_EQ(limited.rows[50][0].size(), (16 << 20) - 50 * 4); // what the limit let through
    ASSERT_EQ(limited.problems.size(), 1);
    EXPECT_TRUE(limited.problems[0].contains(QStringLiteral("16 MB"))) << limited.problems[0].toStdString();

    const QString plist = QString::fromStdString(largeFile(
        dir, "large.plist", "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<array>\n",
        "\t<dict><key>name</key><string>a field of some length</string><key>n</key><integer>7</integer></dict>\n",
        20000));
    const TablePreview elements = TablePreview::ofPropertyList(plist);
    EXPECT_EQ(elements.columns, (QStringList{"name", "n"}));
    EXPECT_EQ(elements.rows.size(), 200u);
    EXPECT_TRUE(elements.more);
    EXPECT_TRUE(elements.problems.isEmpty()) << elements.problems.join(QLatin1Char('|')).toStdString();
}

} // namespace
