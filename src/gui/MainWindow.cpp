#include "gui/MainWindow.hpp"

#include "gui/DetailsPane.hpp"
#include "gui/Localization.hpp"
#include "gui/LocalizationOffer.hpp"
#include "core/strings/LocalizationExporter.hpp"
#include "gui/OptionsPanel.hpp"
#include "gui/ResultsModel.hpp"
#include "gui/StatusText.hpp"
#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTableWidget>
#include <QTreeView>
#include <QComboBox>
#include <QDropEvent>
#include <QUrl>

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

namespace plistable::gui {
namespace {

// The progress bar counts in these steps, so that drops of many gigabytes fit in its int range.
constexpr int progressSteps = 1000;

QString text(const char* key)
{
    return Localization::localizedString(QString::fromLatin1(key));
}

} // namespace

MainWindow::MainWindow(UserDefaults& defaults, QWidget* parent)
    : QWidget(parent),
      _defaults(defaults),
      _dropView(new mainView(defaults, this)),
      _headerCheckBox(new QCheckBox(text("HEADER_CHECKBOX"), this)),
      _openButton(new QPushButton(text("OPEN_FILES_BUTTON"), this)),
      _progressBar(new QProgressBar(this)),
      _statusLabel(new QLabel(text("STATUS_IDLE"), this)),
      _resultsView(new QTreeView(this)),
      _results(new ResultsModel(this)),
      _showFolderButton(new QPushButton(tr("Show in folder"), this)),
      _cancelButton(new QPushButton(tr("Cancel"), this)),
      _menuBar(new QMenuBar(this)),
      _optionsButton(new QPushButton(tr("Options"), this)),
      _optionsPanel(new OptionsPanel(defaults, this)),
      _details(new DetailsPane(this)),
      _splitter(new QSplitter(Qt::Vertical, this))
{
    setWindowTitle(text("WINDOW_TITLE"));
    // Inside an 800×600 screen with the window's frame and title, and still usable when made smaller.
    setMinimumSize(560, 420);
    resize(780, 540);
    setAcceptDrops(true);
    // A band: files dropped anywhere on the window go to it (see dropEvent), so it needs no room of its own.
    _dropView->setFixedHeight(_dropView->fontMetrics().lineSpacing() * 3);
    _dropView->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    _dropView->setAccessibleName(tr("Drop area"));
    _headerCheckBox->setAccessibleName(_headerCheckBox->text());
    _openButton->setAccessibleName(_openButton->text());
    _progressBar->setAccessibleName(tr("Progress"));
    _statusLabel->setAccessibleName(tr("Status"));
    _showFolderButton->setAccessibleName(_showFolderButton->text());
    _cancelButton->setAccessibleName(_cancelButton->text());
    _optionsButton->setAccessibleName(_optionsButton->text());
    _optionsPanel->setAccessibleName(tr("Options"));

    _resultsView->setModel(_results);
    _resultsView->setRootIsDecorated(false);
    _resultsView->setUniformRowHeights(true);
    _resultsView->setAllColumnsShowFocus(true);
    _resultsView->setAccessibleName(tr("Results"));
    _resultsView->header()->setStretchLastSection(true);
    _resultsView->header()->setMinimumSectionSize(40);
    _resultsView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(_resultsView, &QTreeView::customContextMenuRequested, this, &MainWindow::showReadAsMenu);
    _showFolderButton->setEnabled(false);
    _cancelButton->setVisible(false);

    // The options take room only when asked for; the button says whether they are shown.
    _optionsButton->setCheckable(true);
    _optionsPanel->setVisible(false);
    connect(_optionsButton, &QPushButton::toggled, _optionsPanel, &QWidget::setVisible);

    _openButton->setShortcut(QKeySequence::Open);
    _openButton->setToolTip(QKeySequence(QKeySequence::Open).toString(QKeySequence::NativeText));
    _progressBar->setVisible(false);
    _progressBar->setTextVisible(true);
    // One line whatever its length; the tooltip holds a line per file.
    _statusLabel->setWordWrap(false);
    _statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    _statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* band = new QHBoxLayout;
    band->addWidget(_dropView, 1);
    band->addWidget(_openButton);

    auto* controls = new QHBoxLayout;
    controls->addWidget(_headerCheckBox);
    controls->addWidget(_optionsButton);
    controls->addStretch(1);
    controls->addWidget(_showFolderButton);

    auto* progress = new QHBoxLayout;
    progress->addWidget(_progressBar, 1);
    progress->addWidget(_cancelButton);

    // The list is the body; the details and preview share the room below it.
    _splitter->addWidget(_resultsView);
    _splitter->addWidget(_details);
    _splitter->setChildrenCollapsible(false);
    _splitter->setStretchFactor(0, 1);
    _splitter->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(_menuBar);
    layout->addLayout(band);
    layout->addLayout(controls);
    layout->addWidget(_optionsPanel);
    layout->addWidget(_splitter, 1);
    layout->addLayout(progress);
    layout->addWidget(_statusLabel);
    buildMenus();

    // Keyboard order follows the window from the top.
    QWidget* order[] = {_openButton,
                        _headerCheckBox,
                        _optionsButton,
                        _optionsPanel->excelBox(),
                        _optionsPanel->typesBox(),
                        _optionsPanel->allKeysBox(),
                        _optionsPanel->subfoldersBox(),
                        _optionsPanel->encodingBox(),
                        _optionsPanel->formBox(),
                        _optionsPanel->delimiterInBox(),
                        _optionsPanel->delimiterOutBox(),
                        _showFolderButton,
                        _resultsView,
                        _details->readAsButton(),
                        _details->table(),
                        _cancelButton};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    _filesChooser = [this](const QString& title, const QString& filter) {
        return QFileDialog::getOpenFileNames(this, title, QString(), filter);
    };

    _urlOpener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

    _offerChooser = [this](const QString& question, const QString& offer) {
        QMessageBox box(QMessageBox::Question, windowTitle(), question, QMessageBox::Cancel, this);
        QPushButton* accept = box.addButton(offer, QMessageBox::AcceptRole);
        QPushButton* convert = box.addButton(tr("Convert the files"), QMessageBox::ActionRole);
        box.setDefaultButton(accept);
        box.exec();
        return box.clickedButton() == accept    ? OfferAnswer::Accept
               : box.clickedButton() == convert ? OfferAnswer::Convert
                                                : OfferAnswer::Cancel;
    };
    _saveChooser = [this](const QString& title, const QString& suggested) {
        return QFileDialog::getSaveFileName(this, title, suggested, tr("CSV files (*.csv)"));
    };
    _dropView->setDropFilter([this](const QStringList& paths) { return offerLocalization(paths); });

    connect(_openButton, &QPushButton::clicked, this, &MainWindow::openFiles);
    connect(_showFolderButton, &QPushButton::clicked, this, &MainWindow::showOutputFolder);
    connect(_cancelButton, &QPushButton::clicked, _dropView, &mainView::cancelConversion);
    // Once pressed it has done its part; the drop ends at the conversion's next check.
    connect(_cancelButton, &QPushButton::clicked, _cancelButton, [this] { _cancelButton->setEnabled(false); });
    connect(_dropView, &mainView::fileProgress, this, &MainWindow::showFileProgress);
    // activated is a double-click, or Enter on the current row.
    connect(_resultsView, &QTreeView::activated, this, [this](const QModelIndex& index) { openResult(index.row()); });
    connect(_resultsView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { showDetails(current.isValid() ? current.row() : -1); });
    connect(_details, &DetailsPane::readAsRequested, this, [this](const QString& encoding) {
        readAgainAs(_resultsView->currentIndex().row(), encoding);
    });
    connect(_dropView, &mainView::busyChanged, _openButton, [this](bool busy) { _openButton->setEnabled(!busy); });
    connect(_dropView, &mainView::conversionStarted, this, &MainWindow::showStarted);
    // Both come in drop order, one per file, so the rows follow the drop.
    connect(_dropView, &mainView::fileConverted, this, [this](int index, const ConversionReport& report) {
        _results->addReport(report);
        if (index >= 0 && static_cast<std::size_t>(index) < _fileSizes.size())
            showFileProgress(index, _fileSizes[static_cast<std::size_t>(index)]);
    });
    connect(_dropView, &mainView::fileNotStarted, this, [this](int index) {
        if (index >= 0 && index < _dropView->droppedPaths().size())
            _results->addCancelled(_dropView->droppedPaths()[index]);
    });
    connect(_dropView, &mainView::conversionFinished, this, &MainWindow::showFinished);
    connect(_dropView, &mainView::reconverted, this, [this](const ConversionReport& report) {
        _results->replaceReport(_readAgainRow, report);
        _progressBar->setVisible(false);
        if (_resultsView->currentIndex().row() == _readAgainRow)
            showDetails(_readAgainRow);
    });
    connect(_dropView, &mainView::conversionCancelled, this, [this] {
        _statusLabel->setText(text("STATUS_CANCELLED"));
        _statusLabel->setToolTip(QString());
    });
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    // Called directly: sending the event would take Qt's way of delivering drags, back to this window.
    _dropView->dragEnterEvent(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    // Called directly: sending the event would take Qt's way of delivering drags, back to this window.
    _dropView->dragMoveEvent(event);
}

void MainWindow::dropEvent(QDropEvent* event)
{
    // Called directly: sending the event would take Qt's way of delivering drags, back to this window.
    _dropView->dropEvent(event);
}

bool MainWindow::offerLocalization(const QStringList& paths)
{
    if (paths.size() != 1)
        return false;
    const QString path = paths.front();
    const WindowOptions options = WindowOptions::load(_defaults);
    const bool folder =
        QFileInfo(path).isDir() && LocalizationExporter::holdsLocalizationFiles(QFile::encodeName(path).toStdString());
    if (!folder && !(path.endsWith(QStringLiteral(".csv")) && isLocalizationTable(path, options.delimiterIn)))
        return false;
    const QString name = QFileInfo(path).fileName();
    const OfferAnswer answer =
        folder ? _offerChooser(tr("%1 holds an app's localization files.").arg(name), tr("Export localization table…"))
               : _offerChooser(tr("%1 is a localization table.").arg(name), tr("Import into…"));
    if (answer == OfferAnswer::Convert)
        return false;
    if (answer == OfferAnswer::Cancel)
        return true;
    bool ok = false;
    QString status;
    if (folder) {
        const QString target = _saveChooser(tr("Save the localization table"), path + QStringLiteral(".csv"));
        if (target.isEmpty())
            return true;
        status = exportLocalizationTable(path, target, options, ok);
    } else {
        const std::optional<QString> into = _dropView->folderChooser()(
            QFileInfo(path).absolutePath(), tr("Choose the folder that holds the .lproj folders"), tr("Import Here"));
        if (!into)
            return true;
        status = importLocalizationTable(path, *into, options, ok);
    }
    _statusLabel->setText(status);
    _statusLabel->setToolTip(status);
    return true;
}

void MainWindow::showDetails(int row)
{
    if (row < 0 || row >= _results->rowCount()) {
        _details->clear();
        return;
    }
    _details->showResult(_results->report(row), _results->index(row, ResultsModel::ReasonColumn).data().toString(),
                         _results->state(row) == ResultsModel::State::Fallback && !_dropView->isBusy(), _dropOptions,
                         _dropHeader);
}

void MainWindow::openFiles()
{
    if (_dropView->isBusy())
        return;
    const QStringList files = _filesChooser(text("OPEN_FILES_TITLE"), text("OPEN_FILES_FILTER"));
    if (!files.isEmpty())
        _dropView->convertFiles(files);
}

void MainWindow::showStarted(int count, const QString& folder)
{
    _folder = folder;
    _dropOptions = WindowOptions::load(_defaults);
    _dropHeader = _defaults.boolForKey(std::string(settings::headerKey));
    _results->clear();
    _results->setFolders(_dropView->droppedFolders());
    _details->clear();
    _fileSizes.clear();
    _bytesTotal = 0;
    _bytesDone = 0;
    for (const QString& path : _dropView->droppedPaths()) {
        _fileSizes.push_back(QFileInfo(path).size());
        _bytesTotal += _fileSizes.back();
    }
    _fileBytesDone.assign(_fileSizes.size(), 0);
    // Progress counts bytes across the whole drop; with only empty files (or none that can be read)
    // there is nothing to count, so the bar only says that work goes on.
    _progressBar->setRange(0, _bytesTotal > 0 ? progressSteps : 0);
    _progressBar->setValue(0);
    _cancelButton->setVisible(true);
    _cancelButton->setEnabled(true);
    _progressBar->setVisible(true);
    _statusLabel->setText(text("STATUS_CONVERTING").arg(count).arg(folder));
    _statusLabel->setToolTip(QString());
}

void MainWindow::showFileProgress(int index, qint64 done)
{
    // Files convert side by side, so the bar shows the sum of what each has read. A file that grew
    // while it was read counts no more than the size it had at the drop, so the bar never runs past
    // the files not yet read; and a file never goes back, whatever order its reports arrive in.
    if (index < 0 || static_cast<std::size_t>(index) >= _fileSizes.size())
        return;
    const auto at = static_cast<std::size_t>(index);
    const qint64 now = std::clamp(done, _fileBytesDone[at], _fileSizes[at]);
    _bytesDone += now - _fileBytesDone[at];
    _fileBytesDone[at] = now;
    showBytes();
}

void MainWindow::showBytes()
{
    if (_progressBar->maximum() > 0 && _bytesTotal > 0)
        _progressBar->setValue(static_cast<int>(std::min(_bytesDone, _bytesTotal) * progressSteps / _bytesTotal));
}

void MainWindow::showFinished(const ConversionReports& reports)
{
    _progressBar->setVisible(false);
    _cancelButton->setVisible(false);
    _showFolderButton->setEnabled(!_folder.isEmpty());
    // States and encodings whole, names up to a quarter of the width each (a tooltip holds them
    // whole); the reason takes the rest, and the details below hold it in full.
    const int quarter = std::max(80, _resultsView->viewport()->width() / 4);
    for (int column = 0; column < ResultsModel::ReasonColumn; ++column) {
        _resultsView->resizeColumnToContents(column);
        if (column == ResultsModel::SourceColumn || column == ResultsModel::OutputColumn)
            _resultsView->setColumnWidth(column, std::min(_resultsView->columnWidth(column), quarter));
    }
    if (_results->rowCount() > 0)
        _resultsView->setCurrentIndex(_results->index(0, 0));
    const StatusText status = describeReports(reports, _folder);
    _statusLabel->setText(status.summary);
    _statusLabel->setToolTip((QStringList{status.summary} + status.lines).join(QLatin1Char('\n')));
}

} // namespace plistable::gui

namespace plistable::gui {

void MainWindow::buildMenus()
{
    QMenu* file = _menuBar->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("&Open files…"), this, &MainWindow::openFiles);
    // The button already owns Ctrl+O; the menu shows the key without taking it twice.
    open->setShortcutVisibleInContextMenu(true);
    open->setShortcut(QKeySequence::Open);
    open->setShortcutContext(Qt::WidgetShortcut);
    file->addAction(tr("&Show output folder"), this, &MainWindow::showOutputFolder);
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, [this] { window()->close(); });
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    addAction(quit);
    QMenu* help = _menuBar->addMenu(tr("&Help"));
    help->addAction(tr("&About plistable"), this, &MainWindow::showAbout);
    _menuBar->setAccessibleName(tr("Menu bar"));
}

