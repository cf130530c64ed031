#include "gui/mainView.hpp"

#include "core/convert/FileConverter.hpp"
#include "core/convert/ParallelConverter.hpp"
#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"
#include "gui/Localization.hpp"
#include "gui/WindowOptions.hpp"

#include <QDir>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QTimer>
#include <QUrl>

namespace plistable::gui {
namespace {

// Beside "header" in the settings store: the folder the last drop was converted into.
const std::string lastFolderKey(UserDefaults::textKeys[0]);

} // namespace

mainView::mainView(UserDefaults& defaults, QWidget* parent)
    : QWidget(parent), _defaults(defaults), _stopRequested(std::make_shared<std::atomic<bool>>(false))
{
    setAcceptDrops(true);
    setAccessibleName(hint());
    _folderChooser = [this](const QString& startFolder, const QString& title, const QString& prompt) {
        return chooseFolderWithDialog(this, startFolder, title, prompt);
    };
}

mainView::~mainView()
{
    // The worker posts its results to this object; it must be gone before the object is. Stopping the
    // file being converted keeps closing the window quick even in the middle of a large file.
    _stopRequested->store(true);
    if (_worker)
        _worker->join();
}

QString mainView::hint()
{
    return Localization::localizedString(QStringLiteral("DROP_HINT"));
}

QColor mainView::backgroundColor()
{
    return QColor::fromRgbF(0.2f, 0.21f, 0.23f, 1.0f);
}

void mainView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), backgroundColor());
    painter.setPen(QColor(200, 203, 208));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, hint());
}

