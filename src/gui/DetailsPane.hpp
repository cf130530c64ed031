#pragma once

#include "core/convert/ConversionReport.hpp"
#include "gui/TablePreview.hpp"
#include "gui/WindowOptions.hpp"

#include <QWidget>

class QLabel;
class QPushButton;
class QTableWidget;

namespace plistable::gui {

/// Below the results: what the selected result is (its files, the encoding read, the rows written),
/// its reason in full, the problems of its file and a preview of its first rows as a table. The
/// preview reads the output (a property list as the table it holds, CSV as its columns); a JSON output
/// is shown as the CSV it was made from, and a file with no output as its source.
class DetailsPane : public QWidget {
    Q_OBJECT

public:
    explicit DetailsPane(QWidget* parent = nullptr);

    /// Shows `report` (with `reason`, the text of the results' Reason column) and reads its preview
    /// now, with the options and header setting the drop was converted with. `offerReadAs` enables
    /// the Read as… button (a file read in the fallback encoding).
    void showResult(const ConversionReport& report, const QString& reason, bool offerReadAs,
                    const WindowOptions& options, bool header);
    /// Shows nothing.
    void clear();

    QLabel* summaryLabel() const { return _summary; }
    QLabel* reasonLabel() const { return _reason; }
    QTableWidget* table() const { return _table; }
    QPushButton* readAsButton() const { return _readAs; }
    /// The preview shown (empty after clear()).
    const TablePreview& preview() const { return _preview; }

signals:
    /// The user chose an encoding (an ICU name) under Read as….
    void readAsRequested(const QString& encoding);

private:
    QLabel* _summary;
    QLabel* _reason;
    QPushButton* _readAs;
    QTableWidget* _table;
    TablePreview _preview;
};

} // namespace plistable::gui
