#include "gui/DetailsPane.hpp"

#include "gui/MainWindow.hpp"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace plistable::gui {
namespace {

QString localPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

constexpr int maxColumns = 256;

QString suffixOf(const QString& path)
{
    return QFileInfo(path).suffix().toLower();
}

} // namespace

DetailsPane::DetailsPane(QWidget* parent)
    : QWidget(parent),
      _summary(new QLabel(this)),
      _reason(new QLabel(this)),
      _readAs(new QPushButton(tr("Read as…"), this)),
      _table(new QTableWidget(this))
{
    _summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    _summary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    _reason->setWordWrap(true);
    _reason->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    _reason->setAccessibleName(tr("Reason"));
    _summary->setAccessibleName(tr("Selected result"));
    _table->setAccessibleName(tr("Preview"));
    _table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    _table->setWordWrap(false);
    _table->verticalHeader()->setDefaultSectionSize(_table->fontMetrics().height() + 6);
    _table->horizontalHeader()->setDefaultSectionSize(120);
    _readAs->setAccessibleName(_readAs->text());
    _readAs->setEnabled(false);
    auto* menu = new QMenu(_readAs);
    for (const auto& [name, label] : MainWindow::offeredEncodings())
        menu->addAction(label, this, [this, encoding = name] { emit readAsRequested(encoding); });
    _readAs->setMenu(menu);

    auto* top = new QHBoxLayout;
    top->addWidget(_summary, 1);
    top->addWidget(_readAs);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(_reason);
    layout->addWidget(_table, 1);
    clear();
}

void DetailsPane::clear()
{
    _preview = {};
    _summary->setText(tr("Select a result to see its first rows."));
    _reason->clear();
    _reason->setVisible(false);
    _readAs->setEnabled(false);
    _table->clear();
    _table->setRowCount(0);
    _table->setColumnCount(0);
}

void DetailsPane::showResult(const ConversionReport& report, const QString& reason, bool offerReadAs,
                             const WindowOptions& options, bool header)
{
    const QString source = localPath(report.sourcePath);
    const QString output = localPath(report.outputPath);
    bool ofSource = false; // the preview is of the source, not the output
    if (!output.isEmpty() && suffixOf(output) == QStringLiteral("csv")) {
        _preview = TablePreview::ofCsv(output, options.delimiterOut, header, 0, options.outputEncoding);
    } else if (!output.isEmpty() && suffixOf(output) != QStringLiteral("json")) {
        _preview = TablePreview::ofPropertyList(output);
    } else if (suffixOf(source) == QStringLiteral("plist")) {
        _preview = TablePreview::ofPropertyList(source);
        ofSource = true;
    } else if (suffixOf(source) == QStringLiteral("csv") || !output.isEmpty()) {
        // A JSON output holds the same table as the CSV it was made from.
        _preview = TablePreview::ofCsv(source, options.delimiterIn, header, report.encoding,
                                       QString::fromStdString(report.encoding == 0 ? report.encodingName : std::string()));
        ofSource = true;
    } else {
        _preview = {};
    }

    QStringList facts;
    facts.append(QFileInfo(source).fileName()
                 + (output.isEmpty() ? QString() : QStringLiteral(" → ") + QFileInfo(output).fileName()));
    const QString encoding =
        report.encodingName.empty() ? _preview.encoding : QString::fromStdString(report.encodingName);
    if (!encoding.isEmpty())
        facts.append(tr("encoding read: %1").arg(encoding));
    if (!output.isEmpty())
        facts.append(tr("rows written: %1").arg(report.records));
    if (_preview.more)
        facts.append(tr("showing the first %1 rows").arg(_preview.rows.size()));
    if (ofSource && !_preview.rows.empty())
        facts.append(tr("showing the source"));
    _summary->setText(facts.join(QStringLiteral(" · ")));
    _summary->setToolTip(_summary->text());

    QStringList problems;
    if (!reason.isEmpty())
        problems.append(reason);
    for (const QString& problem : _preview.problems)
        problems.append(tr("preview: %1").arg(problem));
    _reason->setText(problems.join(QLatin1Char('\n')));
    _reason->setVisible(!problems.isEmpty());
    _readAs->setEnabled(offerReadAs);

    int columns = static_cast<int>(_preview.columns.size());
    for (const QStringList& row : _preview.rows)
        columns = std::max(columns, static_cast<int>(row.size()));
    // A table of thousands of columns would take the table widget seconds to lay out; the first ones
    // say what the file holds.
    columns = std::min(columns, maxColumns);
    _table->clear();
    _table->setColumnCount(columns);
    _table->setRowCount(static_cast<int>(_preview.rows.size()));
    if (!_preview.columns.isEmpty())
        _table->setHorizontalHeaderLabels(_preview.columns.mid(0, columns));
    for (int row = 0; row < _table->rowCount(); ++row) {
        const QStringList& cells = _preview.rows[static_cast<std::size_t>(row)];
        for (int column = 0; column < std::min(columns, static_cast<int>(cells.size())); ++column)
            _table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
}

} // namespace plistable::gui
