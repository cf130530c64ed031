#include "gui/LocalizationOffer.hpp"

#include "core/io/AtomicFile.hpp"
#include "core/io/FileContents.hpp"
#include "core/strings/LocalizationExporter.hpp"
#include "core/strings/LocalizationImporter.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace plistable::gui {
namespace {

constexpr const char* context = "plistable::gui::LocalizationOffer";

QString tr(const char* text)
{
    return QCoreApplication::translate(context, text);
}

std::string localName(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

bool isLocalizationTable(const QString& path, QChar delimiter)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString head = QString::fromUtf8(file.read(256));
    if (head.startsWith(QChar(0xFEFF)))
        head.remove(0, 1);
    const QString header = QStringList{QStringLiteral("table"), QStringLiteral("key"), QStringLiteral("variant"),
                                       QStringLiteral("comment")}
                               .join(delimiter);
    return head.startsWith(header + delimiter);
}

QString exportLocalizationTable(const QString& folder, const QString& target, const WindowOptions& options, bool& ok)
{
    ok = false;
    const LocalizationExport result = LocalizationExporter().exportPaths({localName(folder)});
    if (!result.complete())
        return tr("No localization table written: %1")
            .arg(QString::fromStdString(result.problems.front().description()));
    LocalizationCsvWriting dialect;
    dialect.delimiter = options.delimiterOut.unicode();
    dialect.crlf = options.excel;
    dialect.byteOrderMark = options.excel;
    if (!options.outputEncoding.isEmpty())
        dialect.encoding = options.outputEncoding.toStdString();
    LocalizationProblem problem;
    const std::optional<std::string> bytes = result.table.csvBytes(dialect, &problem);
    if (!bytes) {
        problem.path = localName(target);
        return tr("No localization table written: %1").arg(QString::fromStdString(problem.description()));
    }
    AtomicFile file(localName(target));
    file.write(*bytes);
    if (const std::error_code error = file.commit())
        return tr("No localization table written: %1: %2").arg(target, QString::fromStdString(error.message()));
    ok = true;
    return tr("Exported the localization table of %1 (%2 rows) to %3.")
        .arg(QFileInfo(folder).fileName())
        .arg(result.table.rows.size())
        .arg(target);
}

QString importLocalizationTable(const QString& table, const QString& folder, const WindowOptions& options, bool& ok)
{
    ok = false;
    const FileContents contents = readFileContents(localName(table));
    if (contents.error)
        return tr("Nothing imported: %1: %2").arg(table, QString::fromStdString(contents.error.message()));
    LocalizationCsvReading dialect;
    dialect.delimiter = options.delimiterIn.unicode();
    LocalizationProblem problem;
    const std::optional<LocalizationTable> read =
        LocalizationTable::fromCsvBytes(contents.bytes, localName(table), dialect, problem);
    if (!read)
        return tr("Nothing imported: %1").arg(QString::fromStdString(problem.description()));
    LocalizationImportOptions importOptions;
    importOptions.outputFolder = localName(folder);
    const LocalizationImportReport report = LocalizationImporter(importOptions).importTable(*read, localName(table));
    ok = report.complete();
    QString line = tr("Imported %1 into %2: %3 files written, %4 unchanged.")
                       .arg(QFileInfo(table).fileName(), folder)
                       .arg(report.written.size())
                       .arg(report.unchanged.size());
    if (!report.problems.empty())
        line += QLatin1Char(' ') + tr("%1 problems, the first: %2")
                                       .arg(report.problems.size())
                                       .arg(QString::fromStdString(report.problems.front().description()));
    return line;
}

} // namespace plistable::gui