void mainView::dragEnterEvent(QDragEnterEvent* event)
{
    // Every drag is offered the copy action; whether it carries files is only decided at the drop.
    // While a drop is being handled new ones are refused at once, so the cursor says so.
    if (isBusy()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void mainView::dragMoveEvent(QDragMoveEvent* event)
{
    if (isBusy()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void mainView::dropEvent(QDropEvent* event)
{
    std::optional<QStringList> paths = droppedFilePaths(event->mimeData());
    if (!paths || isBusy()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // The folder question is modal; asking it after the drop event has returned lets the drag
    // source (a file manager) finish its side of the drag first instead of waiting on the dialog.
    _dropPending = true;
    QTimer::singleShot(0, this, [this, files = std::move(*paths)] {
        _dropPending = false;
        convertFiles(files);
    });
}

bool mainView::performDragOperation(const QMimeData* data)
{
    std::optional<QStringList> paths = droppedFilePaths(data);
    if (!paths || isBusy())
        return false;
    convertFiles(*paths);
    return true;
}

std::optional<QStringList> mainView::droppedFilePaths(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = data->urls();
    QStringList paths;
    for (const QUrl& url : urls) {
        // toLocalFile undoes percent-escapes: file:///tmp/a%20b.csv is "/tmp/a b.csv".
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    // Links to web pages and the like are not file names; an empty list is a drop of nothing.
    if (paths.isEmpty() && !urls.isEmpty())
        return std::nullopt;
    return paths;
}

QStringList mainView::expandFolders(const QStringList& paths, bool subfolders)
{
    QStringList files;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            files.append(path);
            continue;
        }
        // Exactly the extensions the conversions take: "CSV" or "Plist" would be passed over anyway.
        QDir folder(path, QString(), QDir::Name, QDir::Files | QDir::CaseSensitive);
        folder.setNameFilters({QStringLiteral("*.csv"), QStringLiteral("*.plist")});
        QStringList found;
        QDirIterator it(folder, subfolders ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
        while (it.hasNext())
            found.append(it.next());
        found.sort();
        files.append(found.isEmpty() ? QStringList{path} : found);
    }
    return files;
}

std::optional<QString> mainView::chooseFolderWithDialog(QWidget* parent, const QString& startFolder,
                                                        const QString& title, const QString& prompt)
{
    QFileDialog dialog(parent, title, startFolder);
    dialog.setFileMode(QFileDialog::Directory);
    // The Qt dialog, not the platform's, so that these options are honoured; without ReadOnly it
    // offers a button that makes a new folder.
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::Accept, prompt);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.first();
}

bool mainView::convertFiles(const QStringList& paths)
{
    if (paths.isEmpty() || isBusy())
        return false;
    if (_dropFilter && _dropFilter(paths))
        return false;
    // The last folder chosen, while it still exists; otherwise the folder of the first file.
    QString startFolder = QFileInfo(paths.first()).absolutePath();
    if (const std::optional<std::string> last = _defaults.stringForKey(lastFolderKey)) {
        const QString lastFolder = QFile::decodeName(QByteArray::fromStdString(*last));
        if (QFileInfo(lastFolder).isDir())
            startFolder = lastFolder;
    }
    _askingFolder = true;
    const std::optional<QString> folder =
        _folderChooser(startFolder, Localization::localizedString(QStringLiteral("OPEN_PANEL_TITLE")),
                       Localization::localizedString(QStringLiteral("OPEN_PANEL_PROMPT")));
    _askingFolder = false;
    if (!folder) {
        emit conversionCancelled();
        return false;
    }
    _defaults.setString(lastFolderKey, QFile::encodeName(*folder).toStdString());
    _defaults.synchronize();
    // Plain concatenation, as the dispatch forms it: the root folder gives "//".
    _saveDirPath = *folder + QLatin1Char('/');
    _reconverting = false;
    _droppedFolders.clear();
    for (const QString& path : paths)
        if (QFileInfo(path).isDir())
            _droppedFolders.append(path);
    _droppedPaths = expandFolders(paths, WindowOptions::load(_defaults).includeSubfolders);
    startWorker(_droppedPaths, *folder, {});
    return true;
}

bool mainView::reconvert(const QString& path, const QString& encoding)
{
    if (isBusy() || !_saveDirPath)
        return false;
    ConversionOptions options;
    options.csvRead.encodingName = encoding.toStdString();
    _reconverting = true;
    // The save folder ends in "/", which the dispatch adds itself.
    startWorker({path}, _saveDirPath->chopped(1), std::move(options));
    return true;
}

void mainView::startWorker(const QStringList& paths, const QString& folder, ConversionOptions options)
{
    // The worker gets copies of everything it uses, made here on the GUI thread: its own settings
    // object and converter, the header value as it is now, and the paths in the file system's
    // encoding. Nothing it touches is shared with this thread.
    auto defaults = std::make_shared<UserDefaults>(_defaults);
    options.shape.header = _defaults.boolForKey(std::string(settings::headerKey));
    // The options panel's values as stored now; none stored converts as without them.
    WindowOptions::load(_defaults).applyTo(options);
    std::vector<std::string> files;
    files.reserve(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths)
        files.push_back(QFile::encodeName(path).toStdString());
    const std::string folderName = QFile::encodeName(folder).toStdString();

    _stopRequested = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> stop = _stopRequested;
    // The flag also stops the files being converted: each conversion checks it as it reads, removes its
    // temporary file and leaves an existing output as it was. The worker owns a copy of the pointer,
    // so the flag outlives every check.
    options.run.cancel = stop.get();

    emit busyChanged(true);
    // Before the worker starts, so that a handler may still cancel the drop before its first file.
    if (!_reconverting)
        emit conversionStarted(static_cast<int>(files.size()), *_saveDirPath);
    _worker.emplace([this, defaults, options, files = std::move(files), folderName, stop, jobs = _jobs] {
        // Which files were started: each is set by the thread converting it before its report is
        // handed over on this one, and no two threads touch the same element.
        std::vector<char> started(files.size(), 0);
        ParallelHooks hooks;
        hooks.started = [&started](std::size_t index) { started[index] = 1; };
        // Called on the converting threads, about every MiB of each file.
        hooks.progress = [this](std::size_t index, std::uint64_t done, std::uint64_t) {
            QMetaObject::invokeMethod(
                this,
                [this, index, done] {
                    if (!_reconverting)
                        emit fileProgress(static_cast<int>(index), static_cast<qint64>(done));
                },
                Qt::QueuedConnection);
        };
        // Called on this thread in drop order, so the rows of the results follow the drop.
        hooks.finished = [this, &started](std::size_t index, const ConversionReport& report) {
            const bool notStarted = started[index] == 0 && report.status == ConversionReport::Status::Cancelled;
            QMetaObject::invokeMethod(
                this,
                [this, index, report, notStarted] {
                    if (_reconverting)
                        return;
                    if (notStarted)
                        emit fileNotStarted(static_cast<int>(index));
                    else
                        emit fileConverted(static_cast<int>(index), report);
                },
                Qt::QueuedConnection);
        };
        ConversionReports reports = ParallelConverter(*defaults, options).convertFiles(files, folderName, jobs, hooks);
        // Queued after every progress event of the converting threads, which have all ended.
        QMetaObject::invokeMethod(
            this, [this, reports = std::move(reports)]() mutable { finishConversion(std::move(reports)); },
            Qt::QueuedConnection);
    });
}

void mainView::cancelConversion()
{
    // Also honoured from a conversionStarted handler, before the first file is started. The files being
    // converted report Cancelled; the others are not started.
    _stopRequested->store(true);
}

void mainView::finishConversion(ConversionReports reports)
{
    // The worker posts this as its last act, so the join only waits for the thread to return.
    if (_worker) {
        _worker->join();
        _worker.reset();
    }
    emit busyChanged(false);
    if (!_reconverting) {
        emit conversionFinished(reports);
        return;
    }
    _reconverting = false;
    if (!reports.empty())
        emit reconverted(reports.front());
}

} // namespace plistable::gui
