#include "gui/ResultsModel.hpp"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStyle>

#include <optional>

namespace plistable::gui {
namespace {

QString fileName(const std::string& path)
{
    return QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).fileName();
}

// Advice the library gives in command-line terms, and what the window says instead: an option of its
// own, or nothing when the window has no such option.
struct Advice {
    const char* library;
    const char* window; // translated in this file's context; empty: left out
};
constexpr Advice advice[] = {
    {"; use --encoding to choose another", QT_TRANSLATE_NOOP("plistable::gui::ResultsModel", "choose another with Read as…")},
    {"--all-keys writes a column for every key",
     QT_TRANSLATE_NOOP("plistable::gui::ResultsModel", "Options: “A column for every key” writes them all")},
    {"--dedupe-keys renames repeated header names so that every value is kept", ""},
};

QString translatedText(const QString& text);

// The message as the window shows it: no command-line option names; any other "; use --option ..." is cut.
QString withoutCommandLineAdvice(const std::string& text)
{
    QString reason = QString::fromStdString(text);
    for (const Advice& entry : advice) {
        const QString library = QString::fromUtf8(entry.library);
        if (const qsizetype at = reason.indexOf(library); at >= 0) {
            const QString window = *entry.window == 0 ? QString() : translatedText(QString::fromUtf8(entry.window));
            const bool joined = library.startsWith(QLatin1Char(';'));
            reason.replace(at, library.size(), window.isEmpty() || !joined ? window : QStringLiteral("; ") + window);
        }
    }
    const qsizetype other = reason.indexOf(QStringLiteral("; use --"));
    if (other >= 0)
        reason.truncate(other);
    return reason;
}

QString translatedText(const QString& text)
{
    return QCoreApplication::translate("plistable::gui::ResultsModel", text.toUtf8().constData());
}

// A message whose numbers and quoted names are taken out ("line 3: ..." -> "line %1: ..."), translated as
// that pattern and filled in again; nothing when the pattern has no translation.
std::optional<QString> translatedPattern(const QString& message)
{
    static const QRegularExpression variable(QStringLiteral("\\d+|\"[^\"]*\""));
    QString pattern;
    QStringList values;
    qsizetype from = 0;
    for (QRegularExpressionMatchIterator it = variable.globalMatch(message); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        pattern += message.mid(from, match.capturedStart() - from) + QLatin1Char('%')
                   + QString::number(values.size() + 1);
        values.append(match.captured());
        from = match.capturedEnd();
    }
    if (values.isEmpty())
        return std::nullopt;
    pattern += message.mid(from);
    QString translated = translatedText(pattern);
    if (translated == pattern)
        return std::nullopt;
    for (qsizetype i = values.size(); i-- > 0;)
        translated.replace(QLatin1Char('%') + QString::number(i + 1), values[i]);
    return translated;
}

// The library's messages are English. A fixed text has an entry in the translation, and so has the
// pattern of a message with numbers or quoted names in it; a message made of several parts ("line 3:
// ...; 2 records converted, ...") is translated part by part. What has no entry passes through.
QString translatedMessage(const QString& message)
{
    if (const QString whole = translatedText(message); whole != message)
        return whole;
    if (std::optional<QString> whole = translatedPattern(message))
        return *whole;
    QStringList parts = message.split(QStringLiteral("; "));
    if (parts.size() == 1)
        return message;
    for (QString& part : parts) {
        if (const QString fixed = translatedText(part); fixed != part)
            part = fixed;
        else if (std::optional<QString> filled = translatedPattern(part))
            part = *filled;
    }
    return parts.join(QStringLiteral("; "));
}

QStyle::StandardPixmap iconOf(ResultsModel::State state)
{
    switch (state) {
    case ResultsModel::State::Converted:
        return QStyle::SP_DialogApplyButton;
    case ResultsModel::State::Fallback:
    case ResultsModel::State::Partial:
        return QStyle::SP_MessageBoxWarning;
    case ResultsModel::State::Failed:
        return QStyle::SP_MessageBoxCritical;
    case ResultsModel::State::PassedOver:
        return QStyle::SP_MessageBoxInformation;
    case ResultsModel::State::Cancelled:
        break;
    }
    return QStyle::SP_DialogCancelButton;
}

} // namespace

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

