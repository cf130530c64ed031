#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace plistable::gui {

/// The window's texts by key, read from a small JSON table of key -> English text. Each text goes
/// through Qt's translation system (context "plistable::gui::Localization", the English text as its
/// source), so an installed translation shows in its place. A key that the table does not hold
/// shows as the key itself, so a missing entry is visible but never blank.
class Localization {
public:
    /// The table in the JSON file at `path` (a Qt resource path such as ":/translations/en.json"
    /// or a file). A missing or damaged file gives an empty table.
    explicit Localization(const QString& path);

    /// The shipped English table, loaded once.
    static const Localization& shared();

    /// The text of `key` in the shared table, or `key` itself.
    static QString localizedString(const QString& key) { return shared().text(key); }

    /// The text of `key` as the installed translation gives it, or `key` itself when the table has none.
    QString text(const QString& key) const;

    /// The English text of `key` as the table holds it, untranslated; empty when it has none.
    QString sourceText(const QString& key) const { return _texts.value(key); }

    /// Every key of the table, in no particular order.
    QStringList keys() const { return _texts.keys(); }

    /// Number of entries read.
    qsizetype size() const { return _texts.size(); }

private:
    QHash<QString, QString> _texts;
};

} // namespace plistable::gui
