#include "gui/Translation.hpp"

#include "core/UserDefaults.hpp"
#include "gui/GuiTestSupport.hpp"
#include "gui/Localization.hpp"
#include "gui/MainWindow.hpp"
#include "gui/ResultsModel.hpp"
#include "support/TestSupport.hpp"

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

#include <map>

using namespace plistable;
using namespace plistable::gui;
using plistable::test::qs;
using plistable::test::RecordingChooser;
using plistable::test::TempDir;

namespace {

const QLocale japanese(QLocale::Japanese, QLocale::Japan);

// Every text the main window shows or speaks, named by where it appears, as a window built now (with
// whatever translation is installed) has it. The folder question is asked and cancelled, the files
// question answered with nothing, so their texts and the cancelled status are among them.
std::map<std::string, QString> windowTexts()
{
    TempDir dir;
    UserDefaults defaults(dir.file("settings.json"));
    MainWindow window(defaults);
    RecordingChooser chooser;
    window.dropView()->setFolderChooser(chooser.chooser());
    std::map<std::string, QString> texts;
    window.setFilesChooser([&texts](const QString& title, const QString& filter) {
        texts["files title"] = title;
        texts["files filter"] = filter;
        return QStringList();
    });

    texts["window title"] = window.windowTitle();
    texts["idle status"] = window.statusLabel()->text();
    texts["drop hint"] = mainView::hint();
    // Places are numbered in the order of creation, which is the same in every language.
    int number = 0;
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        const std::string place = "button " + std::to_string(number++);
        if (!button->text().isEmpty()) // the list's corner button, an icon
            texts[place] = button->text();
    }
    number = 0;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->accessibleName().isEmpty())
            texts["spoken " + std::to_string(number++)] = widget->accessibleName();
    }
    number = 0;
    for (const QAction* menuAction : window.menuBar()->actions()) {
        const std::string menu = "menu " + std::to_string(number++);
        texts[menu] = menuAction->text();
        int item = 0;
        for (const QAction* action : menuAction->menu()->actions()) {
            if (!action->isSeparator())
                texts[menu + " item " + std::to_string(item++)] = action->text();
        }
    }
    for (int column = 0; column < ResultsModel::ColumnCount; ++column)
        texts["column " + std::to_string(column)] = window.results()->headerData(column, Qt::Horizontal).toString();

    window.openFiles();
    window.dropView()->convertFiles({qs(dir.write("a.csv", "a\n"))});
    if (chooser.questions.size() == 1) {
        texts["folder title"] = chooser.questions[0].title;
        texts["folder prompt"] = chooser.questions[0].prompt;
    }
    texts["cancelled status"] = window.statusLabel()->text();
    return texts;
}

TEST(TranslationTest, WithoutATranslationTheWindowShowsTheEnglishTexts)
{
    const std::map<std::string, QString> texts = windowTexts();
    const struct {
        const char* where;
        const char* english;
    } expected[] = {
        {"window title", "plistable"},
        {"idle status", "Drop files or open them; you choose where the results go."},
        {"files title", "Choose files to convert"},
        {"files filter", "Tables (*.csv *.plist);;All files (*)"},
        {"folder title", "Choose a folder for the converted files"},
        {"folder prompt", "Save Here"},
        {"cancelled status", "Nothing converted: no folder was chosen."},
        {"drop hint", "Drop .csv or .plist files here"},
        {"button 0", "First line is a header"},
        {"menu 0", "&File"},
        {"menu 0 item 0", "&Open files…"},
        {"column 4", "Reason"},
    };
    for (const auto& [where, english] : expected) {
        SCOPED_TRACE(where);
        ASSERT_EQ(texts.count(where), 1u);
        EXPECT_EQ(texts.at(where), QString::fromUtf8(english));
    }
}

