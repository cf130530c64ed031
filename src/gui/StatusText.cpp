#include "gui/StatusText.hpp"

#include "gui/Localization.hpp"
#include "gui/ResultsModel.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace plistable::gui {
namespace {

QString fileName(const std::string& path)
{
    return QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).fileName();
}

// The words around the names go through the translation system like every visible text.
constexpr const char* context = "plistable::gui::StatusText";

QString joined(const std::vector<std::string>& reasons)
{
    // As the list shows them: no option names of the command line.
    QStringList parts;
    for (const std::string& reason : reasons)
        parts.append(ResultsModel::windowMessage(reason));
    parts.removeAll(QString());
    return parts.join(QStringLiteral("; "));
}

} // namespace

QString describeReport(const ConversionReport& report)
{
    const QString source = fileName(report.sourcePath);
    QString line;
    switch (report.status) {
    case ConversionReport::Status::Converted:
        line = source + QStringLiteral(" → ") + fileName(report.outputPath);
        break;
    case ConversionReport::Status::Partial:
        line = source + QStringLiteral(" → ") + fileName(report.outputPath)
               + QCoreApplication::translate(context, ", incomplete: ") + joined(report.problems);
        break;
    case ConversionReport::Status::Failed:
        line = source + QCoreApplication::translate(context, ": not converted: ") + joined(report.problems);
        break;
    case ConversionReport::Status::Skipped:
        return source + QStringLiteral(": ")
               + (report.notes.empty() ? QCoreApplication::translate(context, "passed over") : joined(report.notes));
    case ConversionReport::Status::Cancelled:
        return source + QCoreApplication::translate(context, ": cancelled");
    }
    if (!report.encodingName.empty())
        line += QCoreApplication::translate(context, " (read as %1)").arg(QString::fromStdString(report.encodingName));
    if (!report.notes.empty())
        line += QStringLiteral("; ") + joined(report.notes);
    return line;
}

StatusText describeReports(const std::vector<ConversionReport>& reports, const QString& folder)
{
    StatusText text;
    qsizetype written = 0;
    qsizetype candidates = 0;
    qsizetype troubled = 0;
    qsizetype passedOver = 0;
    qsizetype cancelled = 0;
    for (const ConversionReport& report : reports) {
        const QString line = describeReport(report);
        text.lines.append(line);
        if (report.status == ConversionReport::Status::Skipped) {
            ++passedOver;
            text.others.append(line);
            continue;
        }
        if (report.status == ConversionReport::Status::Cancelled) {
            // Asked for, so no problem to point at: counted among the files, listed with the rest.
            ++candidates;
            ++cancelled;
            text.others.append(line);
            continue;
        }
        ++candidates;
        if (!report.outputPath.empty())
            ++written;
        if (report.succeeded()) {
            text.others.append(line);
        } else {
            ++troubled;
            text.problems.append(line);
        }
    }
    if (reports.empty()) {
        text.summary = Localization::localizedString(QStringLiteral("STATUS_NOTHING"));
        return text;
    }
    QStringList parts{Localization::localizedString(QStringLiteral("STATUS_WROTE"))
                          .arg(written)
                          .arg(candidates)
                          .arg(folder)};
    if (troubled > 0)
        parts.append(Localization::localizedString(QStringLiteral("STATUS_PROBLEMS")).arg(troubled));
    if (passedOver > 0)
        parts.append(Localization::localizedString(QStringLiteral("STATUS_PASSED_OVER")).arg(passedOver));
    if (cancelled > 0)
        parts.append(Localization::localizedString(QStringLiteral("STATUS_CANCELLED_FILES")).arg(cancelled));
    text.summary = parts.join(QStringLiteral("; ")) + QLatin1Char('.');
    return text;
}

QString shortStatus(const StatusText& text, qsizetype maxLines)
{
    // In a large drop the few files that went wrong must not scroll out of sight behind the rest.
    const QStringList ordered = text.problems + text.others;
    QStringList shown{text.summary};
    shown.append(ordered.mid(0, maxLines));
    if (text.lines.size() > maxLines)
        shown.append(Localization::localizedString(QStringLiteral("STATUS_MORE")).arg(text.lines.size() - maxLines));
    return shown.join(QLatin1Char('\n'));
}

} // namespace plistable::gui
