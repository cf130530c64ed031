#include "core/Log.hpp"
#include "core/UserDefaults.hpp"
#include "gui/AppDelegate.hpp"
#include "gui/MainWindow.hpp"
#include "gui/ResultsModel.hpp"
#include "gui/Translation.hpp"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QPushButton>
#include <QTreeView>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* helpText =
    "Usage: plistable-gui [options] [FILE...]\n"
    "Converts tables between CSV and XML property lists.\n"
    "\n"
    "Options:\n"
    "  -h, --help          Displays help on commandline options.\n"
    "  -V, -v, --version   Displays version information.\n"
    "\n"
    "Arguments:\n"
    "  FILE...             Files to convert, as if dropped.\n";

// --help and --version are answered before QApplication exists: it needs a display and aborts without one.
// Returns true when one of them was given and answered.
bool answerInformationOptions(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0
            || std::strcmp(argv[i], "-?") == 0) {
            std::fputs(helpText, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0
            || std::strcmp(argv[i], "-V") == 0) {
            std::fputs("plistable " PLISTABLE_VERSION "\n", stdout);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace plistable;
    if (answerInformationOptions(argc, argv))
        return 0;
    // The library is silent unless a program installs a sink; the window's messages go to stderr.
    setLogSink(logToStandardError);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("plistable"));
    QApplication::setApplicationVersion(QStringLiteral(PLISTABLE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("plistable-gui"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("plistable-gui")));
    // The window speaks the system's language where a translation is embedded (LANG=ja_JP.UTF-8: Japanese).
    const gui::Translation translation(QLocale::system());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Converts tables between CSV and XML property lists."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Files to convert, as if dropped."),
                                 QStringLiteral("[FILE...]"));
    // Two options for making the documentation's screenshots (scripts/screenshot), left out of the help:
    // --output-folder answers the folder question without a dialog; --screenshot saves the window
    // once the files given are converted (or at once without files) and ends.
    QCommandLineOption outputFolder(QStringLiteral("output-folder"),
                                    QStringLiteral("Convert into DIR without asking for a folder."),
                                    QStringLiteral("DIR"));
    outputFolder.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(outputFolder);
    QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("Save the window to FILE and quit."),
                                  QStringLiteral("FILE"));
    screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(screenshot);
    // Two more for the pictures: --select ROW selects that result (0-based) once the files are converted,
    // --show-options opens the options panel.
    QCommandLineOption select(QStringLiteral("select"), QStringLiteral("Select result ROW."), QStringLiteral("ROW"));
    select.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(select);
    QCommandLineOption showOptions(QStringLiteral("show-options"), QStringLiteral("Show the options."));
    showOptions.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(showOptions);
    parser.process(app);

    UserDefaults defaults(UserDefaults::standardStorePath());
    gui::MainWindow window(defaults);
    gui::AppDelegate delegate(defaults);
    delegate.setWindow(&window);
    delegate.setHeaderCheckBtn(window.headerCheckBtn());
    window.show();
    delegate.applicationDidFinishLaunching();

    if (parser.isSet(outputFolder)) {
        const QString folder = QFileInfo(parser.value(outputFolder)).absoluteFilePath();
        window.dropView()->setFolderChooser(
            [folder](const QString&, const QString&, const QString&) { return std::optional<QString>(folder); });
    }

    QStringList files;
    for (const QString& argument : parser.positionalArguments())
        files.append(QFileInfo(argument).absoluteFilePath());

    if (parser.isSet(showOptions))
        window.optionsButton()->setChecked(true);
    if (parser.isSet(select)) {
        const int row = parser.value(select).toInt();
        QObject::connect(window.dropView(), &gui::mainView::conversionFinished, &window, [&window, row] {
            window.resultsView()->setCurrentIndex(window.results()->index(row, 0));
        });
    }

    if (parser.isSet(screenshot)) {
        // The size of the smallest screen the window is made for.
        window.resize(800, 600);
        const QString file = parser.value(screenshot);
        // A short wait lets the window manager map and paint the window before it is grabbed.
        const auto grabSoon = [&window, file] {
            QTimer::singleShot(500, &window, [&window, file] {
                const bool saved = window.grab().save(file);
                QApplication::exit(saved ? 0 : 1);
            });
        };
        if (files.isEmpty()) {
            grabSoon();
        } else {
            QObject::connect(window.dropView(), &gui::mainView::conversionFinished, &window, grabSoon);
            QObject::connect(window.dropView(), &gui::mainView::conversionCancelled, &window, grabSoon);
        }
    }

    if (!files.isEmpty())
        QTimer::singleShot(0, &window, [&window, files] { window.dropView()->convertFiles(files); });
    return QApplication::exec();
}
