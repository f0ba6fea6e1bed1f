// File comparisons of the test API.
#include "filecompare.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <QXmlStreamReader>

namespace {

const int maxReported = 5;

bool readFile(const QString& path, QByteArray* data, QString* error)
{
    QFile file(path);
    if (!file.exists()) {
        *error = QStringLiteral("Cannot read file '%1': it does not exist").arg(path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read file '%1': %2").arg(path, file.errorString());
        return false;
    }
    *data = file.readAll();
    return true;
}

QString shorten(const QString& text)
{
    return text.size() > 80 ? text.left(77) + QStringLiteral("...") : text;
}

void note(QStringList* differences, int* count, const QString& text)
{
    if (++*count <= maxReported)
        differences->append(text);
}

QString finish(const QStringList& differences, int count)
{
    QString summary = differences.join(QLatin1Char('\n'));
    if (count > maxReported)
        summary += QStringLiteral("\n... and %1 more differences").arg(count - maxReported);
    return summary;
}

// XML as a flat list of comparable tokens, each with its line.
struct XmlToken {
    QString text;
    qint64 line;
};

bool xmlTokens(const QByteArray& data, const CompareOptions& options, QList<XmlToken>* tokens, QString* error)
{
    QXmlStreamReader reader(data);
    while (!reader.atEnd()) {
        reader.readNext();
        QString text;
        switch (reader.tokenType()) {
        case QXmlStreamReader::StartElement: {
            QStringList attributes;
            for (const QXmlStreamAttribute& a : reader.attributes())
                attributes << a.qualifiedName().toString() + QStringLiteral("=\"") + a.value().toString() + '"';
            attributes.sort();
            text = QLatin1Char('<') + reader.qualifiedName().toString() +
                   (attributes.isEmpty() ? QString() : QLatin1Char(' ') + attributes.join(QLatin1Char(' '))) +
                   QLatin1Char('>');
            break;
        }
        case QXmlStreamReader::EndElement:
            text = QStringLiteral("</") + reader.qualifiedName().toString() + QLatin1Char('>');
            break;
        case QXmlStreamReader::Characters:
            if (reader.isWhitespace()) // indentation between elements
                continue;
            text = reader.text().toString().trimmed();
            break;
        case QXmlStreamReader::Comment:
            if (options.ignoreComments)
                continue;
            text = QStringLiteral("<!--") + reader.text().toString() + QStringLiteral("-->");
            break;
        case QXmlStreamReader::ProcessingInstruction:
            text = QStringLiteral("<?") + reader.processingInstructionTarget().toString() + QLatin1Char(' ') +
                   reader.processingInstructionData().toString() + QStringLiteral("?>");
            break;
        default:
            continue;
        }
        tokens->append(XmlToken{text, reader.lineNumber()});
    }
    if (reader.hasError()) {
        *error = QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
        return false;
    }
    return true;
}

QString jsonText(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::String:
        return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    case QJsonValue::Double:
        return QString::number(v.toDouble(), 'g', 17);
    case QJsonValue::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    default:
        return QStringLiteral("(nothing)");
    }
}

void compareJson(const QString& path, const QJsonValue& expected, const QJsonValue& actual, QStringList* differences,
                 int* count)
{
    if (expected.type() != actual.type()) {
        note(differences, count,
             QStringLiteral("%1: expected %2, got %3").arg(path, shorten(jsonText(expected)), shorten(jsonText(actual))));
        return;
    }
    if (expected.isObject()) {
        const QJsonObject e = expected.toObject(), a = actual.toObject();
        for (auto it = e.constBegin(); it != e.constEnd(); ++it) {
            if (!a.contains(it.key()))
                note(differences, count, QStringLiteral("%1.%2: missing").arg(path, it.key()));
            else
                compareJson(path + QLatin1Char('.') + it.key(), it.value(), a.value(it.key()), differences, count);
        }
        for (auto it = a.constBegin(); it != a.constEnd(); ++it)
            if (!e.contains(it.key()))
                note(differences, count, QStringLiteral("%1.%2: not expected").arg(path, it.key()));
        return;
    }
    if (expected.isArray()) {
        const QJsonArray e = expected.toArray(), a = actual.toArray();
        if (e.size() != a.size())
            note(differences, count, QStringLiteral("%1: expected %2 elements, got %3").arg(path, QString::number(e.size()), QString::number(a.size())));
        for (int i = 0; i < qMin(e.size(), a.size()); ++i)
            compareJson(QStringLiteral("%1[%2]").arg(path, QString::number(i)), e.at(i), a.at(i), differences, count);
        return;
    }
    if (expected != actual)
        note(differences, count,
             QStringLiteral("%1: expected %2, got %3").arg(path, shorten(jsonText(expected)), shorten(jsonText(actual))));
}

} // namespace

