#include "gui/Localization.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace plistable::gui {

Localization::Localization(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonObject table = document.object();
    for (auto entry = table.begin(); entry != table.end(); ++entry) {
        // Only strings are texts; anything else would show as an empty label.
        if (entry.value().isString())
            _texts.insert(entry.key(), entry.value().toString());
    }
}

const Localization& Localization::shared()
{
    static const Localization table(QStringLiteral(":/translations/en.json"));
    return table;
}

QString Localization::text(const QString& key) const
{
    const auto found = _texts.constFind(key);
    if (found == _texts.constEnd())
        return key;
    // The English text is the translation's source, as tr() would have it; the Japanese file lists
    // these texts under this context by hand, since lupdate cannot read them out of the table.
    return QCoreApplication::translate("plistable::gui::Localization", found->toUtf8().constData());
}

} // namespace plistable::gui
