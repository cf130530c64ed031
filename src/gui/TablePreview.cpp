#include "gui/TablePreview.hpp"

#include "core/csv/WindowedCSVParser.hpp"
#include "core/plist/PropertyListReader.hpp"
#include "core/text/EncodingDetection.hpp"
#include "core/text/TextDecoder.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QHash>

#include <optional>

namespace plistable::gui {
namespace {

constexpr const char* context = "plistable::gui::TablePreview";

// Pieces read at a time, and how far a preview reads at most: past it, the rows read so far are shown
// (a quoted field that never ends would otherwise hold the rest of a huge file).
constexpr qint64 pieceBytes = qint64(64) << 10;
constexpr qint64 readLimit = qint64(16) << 20;

QString qText(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Collects the rows of a property list: each element of a root array (or entry of a root dictionary,
// its key first) becomes a row whose cells are named by column, so that dictionaries with their keys
// in other orders, or with keys missing, line up.
class RowCollector : public PlistReaderDelegate {
public:
    RowCollector(TablePreview& preview, int maxRows) : _preview(preview), _maxRows(maxRows) {}

    bool done() const { return _done; }

    void readerDidReadRootArrayElement(PlistValue&& element) override { addRow(nullptr, element); }
    void readerDidReadRootDictionaryEntry(Text&& key, PlistValue&& value) override { addRow(&key, value); }

    // Every row as long as the columns found.
    void finish()
    {
        for (QStringList& row : _preview.rows)
            while (row.size() < _preview.columns.size())
                row.append(QString());
    }

private:
    void addRow(const Text* key, const PlistValue& value)
    {
        if (_done)
            return;
        if (static_cast<int>(_preview.rows.size()) >= _maxRows) {
            _preview.more = true;
            _done = true;
            return;
        }
        QStringList row;
        if (key != nullptr)
            set(row, QStringLiteral("key"), qText(*key));
        if (value.isDictionary()) {
            for (const auto& [name, entry] : value.dictionary())
                set(row, qText(name), qText(entry.description()));
        } else if (value.isArray()) {
            int position = 0;
            for (const PlistValue& entry : value.array())
                set(row, QString::number(++position), qText(entry.description()));
        } else {
            set(row, QStringLiteral("value"), qText(value.description()));
        }
        _preview.rows.push_back(std::move(row));
    }

    void set(QStringList& row, const QString& column, const QString& text)
    {
        auto found = _columnIndex.constFind(column);
        if (found == _columnIndex.cend()) {
            found = _columnIndex.insert(column, static_cast<int>(_preview.columns.size()));
            _preview.columns.append(column);
        }
        while (row.size() <= *found)
            row.append(QString());
        row[*found] = text;
    }

    TablePreview& _preview;
    int _maxRows;
    bool _done = false;
    QHash<QString, int> _columnIndex;
};

} // namespace

TablePreview TablePreview::ofCsv(const QString& path, QChar delimiter, bool header, TextEncoding encoding,
                                 const QString& converterName, int maxRows)
{
    TablePreview preview;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        preview.problems.append(QCoreApplication::translate(context, "cannot read: %1").arg(file.errorString()));
        return preview;
    }
    const QByteArray first = file.read(pieceBytes);
    std::optional<TextDecoder> decoder;
    if (encoding != 0) {
        decoder = TextDecoder::forEncoding(encoding, encoding == NSUTF8StringEncoding);
        preview.encoding = QString::fromUtf8(encodingName(encoding));
    } else if (!converterName.isEmpty()) {
        decoder = TextDecoder::named(converterName.toStdString());
        preview.encoding = converterName;
    }
    if (!decoder) {
        // Chosen from the first piece only, cut after its last line feed, so that a character split
        // by the end of the piece does not rule out the right encoding.
        std::string_view sample(first.constData(), static_cast<std::size_t>(first.size()));
        if (!file.atEnd())
            if (const std::size_t lineEnd = sample.rfind('\n'); lineEnd != std::string_view::npos)
                sample = sample.substr(0, lineEnd + 1);
        encoding = detectEncoding(sample);
        decoder = TextDecoder::forEncoding(encoding, encoding == NSUTF8StringEncoding);
        preview.encoding = QString::fromUtf8(encodingName(encoding));
    }
    if (!decoder) {
        preview.problems.append(QCoreApplication::translate(context, "no decoder for %1").arg(preview.encoding));
        return preview;
    }

    bool firstPiece = true;
    bool ended = false;
    bool undecodable = false;
    bool limitReached = false;
    std::uint64_t failedPieceAt = 0; // byte offset of the piece that did not decode
    qint64 bytesRead = first.size();
    const TextSupplier supplier = [&](Text& text) {
        if (ended)
            return false;
        QByteArray bytes;
        if (firstPiece) {
            bytes = first;
        } else if (bytesRead >= readLimit) {
            limitReached = !file.atEnd();
        } else {
            bytes = file.read(pieceBytes);
            bytesRead += bytes.size();
        }
        const std::size_t before = text.size();
        if (bytes.isEmpty()) {
            ended = true;
            if (limitReached)
                return false;
            Text rest;
            undecodable = !decoder->finish(rest);
            text += rest;
            return text.size() > before;
        }
        failedPieceAt = decoder->bytesDecoded();
        if (!decoder->decode(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), text)) {
            undecodable = true;
            ended = true;
        }
        if (firstPiece && text.size() > before && text[before] == u'\uFEFF')
            text.erase(before, 1);
        firstPiece = false;
        return !ended || text.size() > before;
    };

    WindowedCSVParser parser(supplier, Text(1, delimiter.unicode()), header, std::size_t(1) << 16);
    parser.parseFieldsForReceiver([&](std::span<const std::u16string_view> fields) {
        if (static_cast<int>(preview.rows.size()) >= maxRows) {
            preview.more = true;
            parser.stopParsing();
            return;
        }
        QStringList row;
        row.reserve(static_cast<qsizetype>(fields.size()));
        for (const std::u16string_view field : fields)
            row.append(qText(field));
        preview.rows.push_back(std::move(row));
    });
    if (header && parser.fieldNames())
        for (const Text& name : *parser.fieldNames())
            preview.columns.append(qText(name));
    const CSVParseStop& stop = parser.lastParseStop();
    if (!stop.complete)
        preview.problems.append(QString::fromStdString(stop.description()));
    if (undecodable)
        preview.problems.append(QCoreApplication::translate(context, "not %1 at or after byte %2")
                                    .arg(preview.encoding)
                                    .arg(failedPieceAt));
    if (limitReached && !preview.more)
        preview.problems.append(
            QCoreApplication::translate(context, "no line ends in the first %1 MB; the preview stops there")
                .arg(readLimit >> 20));
    return preview;
}

TablePreview TablePreview::ofPropertyList(const QString& path, int maxRows)
{
    TablePreview preview;
    RowCollector rows(preview, maxRows);
    PropertyListReadMonitor monitor;
    monitor.pieceRead = [&rows](std::uint64_t, std::uint64_t) { return !rows.done(); };
    const PropertyListReadResult result =
        PropertyListReader::readFile(QFile::encodeName(path).toStdString(), rows, monitor);
    rows.finish();
    using Status = PropertyListReadResult::Status;
    if (result.status == Status::RootNotArray && !result.rootIsDictionary)
        preview.problems.append(
            QCoreApplication::translate(context, "the root is neither an array nor a dictionary: no table to show"));
    else if (result.status != Status::Ok && result.status != Status::Stopped && result.status != Status::RootNotArray)
        preview.problems.append(QString::fromStdString(result.description()));
    return preview;
}

} // namespace plistable::gui
