#pragma once

#include <QLocale>
#include <QTranslator>

namespace plistable::gui {

/// The window's texts in one language, installed into the application for as long as the object
/// lives: the embedded translation of plistable's own texts and, where the system has it, Qt's
/// own (dialog buttons and the like). English needs none, so for it nothing is installed.
class Translation {
public:
    /// Loads and installs the translation for `locale`'s languages (most preferred first). A
    /// language without an embedded translation leaves every text in English.
    explicit Translation(const QLocale& locale);
    /// Removes what the constructor installed; texts asked for afterwards are English again.
    ~Translation();

    Translation(const Translation&) = delete;
    Translation& operator=(const Translation&) = delete;

    /// True when plistable's own texts are translated (not English).
    bool isInstalled() const { return _ownInstalled; }

    /// The folder inside the resources that holds the compiled translations.
    static QString resourceFolder() { return QStringLiteral(":/i18n"); }

private:
    QTranslator _own;
    QTranslator _qt;
    bool _ownInstalled = false;
    bool _qtInstalled = false;
};

} // namespace plistable::gui