TEST(TranslationTest, JapaneseReplacesEveryTextOfTheWindow)
{
    const std::map<std::string, QString> english = windowTexts();
    std::map<std::string, QString> translated;
    {
        const Translation translation(japanese);
        ASSERT_TRUE(translation.isInstalled());
        translated = windowTexts();
    }
    ASSERT_GE(english.size(), 20u);
    EXPECT_EQ(translated.size(), english.size());
    for (const auto& [place, text] : english) {
        SCOPED_TRACE(place);
        ASSERT_EQ(translated.count(place), 1u);
        EXPECT_FALSE(translated.at(place).isEmpty());
        EXPECT_NE(translated.at(place), text) << translated.at(place).toStdString();
    }
    // Removed with its object: the next window is English again.
    EXPECT_EQ(windowTexts(), english);
}

TEST(TranslationTest, EveryEntryOfTheTextTableIsTranslated)
{
    const Localization& table = Localization::shared();
    ASSERT_GT(table.size(), 10);
    const Translation translation(japanese);
    for (const QString& key : table.keys()) {
        SCOPED_TRACE(key.toStdString());
        EXPECT_NE(table.text(key), table.sourceText(key));
        // Placeholders survive translation, so .arg() fills every one of them.
        for (const QString& mark : {QStringLiteral("%1"), QStringLiteral("%2"), QStringLiteral("%3")})
            EXPECT_EQ(table.text(key).contains(mark), table.sourceText(key).contains(mark));
    }
}

TEST(TranslationTest, OnlyLanguagesWithATranslationInstallOne)
{
    const struct {
        QLocale locale;
        bool installed;
    } cases[] = {
        {QLocale(QLocale::Japanese, QLocale::Japan), true},
        {QLocale(QLocale::Japanese), true},
        {QLocale(QLocale::English, QLocale::UnitedStates), false},
        {QLocale(QLocale::German, QLocale::Germany), false},
        {QLocale::c(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        const Translation translation(c.locale);
        EXPECT_EQ(translation.isInstalled(), c.installed);
        EXPECT_EQ(Localization::localizedString(QStringLiteral("OPEN_PANEL_PROMPT")) == QStringLiteral("Save Here"),
                  !c.installed);
    }
}

} // namespace

namespace {

TEST(TranslationTest, LibraryMessagesAreTranslatedWithTheirNumbersAndNamesOthersPassThrough)
{
    ConversionReport report;
    report.problems = {"line 2: unexpected double quote"};
    report.notes = {"read as Mac OS Roman; use --encoding to choose another"};
    EXPECT_EQ(ResultsModel::reason(report),
              QStringLiteral("line 2: unexpected double quote; read as Mac OS Roman; choose another with Read as…"));

    const Translation translation(japanese);
    struct Case {
        std::string problem;
        const char* expected;
    };
    const Case cases[] = {
        {"line 2: unexpected double quote", "2 行目: 予期しない二重引用符があります"},
        // Parts joined by "; " are translated one by one.
        {"line 14: quoted field is never closed; 13 records converted, the rest was not read",
         "14 行目: 引用符で囲まれたフィールドが閉じられていません; 13 件のレコードを変換し、残りは読み込んでいません"},
        // A pattern holding "; " itself is found whole first.
        {"the character at byte offset 1048577 is cut off by the end of the file; written as U+FFFD",
         "1048577 バイト目の文字がファイルの終わりで切れています。U+FFFD として書き出しました"},
        {"header repeats \"名前\" (columns 1 and 12); the later value is kept",
         "見出しの名前 \"名前\" が繰り返されています（1 列目と 12 列目）。後の列の値を使いました"},
        // No entry: the message passes through, numbers and all.
        {"cannot read: No such file or directory", "cannot read: No such file or directory"},
        {"element 7 (x, y) has 3 keys", "element 7 (x, y) has 3 keys"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.problem);
        report.problems = {c.problem};
        report.notes.clear();
        EXPECT_EQ(ResultsModel::reason(report), QString::fromUtf8(c.expected));
    }
}

} // namespace
