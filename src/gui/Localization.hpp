#pragma once

#include <QHash>
#include <QString>

namespace plistable::gui {

/// The window's texts by key, read from a small JSON table of key -> text. A key that the table
/// does not hold shows as the key itself, so a missing entry is visible but never blank.
class Localization {
public:
    /// The table in the JSON file at `path` (a Qt resource path such as ":/translations/en.json"
    /// or a file). A missing or damaged file gives an empty table.
    explicit Localization(const QString& path);

    /// The shipped English table, loaded once.
    static const Localization& shared();

    /// The text of `key` in the shared table, or `key` itself.
    static QString localizedString(const QString& key) { return shared().text(key); }

    /// The text of `key`, or `key` itself when the table has none.
    QString text(const QString& key) const;

    /// Number of entries read.
    qsizetype size() const { return _texts.size(); }

private:
    QHash<QString, QString> _texts;
};

} // namespace plistable::gui
