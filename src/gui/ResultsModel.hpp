#pragma once

#include "core/convert/ConversionReport.hpp"

#include <QAbstractTableModel>
#include <QString>

#include <vector>

namespace plistable::gui {

/// The results of the last drop as a table: one row per dropped file, in drop order, with the
/// state (as an icon and a word), the source name, the output name, the encoding and the reason.
class ResultsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { StateColumn, SourceColumn, OutputColumn, EncodingColumn, ReasonColumn, ColumnCount };

    enum class State {
        Converted,  ///< the whole input is in the output file
        Fallback,   ///< converted, but read as Mac OS Roman because no other encoding fitted
        Partial,    ///< an output file was written with something missing or altered
        Failed,     ///< nothing was written
        PassedOver, ///< not a file this tool converts
        Cancelled,  ///< the drop was stopped before this file was started
    };

    explicit ResultsModel(QObject* parent = nullptr);

    /// Removes every row.
    void clear();
    /// The folders of the drop: a file in one of them is named by its path from the folder's own name
    /// ("data/a.csv"), so that a folder's files read as grouped under it.
    void setFolders(const QStringList& folders) { _folders = folders; }
    /// Appends the row of one converted (or passed over) file.
    void addReport(const ConversionReport& report);
    /// Appends a row for a file that was never started because the drop was stopped.
    void addCancelled(const QString& sourcePath);
    /// Replaces the row at `row` (a file converted again).
    void replaceReport(int row, const ConversionReport& report);

    /// The state of a row, from its report.
    State state(int row) const;
    const ConversionReport& report(int row) const { return _rows.at(static_cast<std::size_t>(row)).report; }
    /// The output file of a row, empty when none was written.
    QString outputPath(int row) const;

    /// The reason shown for a report: its problems and notes, without advice meant for the command line,
    /// each translated where the installed translation has it.
    static QString reason(const ConversionReport& report);
    /// One message of a report as the window shows it: advice in command-line terms replaced by the
    /// window's own (or left out), translated where the installed translation has it.
    static QString windowMessage(const std::string& message);
    /// The state of a report.
    static State stateOf(const ConversionReport& report);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        ConversionReport report;
        bool cancelled = false;
    };

    QString stateText(State state) const;

    QString sourceName(const std::string& sourcePath) const;

    std::vector<Row> _rows;
    QStringList _folders;
};

} // namespace plistable::gui