FileComparison compareTextFiles(const QString& expectedPath, const QString& actualPath, const CompareOptions& options)
{
    FileComparison result;
    QByteArray expected, actual;
    if (!readFile(expectedPath, &expected, &result.error) || !readFile(actualPath, &actual, &result.error))
        return result;
    result.readable = true;
    QString e = QString::fromUtf8(expected), a = QString::fromUtf8(actual);
    if (!options.strictLineEndings) {
        e.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        a.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    }
    QStringList el = e.split(QLatin1Char('\n')), al = a.split(QLatin1Char('\n'));
    if (options.ignoreWhitespace) {
        static const QRegularExpression blanks(QStringLiteral("\\s+"));
        for (QStringList* lines : {&el, &al})
            for (QString& line : *lines)
                line = line.replace(blanks, QStringLiteral(" ")).trimmed();
    }
    QStringList differences;
    int count = 0;
    for (int i = 0; i < qMax(el.size(), al.size()); ++i) {
        if (i >= el.size())
            note(&differences, &count, QStringLiteral("line %1: not expected: '%2'").arg(i + 1).arg(shorten(al.at(i))));
        else if (i >= al.size())
            note(&differences, &count, QStringLiteral("line %1: missing: '%2'").arg(i + 1).arg(shorten(el.at(i))));
        else if (el.at(i) != al.at(i))
            note(&differences, &count, QStringLiteral("line %1: expected '%2', got '%3'")
                                           .arg(i + 1)
                                           .arg(shorten(el.at(i)), shorten(al.at(i))));
    }
    result.equal = count == 0;
    result.summary = finish(differences, count);
    return result;
}

FileComparison compareXMLFiles(const QString& expectedPath, const QString& actualPath, const CompareOptions& options)
{
    FileComparison result;
    QByteArray expected, actual;
    if (!readFile(expectedPath, &expected, &result.error) || !readFile(actualPath, &actual, &result.error))
        return result;
    QList<XmlToken> et, at;
    QString error;
    if (!xmlTokens(expected, options, &et, &error)) {
        result.error = QStringLiteral("Cannot parse XML file '%1': %2").arg(expectedPath, error);
        return result;
    }
    if (!xmlTokens(actual, options, &at, &error)) {
        result.error = QStringLiteral("Cannot parse XML file '%1': %2").arg(actualPath, error);
        return result;
    }
    result.readable = true;
    QStringList differences;
    int count = 0;
    for (int i = 0; i < qMax(et.size(), at.size()) && count == 0; ++i) {
        if (i >= et.size())
            note(&differences, &count, QStringLiteral("actual line %1: not expected: %2").arg(at.at(i).line).arg(shorten(at.at(i).text)));
        else if (i >= at.size())
            note(&differences, &count, QStringLiteral("expected line %1: missing: %2").arg(et.at(i).line).arg(shorten(et.at(i).text)));
        else if (et.at(i).text != at.at(i).text)
            note(&differences, &count, QStringLiteral("expected line %1: %2, actual line %3: %4")
                                           .arg(et.at(i).line)
                                           .arg(shorten(et.at(i).text))
                                           .arg(at.at(i).line)
                                           .arg(shorten(at.at(i).text)));
    }
    result.equal = count == 0;
    result.summary = finish(differences, count);
    return result;
}

FileComparison compareJSONFiles(const QString& expectedPath, const QString& actualPath)
{
    FileComparison result;
    QByteArray expected, actual;
    if (!readFile(expectedPath, &expected, &result.error) || !readFile(actualPath, &actual, &result.error))
        return result;
    QJsonParseError pe;
    const QJsonDocument ed = QJsonDocument::fromJson(expected, &pe);
    if (pe.error != QJsonParseError::NoError) {
        result.error = QStringLiteral("Cannot parse JSON file '%1': %2 at offset %3").arg(expectedPath, pe.errorString()).arg(pe.offset);
        return result;
    }
    const QJsonDocument ad = QJsonDocument::fromJson(actual, &pe);
    if (pe.error != QJsonParseError::NoError) {
        result.error = QStringLiteral("Cannot parse JSON file '%1': %2 at offset %3").arg(actualPath, pe.errorString()).arg(pe.offset);
        return result;
    }
    result.readable = true;
    QStringList differences;
    int count = 0;
    const QJsonValue ev = ed.isObject() ? QJsonValue(ed.object()) : QJsonValue(ed.array());
    const QJsonValue av = ad.isObject() ? QJsonValue(ad.object()) : QJsonValue(ad.array());
    compareJson(QStringLiteral("$"), ev, av, &differences, &count);
    result.equal = count == 0;
    result.summary = finish(differences, count);
    return result;
}