void ResultsModel::clear()
{
    beginResetModel();
    _rows.clear();
    endResetModel();
}

void ResultsModel::addReport(const ConversionReport& report)
{
    const int row = static_cast<int>(_rows.size());
    beginInsertRows({}, row, row);
    _rows.push_back({report, false});
    endInsertRows();
}

void ResultsModel::addCancelled(const QString& sourcePath)
{
    ConversionReport report;
    report.sourcePath = QFile::encodeName(sourcePath).toStdString();
    const int row = static_cast<int>(_rows.size());
    beginInsertRows({}, row, row);
    _rows.push_back({std::move(report), true});
    endInsertRows();
}

void ResultsModel::replaceReport(int row, const ConversionReport& report)
{
    if (row < 0 || row >= rowCount())
        return;
    _rows[static_cast<std::size_t>(row)] = {report, false};
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

QString ResultsModel::sourceName(const std::string& sourcePath) const
{
    const QString path = QFile::decodeName(QByteArray::fromStdString(sourcePath));
    for (const QString& folder : _folders) {
        const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
        if (path.startsWith(prefix))
            return QFileInfo(folder).fileName() + QLatin1Char('/') + path.mid(prefix.size());
    }
    return fileName(sourcePath);
}

ResultsModel::State ResultsModel::stateOf(const ConversionReport& report)
{
    switch (report.status) {
    case ConversionReport::Status::Converted:
        return report.encodingGuessed ? State::Fallback : State::Converted;
    case ConversionReport::Status::Partial:
        return State::Partial;
    case ConversionReport::Status::Failed:
        return State::Failed;
    case ConversionReport::Status::Cancelled:
        return State::Cancelled;
    case ConversionReport::Status::Skipped:
        break;
    }
    return State::PassedOver;
}

ResultsModel::State ResultsModel::state(int row) const
{
    const Row& entry = _rows.at(static_cast<std::size_t>(row));
    return entry.cancelled ? State::Cancelled : stateOf(entry.report);
}

QString ResultsModel::outputPath(int row) const
{
    return QFile::decodeName(QByteArray::fromStdString(report(row).outputPath));
}

QString ResultsModel::windowMessage(const std::string& message)
{
    return translatedMessage(withoutCommandLineAdvice(message));
}

QString ResultsModel::reason(const ConversionReport& report)
{
    QStringList parts;
    for (const std::string& problem : report.problems)
        parts.append(windowMessage(problem));
    for (const std::string& note : report.notes)
        parts.append(windowMessage(note));
    parts.removeAll(QString());
    return parts.join(QStringLiteral("; "));
}

QString ResultsModel::stateText(State state) const
{
    switch (state) {
    case State::Converted:
        return tr("Converted");
    case State::Fallback:
        return tr("Check encoding");
    case State::Partial:
        return tr("Partly converted");
    case State::Failed:
        return tr("Failed");
    case State::PassedOver:
        return tr("Passed over");
    case State::Cancelled:
        break;
    }
    return tr("Cancelled");
}

int ResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(_rows.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& entry = _rows[static_cast<std::size_t>(index.row())];
    const State rowState = state(index.row());
    if (role == Qt::DecorationRole && index.column() == StateColumn && qApp != nullptr)
        return QApplication::style()->standardIcon(iconOf(rowState));
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case StateColumn:
        return stateText(rowState);
    case SourceColumn:
        return sourceName(entry.report.sourcePath);
    case OutputColumn:
        return fileName(entry.report.outputPath);
    case EncodingColumn:
        return QString::fromStdString(entry.report.encodingName);
    case ReasonColumn:
        return entry.cancelled ? tr("the drop was cancelled before this file") : reason(entry.report);
    default:
        return {};
    }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case StateColumn:
        return tr("State");
    case SourceColumn:
        return tr("File");
    case OutputColumn:
        return tr("Output");
    case EncodingColumn:
        return tr("Encoding");
    case ReasonColumn:
        return tr("Reason");
    default:
        return {};
    }
}

} // namespace plistable::gui
