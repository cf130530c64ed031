#include "gui/WindowOptions.hpp"

#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"
#include "core/text/TextEncoding.hpp"

namespace plistable::gui {
namespace {

std::optional<QString> storedText(const UserDefaults& defaults, std::string_view key)
{
    if (const std::optional<std::string> text = defaults.stringForKey(std::string(key)))
        return QString::fromStdString(*text);
    return std::nullopt;
}

QChar storedDelimiter(const UserDefaults& defaults, std::string_view key)
{
    const std::optional<QString> text = storedText(defaults, key);
    if (!text || text->size() != 1 || !WindowOptions::isDelimiter(text->front()))
        return u',';
    return text->front();
}

} // namespace

WindowOptions WindowOptions::load(const UserDefaults& defaults)
{
    WindowOptions options;
    options.excel = defaults.boolForKey(std::string(settings::excelKey));
    options.types = defaults.boolForKey(std::string(settings::typesKey));
    options.allKeys = defaults.boolForKey(std::string(settings::allKeysKey));
    options.includeSubfolders = defaults.boolForKey(std::string(settings::includeSubfoldersKey));
    if (const std::optional<QString> name = storedText(defaults, settings::outputEncodingKey);
        name && canonicalEncodingName(name->toStdString()))
        options.outputEncoding = *name;
    options.delimiterIn = storedDelimiter(defaults, settings::delimiterInKey);
    options.delimiterOut = storedDelimiter(defaults, settings::delimiterOutKey);
    if (const std::optional<QString> form = storedText(defaults, settings::outputFormKey))
        options.outputForm = formNamed(*form).value_or(OutputFormat::Xml);
    return options;
}

void WindowOptions::applyTo(ConversionOptions& options) const
{
    // Only what differs from the default is set, so that an untouched store leaves every option as
    // the caller had it.
    if (excel) {
        options.csvWrite.crlf = true;
        options.csvWrite.byteOrderMark = true;
    }
    if (!outputEncoding.isEmpty())
        options.csvWrite.encodingName = outputEncoding.toStdString();
    if (delimiterIn != u',')
        options.csvRead.delimiter = delimiterIn.unicode();
    if (delimiterOut != u',')
        options.csvWrite.delimiter = delimiterOut.unicode();
    if (outputForm != OutputFormat::Xml)
        options.output.format = outputForm;
    if (types)
        options.shape.types = true;
    if (allKeys)
        options.shape.allKeys = true;
}

QString WindowOptions::formName(OutputFormat form)
{
    switch (form) {
    case OutputFormat::Binary:
        return QStringLiteral("binary");
    case OutputFormat::Json:
        return QStringLiteral("json");
    case OutputFormat::OpenStep:
        return QStringLiteral("openstep");
    case OutputFormat::Strings:
        return QStringLiteral("strings");
    case OutputFormat::Xml:
        break;
    }
    return QStringLiteral("xml");
}

std::optional<OutputFormat> WindowOptions::formNamed(const QString& name)
{
    for (const OutputFormat form : {OutputFormat::Xml, OutputFormat::Binary, OutputFormat::Json, OutputFormat::OpenStep,
                                     OutputFormat::Strings})
        if (formName(form) == name)
            return form;
    return std::nullopt;
}

bool WindowOptions::isDelimiter(QChar delimiter)
{
    // The line breaks of the CSV grammar: CR, LF, NEL and the two Unicode separators.
    const char16_t unit = delimiter.unicode();
    return unit != u'"' && unit != u'\r' && unit != u'\n' && unit != 0x0085 && unit != 0x2028 && unit != 0x2029
           && !delimiter.isSurrogate();
}

} // namespace plistable::gui
