#pragma once

#include "gui/mainView.hpp"

#include <QMimeData>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

namespace plistable::test {

/// A folder chooser that answers `folder` (or cancels when it is empty) and records what it was asked.
struct RecordingChooser {
    struct Question {
        QString startFolder;
        QString title;
        QString prompt;
    };

    std::optional<QString> answer;
    std::vector<Question> questions;

    gui::FolderChooser chooser()
    {
        return [this](const QString& startFolder, const QString& title, const QString& prompt) {
            questions.push_back({startFolder, title, prompt});
            return answer;
        };
    }
};

/// Drag data carrying the given local files as file URLs, in order.
inline std::unique_ptr<QMimeData> fileDrag(const std::vector<std::string>& paths)
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const std::string& path : paths)
        urls.append(QUrl::fromLocalFile(QString::fromStdString(path)));
    data->setUrls(urls);
    return data;
}

inline QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace plistable::test
