#include "gui/MainWindow.hpp"

#include "gui/Localization.hpp"
#include "gui/StatusText.hpp"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace plistable::gui {
namespace {

// Lines of detail shown under the summary; the tooltip holds every line.
constexpr qsizetype statusLines = 4;

QString text(const char* key)
{
    return Localization::localizedString(QString::fromLatin1(key));
}

} // namespace

MainWindow::MainWindow(UserDefaults& defaults, QWidget* parent)
    : QWidget(parent),
      _dropView(new mainView(defaults, this)),
      _headerCheckBox(new QCheckBox(text("HEADER_CHECKBOX"), this)),
      _openButton(new QPushButton(text("OPEN_FILES_BUTTON"), this)),
      _progressBar(new QProgressBar(this)),
      _statusLabel(new QLabel(text("STATUS_IDLE"), this))
{
    setWindowTitle(text("WINDOW_TITLE"));
    setMinimumSize(420, 320);
    resize(560, 420);

    _openButton->setShortcut(QKeySequence::Open);
    _openButton->setToolTip(QKeySequence(QKeySequence::Open).toString(QKeySequence::NativeText));
    _progressBar->setVisible(false);
    _progressBar->setTextVisible(true);
    _statusLabel->setWordWrap(true);
    _statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    _statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* controls = new QHBoxLayout;
    controls->addWidget(_headerCheckBox);
    controls->addStretch(1);
    controls->addWidget(_openButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(_dropView, 1);
    layout->addLayout(controls);
    layout->addWidget(_progressBar);
    layout->addWidget(_statusLabel);

    _filesChooser = [this](const QString& title, const QString& filter) {
        return QFileDialog::getOpenFileNames(this, title, QString(), filter);
    };

    connect(_openButton, &QPushButton::clicked, this, &MainWindow::openFiles);
    connect(_dropView, &mainView::busyChanged, _openButton, [this](bool busy) { _openButton->setEnabled(!busy); });
    connect(_dropView, &mainView::conversionStarted, this, &MainWindow::showStarted);
    connect(_dropView, &mainView::fileConverted, this, [this](int index) { showProgress(index); });
    connect(_dropView, &mainView::conversionFinished, this, &MainWindow::showFinished);
    connect(_dropView, &mainView::conversionCancelled, this, [this] {
        _statusLabel->setText(text("STATUS_CANCELLED"));
        _statusLabel->setToolTip(QString());
    });
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
    // With one file there is no progress to count, so the bar only says that work goes on.
    _progressBar->setRange(0, count > 1 ? count : 0);
    _progressBar->setValue(0);
    _progressBar->setVisible(true);
    _statusLabel->setText(text("STATUS_CONVERTING").arg(count).arg(folder));
    _statusLabel->setToolTip(QString());
}

void MainWindow::showProgress(int index)
{
    if (_progressBar->maximum() > 0)
        _progressBar->setValue(index + 1);
}

void MainWindow::showFinished(const ConversionReports& reports)
{
    _progressBar->setVisible(false);
    const StatusText status = describeReports(reports, _folder);
    _statusLabel->setText(shortStatus(status, statusLines));
    _statusLabel->setToolTip((QStringList{status.summary} + status.lines).join(QLatin1Char('\n')));
}

} // namespace plistable::gui
