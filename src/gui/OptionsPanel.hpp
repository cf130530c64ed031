#pragma once

#include "gui/WindowOptions.hpp"

#include <QList>
#include <QPair>
#include <QWidget>

#include <string_view>

class QCheckBox;
class QComboBox;

namespace plistable {
class UserDefaults;
}

namespace plistable::gui {

/// The options beside the header check box: CSV for Excel, the encoding and the delimiters of CSV,
/// typed values, every key as a column, the form of the property lists written and whether a folder
/// dropped includes its subfolders. Shows what the
/// settings store holds and stores each control's value under its own key, at once, every time the
/// user changes it (like the header box); the next drop reads them from the store.
class OptionsPanel : public QWidget {
    Q_OBJECT

public:
    /// A panel keeping its values in `defaults` (which must outlive it), set from it at once.
    explicit OptionsPanel(UserDefaults& defaults, QWidget* parent = nullptr);

    QCheckBox* excelBox() const { return _excel; }
    QCheckBox* typesBox() const { return _types; }
    QCheckBox* allKeysBox() const { return _allKeys; }
    QCheckBox* subfoldersBox() const { return _subfolders; }
    QComboBox* encodingBox() const { return _encoding; }
    QComboBox* formBox() const { return _form; }
    QComboBox* delimiterInBox() const { return _delimiterIn; }
    QComboBox* delimiterOutBox() const { return _delimiterOut; }

    /// Sets every control from the store, storing nothing.
    void load();

    /// The encodings offered for the CSV written, as (stored name, label); UTF-8 (stored as nothing) first.
    static QList<QPair<QString, QString>> outputEncodings();
    /// The delimiters offered, as (character, label).
    static QList<QPair<QChar, QString>> delimiters();

signals:
    /// The user changed an option and it is stored.
    void optionsChanged();

private:
    void storeBool(std::string_view key, bool value);
    void storeText(std::string_view key, const QString& value);
    static void select(QComboBox* box, const QVariant& value, const QString& label);

    UserDefaults& _defaults;
    QCheckBox* _excel;
    QCheckBox* _types;
    QCheckBox* _allKeys;
    QCheckBox* _subfolders;
    QComboBox* _encoding;
    QComboBox* _form;
    QComboBox* _delimiterIn;
    QComboBox* _delimiterOut;
};

} // namespace plistable::gui
