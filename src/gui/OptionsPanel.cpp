#include "gui/OptionsPanel.hpp"

#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVariant>
#include <QLabel>

namespace plistable::gui {

OptionsPanel::OptionsPanel(UserDefaults& defaults, QWidget* parent)
    : QWidget(parent),
      _defaults(defaults),
      _excel(new QCheckBox(tr("CSV for &Excel (BOM, CRLF)"), this)),
      _types(new QCheckBox(tr("&Typed values"), this)),
      _allKeys(new QCheckBox(tr("A column for every &key"), this)),
      _subfolders(new QCheckBox(tr("Include &subfolders"), this)),
      _encoding(new QComboBox(this)),
      _form(new QComboBox(this)),
      _delimiterIn(new QComboBox(this)),
      _delimiterOut(new QComboBox(this))
{
    for (const auto& [name, label] : outputEncodings())
        _encoding->addItem(label, name);
    _form->addItem(tr("XML property list"), WindowOptions::formName(OutputFormat::Xml));
    _form->addItem(tr("Binary property list"), WindowOptions::formName(OutputFormat::Binary));
    _form->addItem(tr("JSON"), WindowOptions::formName(OutputFormat::Json));
    _form->addItem(tr("Old-style text property list"), WindowOptions::formName(OutputFormat::OpenStep));
    _form->addItem(tr("Strings file (two columns)"), WindowOptions::formName(OutputFormat::Strings));
    for (QComboBox* box : {_delimiterIn, _delimiterOut})
        for (const auto& [delimiter, label] : delimiters())
            box->addItem(label, QString(delimiter));

    // The switches on one line, the lists in two pairs below them: at 800 pixels wide, in every language.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* switches = new QHBoxLayout;
    switches->addWidget(_excel);
    switches->addWidget(_types);
    switches->addWidget(_allKeys);
    switches->addWidget(_subfolders);
    switches->addStretch(1);
    layout->addLayout(switches, 0, 0, 1, 4);
    const auto addPair = [this, layout](int row, int column, const QString& text, QComboBox* box) {
        auto* label = new QLabel(text, this);
        label->setBuddy(box);
        box->setAccessibleName(QString(text).remove(QLatin1Char('&')));
        layout->addWidget(label, row, column);
        layout->addWidget(box, row, column + 1);
    };
    addPair(1, 0, tr("Encoding &written:"), _encoding);
    addPair(1, 2, tr("CSV &becomes:"), _form);
    addPair(2, 0, tr("Delimiter &read:"), _delimiterIn);
    addPair(2, 2, tr("Delimiter wr&itten:"), _delimiterOut);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(3, 1);
    _excel->setToolTip(tr("CSV files written begin with a byte-order mark and end their lines with CRLF"));
    _types->setToolTip(tr("Numbers, true and false read from CSV become numbers and booleans"));
    _allKeys->setToolTip(tr("The CSV written has a column for every key of every dictionary"));
    _subfolders->setToolTip(tr("A folder dropped converts the files of its subfolders too"));
    for (QCheckBox* box : {_excel, _types, _allKeys, _subfolders})
        box->setAccessibleName(box->text().remove(QLatin1Char('&')));
    load();

    // clicked and activated come from the user only, so setting the controls from the store stores nothing.
    connect(_excel, &QCheckBox::clicked, this, [this](bool on) { storeBool(settings::excelKey, on); });
    connect(_types, &QCheckBox::clicked, this, [this](bool on) { storeBool(settings::typesKey, on); });
    connect(_allKeys, &QCheckBox::clicked, this, [this](bool on) { storeBool(settings::allKeysKey, on); });
    connect(_subfolders, &QCheckBox::clicked, this,
            [this](bool on) { storeBool(settings::includeSubfoldersKey, on); });
    connect(_encoding, &QComboBox::activated, this,
            [this] { storeText(settings::outputEncodingKey, _encoding->currentData().toString()); });
    connect(_form, &QComboBox::activated, this,
            [this] { storeText(settings::outputFormKey, _form->currentData().toString()); });
    connect(_delimiterIn, &QComboBox::activated, this,
            [this] { storeText(settings::delimiterInKey, _delimiterIn->currentData().toString()); });
    connect(_delimiterOut, &QComboBox::activated, this,
            [this] { storeText(settings::delimiterOutKey, _delimiterOut->currentData().toString()); });
}

QList<QPair<QString, QString>> OptionsPanel::outputEncodings()
{
    return {{QString(), tr("UTF-8")},
            {QStringLiteral("cp932"), tr("Japanese for Excel (CP932)")},
            {QStringLiteral("Shift_JIS"), tr("Shift_JIS (Japanese)")},
            {QStringLiteral("EUC-JP"), tr("EUC-JP (Japanese)")},
            {QStringLiteral("UTF-16LE"), tr("UTF-16 (little-endian)")},
            {QStringLiteral("windows-1252"), tr("Windows-1252 (Western)")},
            {QStringLiteral("ISO-8859-1"), tr("Latin-1 (ISO-8859-1)")},
            {QStringLiteral("windows-1250"), tr("Windows-1250 (Central European)")},
            {QStringLiteral("windows-1251"), tr("Windows-1251 (Cyrillic)")},
            {QStringLiteral("GB18030"), tr("GB18030 (Chinese)")},
            {QStringLiteral("Big5"), tr("Big5 (Traditional Chinese)")},
            {QStringLiteral("EUC-KR"), tr("EUC-KR (Korean)")},
            {QStringLiteral("macintosh"), tr("Mac OS Roman")}};
}

QList<QPair<QChar, QString>> OptionsPanel::delimiters()
{
    return {{u',', tr("Comma ,")}, {u';', tr("Semicolon ;")}, {u'\t', tr("Tab")}, {u'|', tr("Pipe |")}};
}

void OptionsPanel::select(QComboBox* box, const QVariant& value, const QString& label)
{
    int index = box->findData(value);
    // A value stored by the command line that the list does not offer is shown as it is.
    if (index < 0) {
        box->addItem(label, value);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

void OptionsPanel::load()
{
    const WindowOptions options = WindowOptions::load(_defaults);
    _excel->setChecked(options.excel);
    _types->setChecked(options.types);
    _allKeys->setChecked(options.allKeys);
    _subfolders->setChecked(options.includeSubfolders);
    select(_encoding, options.outputEncoding, options.outputEncoding);
    select(_form, WindowOptions::formName(options.outputForm), WindowOptions::formName(options.outputForm));
    select(_delimiterIn, QString(options.delimiterIn), QStringLiteral("“%1”").arg(options.delimiterIn));
    select(_delimiterOut, QString(options.delimiterOut), QStringLiteral("“%1”").arg(options.delimiterOut));
}

void OptionsPanel::storeBool(std::string_view key, bool value)
{
    _defaults.setBool(std::string(key), value);
    // A failed write is not reported, as for the header box: the value still holds for this run.
    _defaults.synchronize();
    emit optionsChanged();
}

void OptionsPanel::storeText(std::string_view key, const QString& value)
{
    _defaults.setString(std::string(key), value.toStdString());
    _defaults.synchronize();
    emit optionsChanged();
}

} // namespace plistable::gui
