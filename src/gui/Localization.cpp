#include "gui/Localization.hpp"

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
    return _texts.value(key, key);
}

} // namespace plistable::gui