void MainWindow::openResult(int row)
{
    if (row < 0 || row >= _results->rowCount())
        return;
    const QString output = _results->outputPath(row);
    if (!output.isEmpty())
        _urlOpener(QUrl::fromLocalFile(output));
}

void MainWindow::showOutputFolder()
{
    if (!_folder.isEmpty())
        _urlOpener(QUrl::fromLocalFile(_folder));
}

QList<QPair<QString, QString>> MainWindow::offeredEncodings()
{
    return {{QStringLiteral("windows-1252"), tr("Windows-1252 (Western)")},
            {QStringLiteral("ISO-8859-1"), tr("Latin-1 (ISO-8859-1)")},
            {QStringLiteral("Shift_JIS"), tr("Shift_JIS (Japanese)")},
            {QStringLiteral("EUC-JP"), tr("EUC-JP (Japanese)")},
            {QStringLiteral("UTF-16"), tr("UTF-16")}};
}

void MainWindow::showReadAsMenu(const QPoint& position)
{
    const QModelIndex index = _resultsView->indexAt(position);
    if (!index.isValid() || _results->state(index.row()) != ResultsModel::State::Fallback || _dropView->isBusy())
        return;
    QMenu menu(this);
    QMenu* readAs = menu.addMenu(tr("Read as…"));
    for (const auto& [name, label] : offeredEncodings())
        readAs->addAction(label, this, [this, row = index.row(), encoding = name] { readAgainAs(row, encoding); });
    menu.exec(_resultsView->viewport()->mapToGlobal(position));
}

void MainWindow::readAgainAs(int row, const QString& encoding)
{
    if (row < 0 || row >= _results->rowCount() || _dropView->isBusy())
        return;
    // Off the GUI thread like a drop, into the drop's folder; the row is replaced when it is done.
    const QString source = QFile::decodeName(QByteArray::fromStdString(_results->report(row).sourcePath));
    if (!_dropView->reconvert(source, encoding))
        return;
    _readAgainRow = row;
    _progressBar->setRange(0, 0);
    _progressBar->setVisible(true);
}

void MainWindow::showAbout()
{
    QMessageBox::about(this, tr("About plistable"),
                       tr("plistable %1\nConverts tables between CSV and property lists.\nLicence: MIT")
                           .arg(QApplication::applicationVersion()));
}

} // namespace plistable::gui
