#include "gui/Translation.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace plistable::gui {

Translation::Translation(const QLocale& locale)
{
    // load(QLocale, ...) tries each of the locale's UI languages in turn ("ja_JP", then "ja"), so a
    // regional variant finds the one translation of its language.
    if (_own.load(locale, QStringLiteral("plistable"), QStringLiteral("_"), resourceFolder()))
        _ownInstalled = QCoreApplication::installTranslator(&_own);
    // Qt's own texts come with the system's Qt translations when they are installed; without them the
    // standard buttons of the dialogs stay in English and everything of ours is still translated.
    if (_ownInstalled
        && _qt.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        _qtInstalled = QCoreApplication::installTranslator(&_qt);
}

Translation::~Translation()
{
    if (_qtInstalled)
        QCoreApplication::removeTranslator(&_qt);
    if (_ownInstalled)
        QCoreApplication::removeTranslator(&_own);
}

} // namespace plistable::gui
