#pragma once

#include "core/convert/ConversionReport.hpp"
#include "core/convert/FileConverter.hpp"

#include <QMetaType>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class QMimeData;

namespace plistable {
class UserDefaults;
}

namespace plistable::gui {

/// One report per converted path, in the order of the drop.
using ConversionReports = std::vector<ConversionReport>;

/// Asks the user for a folder: gets the folder to start in, the window title and the label of the
/// confirming button; answers the chosen folder's path, or nothing when the user cancelled.
using FolderChooser =
    std::function<std::optional<QString>(const QString& startFolder, const QString& title, const QString& prompt)>;

/// Looks at the paths of a drop before anything is asked; true when it has dealt with them itself,
/// so that they are not converted.
using DropFilter = std::function<bool(const QStringList& paths)>;

/// The drop area. A drop of files asks once for a folder and converts every dropped file into it
/// off the GUI thread, several files at once (one per core), with the results of converting them in
/// drop order one after another, so the window stays responsive; a drag without files is
/// refused. Paints the window's dark background. Conversions never throw; what each did comes back
/// as reports through fileConverted and conversionFinished.
class mainView : public QWidget {
    Q_OBJECT

public:
    /// A view reading the "header" setting from `defaults` (which must outlive it) at each drop.
    explicit mainView(UserDefaults& defaults, QWidget* parent = nullptr);

    /// Stops a running conversion and waits for it: the files being converted are abandoned (their
    /// existing outputs untouched, no temporary file left), the rest are not started.
    ~mainView() override;

    /// The drop: refuses (false) a drag without file names, or any drop while a conversion runs;
    /// otherwise hands the files to convertFiles and answers true, whether or not a folder is chosen.
    bool performDragOperation(const QMimeData* data);

    /// Asks once for a folder, starting in the folder of the first path, then converts every path
    /// into it (a folder as the files expandFolders() gives for it), up to jobs() at once, off the GUI thread. Cancelling converts nothing and keeps the save folder;
    /// an empty list converts nothing and asks nothing. False when nothing was started.
    bool convertFiles(const QStringList& paths);

    /// Converts the file at `path` again into the folder of the last drop, read in `encoding` (an ICU
    /// name), off the GUI thread, and reports it through reconverted. Asks nothing; false (and nothing
    /// started) while busy or before any drop was converted.
    bool reconvert(const QString& path, const QString& encoding);

    /// The files a drop of `paths` converts, in order: a file as it is; a folder as the ".csv" and
    /// ".plist" files in it (and in its subfolders, with `subfolders`; links to folders are not
    /// followed), sorted by path, or as itself when it holds none (then it is passed over).
    static QStringList expandFolders(const QStringList& paths, bool subfolders);

    /// The folders among the paths of the drop being converted (or last converted).
    const QStringList& droppedFolders() const { return _droppedFolders; }

    /// The local file paths a drag carries, in drag order; nothing when it carries no file names.
    static std::optional<QStringList> droppedFilePaths(const QMimeData* data);

    /// Replaces the folder question (tests answer without a dialog).
    void setFolderChooser(FolderChooser chooser) { _folderChooser = std::move(chooser); }
    /// The folder question as it is set.
    const FolderChooser& folderChooser() const { return _folderChooser; }

    /// Sets what looks at a drop first (the window's localization offers); none by default.
    void setDropFilter(DropFilter filter) { _dropFilter = std::move(filter); }

    /// The folder question shown when none is set: a Qt directory-only dialog.
    static std::optional<QString> chooseFolderWithDialog(QWidget* parent, const QString& startFolder,
                                                         const QString& title, const QString& prompt);

    /// The folder of the last confirmed question followed by "/", or nothing before the first.
    const std::optional<QString>& saveDirPath() const { return _saveDirPath; }

    /// The paths of the drop being converted (or last converted), in drop order.
    const QStringList& droppedPaths() const { return _droppedPaths; }

    /// Stops the running drop: the files being converted are abandoned at their next check (their
    /// reports say Cancelled, their existing outputs are untouched, no temporary file is left) and
    /// the ones not yet started are not started (fileNotStarted instead of fileConverted).
    void cancelConversion();

    /// How many files of a drop are converted at once; at first the number of cores (at least 1).
    unsigned jobs() const { return _jobs; }
    /// Sets jobs() (0 counts as 1); takes effect at the next drop.
    void setJobs(unsigned jobs) { _jobs = std::max(1u, jobs); }

    /// True while a drop's files (or a file read again) are being converted.
    bool isConverting() const { return _worker.has_value(); }

    /// True while a drop waits for its folder or converts: new drops are refused.
    bool isBusy() const { return isConverting() || _askingFolder || _dropPending; }

    /// The text painted in the middle of the view, asking for a drop.
    static QString hint();

    /// The background colour: red 0.2, green 0.21, blue 0.23, alpha 1.0.
    static QColor backgroundColor();

signals:
    /// Conversion of `count` files into `folder` (with its "/") has started.
    void conversionStarted(int count, const QString& folder);
    /// `done` bytes of the file at `index` (0-based) of the drop are read, reported about every MiB
    /// while it converts and once at its end (not for every file: small ones may say nothing). The
    /// files converting at once report in turn, each with its own index.
    void fileProgress(int index, qint64 done);
    /// The file at `index` (0-based) of the drop is done. Emitted in drop order, for each file as soon
    /// as it and every file before it are done; for every path either this or fileNotStarted.
    void fileConverted(int index, const plistable::ConversionReport& report);
    /// The drop was cancelled before the file at `index` was started; in drop order with fileConverted.
    void fileNotStarted(int index);
    /// Every file of the drop is done; one report per path, in drop order (Cancelled for the files
    /// abandoned or not started).
    void conversionFinished(const plistable::gui::ConversionReports& reports);
    /// The file given to reconvert is done.
    void reconverted(const plistable::ConversionReport& report);
    /// The user cancelled the folder question; nothing was converted.
    void conversionCancelled();
    /// True when a conversion starts, false when it ends: new drops are refused meanwhile.
    void busyChanged(bool busy);

protected:
    // The window hands the drags over the rest of it to these, so that the whole window takes drops.
    friend class MainWindow;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void startWorker(const QStringList& paths, const QString& folder, ConversionOptions options);
    void finishConversion(ConversionReports reports);

    UserDefaults& _defaults;
    FolderChooser _folderChooser;
    DropFilter _dropFilter;
    std::optional<QString> _saveDirPath;
    QStringList _droppedPaths;
    QStringList _droppedFolders;
    bool _askingFolder = false;
    bool _dropPending = false;
    bool _reconverting = false; // the running worker converts a file again, not a drop
    unsigned _jobs = std::max(1u, std::thread::hardware_concurrency());
    std::optional<std::thread> _worker;
    std::shared_ptr<std::atomic<bool>> _stopRequested;
};

} // namespace plistable::gui

Q_DECLARE_METATYPE(plistable::ConversionReport)
Q_DECLARE_METATYPE(plistable::gui::ConversionReports)
