#pragma once

#include "gui/mainView.hpp"

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace plistable {
class UserDefaults;
}

namespace plistable::gui {

/// Asks the user for files to convert: gets the window title and the file-type filter; answers the
/// chosen paths, empty when the user cancelled.
using FilesChooser = std::function<QStringList(const QString& title, const QString& filter)>;

/// The main window: the drop view filling most of it, the header check box, an "Open files…"
/// button (Ctrl+O) as the keyboard way to pick files, a progress bar shown while a drop converts
/// and a status line saying what the last drop did.
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

    /// Replaces the file question (tests answer without a dialog).
    void setFilesChooser(FilesChooser chooser) { _filesChooser = std::move(chooser); }

public slots:
    /// Asks for files and converts them as a drop of those files; does nothing while a drop is
    /// being handled or when the user cancels.
    void openFiles();

private:
    void showStarted(int count, const QString& folder);
    void showProgress(int index);
    void showFinished(const ConversionReports& reports);

    mainView* _dropView;
    QCheckBox* _headerCheckBox;
    QPushButton* _openButton;
    QProgressBar* _progressBar;
    QLabel* _statusLabel;
    FilesChooser _filesChooser;
    QString _folder;
};

} // namespace plistable::gui
