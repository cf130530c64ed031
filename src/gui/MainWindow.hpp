#pragma once

#include "gui/WindowOptions.hpp"
#include "gui/mainView.hpp"

#include <QWidget>

#include <functional>
#include <vector>

class QCheckBox;
class QMenuBar;
class QModelIndex;
class QTreeView;
class QUrl;
class QLabel;
class QProgressBar;
class QPushButton;
class QSplitter;

namespace plistable {
class UserDefaults;
}

namespace plistable::gui {

/// Asks the user for files to convert: gets the window title and the file-type filter; answers the
/// chosen paths, empty when the user cancelled.
using FilesChooser = std::function<QStringList(const QString& title, const QString& filter)>;

/// Opens a file or folder with the desktop's default application; answers whether it could.
using UrlOpener = std::function<bool(const QUrl& url)>;

class DetailsPane;
class OptionsPanel;
class ResultsModel;

/// What the user makes of an offer for localization files.
enum class OfferAnswer {
    Cancel,  ///< nothing is done
    Accept,  ///< the offer: export the table, or import it
    Convert, ///< the files are converted as any others
};

/// Asks whether to take an offer: gets the question and the label of the offer's button.
using OfferChooser = std::function<OfferAnswer(const QString& question, const QString& offer)>;

/// Asks for a file to write: gets the title and the suggested path; answers the path, empty when cancelled.
using SaveChooser = std::function<QString(const QString& title, const QString& suggested)>;

/// The main window, from the top: a band to drop files on with an "Open files…" button (Ctrl+O)
/// beside it, the header check box with the Options button that shows the options panel, then the
/// list of the last drop's results as the body, above the details of the selected result with a
/// preview of its first rows; under them a progress bar by bytes across the whole drop with a
/// Cancel button while a drop converts, and one status line (the counts and the folder). Files
/// dropped anywhere on the window are converted as a drop on the band.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    /// A window whose drop view reads the "header" setting from `defaults` (which must outlive it).
    explicit MainWindow(UserDefaults& defaults, QWidget* parent = nullptr);

    mainView* dropView() const { return _dropView; }
    QCheckBox* headerCheckBtn() const { return _headerCheckBox; }
    QPushButton* openButton() const { return _openButton; }
    QProgressBar* progressBar() const { return _progressBar; }
    QLabel* statusLabel() const { return _statusLabel; }
    QTreeView* resultsView() const { return _resultsView; }
    ResultsModel* results() const { return _results; }
    QPushButton* showFolderButton() const { return _showFolderButton; }
    QPushButton* cancelButton() const { return _cancelButton; }
    QMenuBar* menuBar() const { return _menuBar; }
    QPushButton* optionsButton() const { return _optionsButton; }
    OptionsPanel* optionsPanel() const { return _optionsPanel; }
    DetailsPane* details() const { return _details; }
    QSplitter* splitter() const { return _splitter; }

    /// Replaces the desktop's opener (tests record the URL instead).
    void setUrlOpener(UrlOpener opener) { _urlOpener = std::move(opener); }

    /// Replaces the file question (tests answer without a dialog).
    void setFilesChooser(FilesChooser chooser) { _filesChooser = std::move(chooser); }
    /// Replaces the localization offer's question and the question for the table's file.
    void setOfferChooser(OfferChooser chooser) { _offerChooser = std::move(chooser); }
    void setSaveChooser(SaveChooser chooser) { _saveChooser = std::move(chooser); }

    /// A drop of one folder holding localization files (LANG.lproj folders or a catalog, at any depth) offers "Export localization table…", a drop
    /// of one localization table "Import into…" (asking for the folder as a drop does); true when the
    /// user took the offer or cancelled, false when the drop is to be converted as usual.
    bool offerLocalization(const QStringList& paths);

public slots:
    /// Asks for files and converts them as a drop of those files; does nothing while a drop is
    /// being handled or when the user cancels.
    void openFiles();
    /// Opens the output of the result at `row` with the desktop's default application.
    void openResult(int row);
    /// Opens the folder the last drop was converted into.
    void showOutputFolder();
    /// Converts the file of the result at `row` again, read in `encoding` (an ICU name such as
    /// "windows-1252"), into the same folder off the GUI thread, and shows the new result in its row
    /// when it is done (mainView::reconverted). Does nothing while a drop is being handled.
    void readAgainAs(int row, const QString& encoding);
    /// The encodings offered for a file read with the fallback, as (ICU name, label).
    static QList<QPair<QString, QString>> offeredEncodings();
    /// Shows the version and the licence.
    void showAbout();
    /// Shows the details and the preview of the result at `row` (nothing for no row).
    void showDetails(int row);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void showStarted(int count, const QString& folder);
    void showFileProgress(int index, qint64 done);
    void showBytes();
    void showFinished(const ConversionReports& reports);
    void buildMenus();

    void showReadAsMenu(const QPoint& position);

    UserDefaults& _defaults;
    mainView* _dropView;
    QCheckBox* _headerCheckBox;
    QPushButton* _openButton;
    QProgressBar* _progressBar;
    QLabel* _statusLabel;
    QTreeView* _resultsView;
    ResultsModel* _results;
    QPushButton* _showFolderButton;
    QPushButton* _cancelButton;
    QMenuBar* _menuBar;
    QPushButton* _optionsButton;
    OptionsPanel* _optionsPanel;
    DetailsPane* _details;
    QSplitter* _splitter;
    WindowOptions _dropOptions; // as the last drop was converted with them, for its previews
    bool _dropHeader = false;
    FilesChooser _filesChooser;
    OfferChooser _offerChooser;
    SaveChooser _saveChooser;
    UrlOpener _urlOpener;
    QString _folder;
    std::vector<qint64> _fileSizes;
    std::vector<qint64> _fileBytesDone; // of each file of the drop, as far as it is known
    qint64 _bytesTotal = 0;
    qint64 _bytesDone = 0; // the sum of _fileBytesDone
    int _readAgainRow = -1; // the row whose file is being read again
};

} // namespace plistable::gui
