// Reading and merging JUnit reports (reports.h). The reports are small enough to hold as a tree of
// elements; testcase elements are copied through unchanged, whatever other tools put in them.
#include "reports.h"

#include <QFile>
#include <QMap>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

struct Element {
    QString name;
    QXmlStreamAttributes attributes;
    QString text;
    QList<Element> children;

    QString attribute(const char* key) const { return attributes.value(QLatin1String(key)).toString(); }
    bool has(const char* child) const
    {
        return std::any_of(children.begin(), children.end(),
                           [child](const Element& e) { return e.name == QLatin1String(child); });
    }
};

// Reads the element the reader stands on, with everything inside it.
void readElement(QXmlStreamReader& xml, Element* element)
{
    element->name = xml.name().toString();
    element->attributes = xml.attributes();
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            element->children.append(Element());
            readElement(xml, &element->children.last());
        } else if (token == QXmlStreamReader::Characters) {
            element->text += xml.text();
        } else if (token == QXmlStreamReader::EndElement) {
            break;
        }
    }
    // Indentation between child elements is no text.
    if (!element->children.isEmpty() && element->text.trimmed().isEmpty())
        element->text.clear();
}

void writeElement(QXmlStreamWriter& xml, const Element& element)
{
    xml.writeStartElement(element.name);
    xml.writeAttributes(element.attributes);
    if (!element.text.isEmpty())
        xml.writeCharacters(element.text);
    for (const Element& child : element.children)
        writeElement(xml, child);
    xml.writeEndElement();
}

bool readTree(const QString& path, Element* root, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read JUnit report %1: %2").arg(path, file.errorString());
        return false;
    }
    QXmlStreamReader xml(&file);
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
    }
    if (xml.isStartElement())
        readElement(xml, root);
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    if (xml.hasError()) {
        *error = QStringLiteral("%1:%2: not a well-formed JUnit report: %3")
                     .arg(path)
                     .arg(xml.lineNumber())
                     .arg(xml.errorString());
        return false;
    }
    if (root->name != QLatin1String("testsuites") && root->name != QLatin1String("testsuite")) {
        *error = QStringLiteral("%1: not a JUnit report (its root element is '%2', not testsuites or testsuite)")
                     .arg(path, root->name);
        return false;
    }
    return true;
}

// The testsuite elements of a report.
QList<const Element*> suitesOf(const Element& root)
{
    QList<const Element*> suites;
    if (root.name == QLatin1String("testsuite"))
        suites << &root;
    for (const Element& child : root.children)
        if (child.name == QLatin1String("testsuite"))
            suites << &child;
    return suites;
}

QString classNameOf(const Element& suite, const Element& testCase)
{
    const QString className = testCase.attribute("classname");
    return className.isEmpty() ? suite.attribute("name") + QLatin1Char('.') + testCase.attribute("name") : className;
}

} // namespace

bool readJUnitReport(const QString& path, QList<ReportedTestCase>* cases, QString* error)
{
    Element root;
    if (!readTree(path, &root, error))
        return false;
    for (const Element* suite : suitesOf(root)) {
        for (const Element& testCase : suite->children) {
            if (testCase.name != QLatin1String("testcase"))
                continue;
            ReportedTestCase reported;
            reported.className = classNameOf(*suite, testCase);
            reported.name = testCase.attribute("name");
            reported.file = testCase.attribute("file");
            reported.seconds = testCase.attribute("time").toDouble();
            reported.outcome = testCase.has("error")     ? ReportedTestCase::Errored
                               : testCase.has("failure") ? ReportedTestCase::Failed
                               : testCase.has("skipped") ? ReportedTestCase::Skipped
                                                         : ReportedTestCase::Passed;
            cases->append(reported);
        }
    }
    return true;
}

bool mergeJUnitReports(const QStringList& inputs, const QString& output, QStringList* notes, QString* error)
{
    struct Kept {
        Element testCase;
        QString from;
        QString className;
    };
    QMap<QString, QMap<QString, Kept>> suites; // suite name -> class name and test case name -> test case
    for (const QString& input : inputs) {
        Element root;
        if (!readTree(input, &root, error))
            return false;
        for (const Element* suite : suitesOf(root)) {
            QMap<QString, Kept>& kept = suites[suite->attribute("name")];
            for (const Element& testCase : suite->children) {
                if (testCase.name != QLatin1String("testcase"))
                    continue;
                // A test case is its class and its name: a feature's scenarios share the class.
                const QString className = classNameOf(*suite, testCase);
                const QString name = testCase.attribute("name");
                const QString key = className + QLatin1Char('\n') + name;
                const QString label = className.endsWith(QLatin1Char('.') + name) ? className
                                                                                  : className + QLatin1String(": ") + name;
                if (kept.contains(key))
                    notes->append(QStringLiteral("%1 is in %2 and in %3; the one in %3 is kept")
                                      .arg(label, kept.value(key).from, input));
                kept.insert(key, Kept{testCase, input, className});
            }
        }
    }

    QSaveFile file(output);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write JUnit report %1: %2").arg(output, file.errorString());
        return false;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    for (auto suite = suites.constBegin(); suite != suites.constEnd(); ++suite) {
        // Test cases in the order a suite runs them (by directory name), a feature's scenarios together.
        QList<const Kept*> ordered;
        for (const Kept& kept : suite.value())
            ordered << &kept;
        std::stable_sort(ordered.begin(), ordered.end(), [](const Kept* a, const Kept* b) {
            return a->className != b->className ? a->className < b->className
                                                : a->testCase.attribute("name") < b->testCase.attribute("name");
        });
        QList<const Element*> cases;
        for (const Kept* kept : ordered)
            cases << &kept->testCase;
        int failures = 0, errors = 0, skipped = 0;
        double seconds = 0;
        for (const Element* c : cases) {
            errors += c->has("error") ? 1 : 0;
            failures += c->has("failure") && !c->has("error") ? 1 : 0;
            skipped += c->has("skipped") ? 1 : 0;
            seconds += c->attribute("time").toDouble();
        }
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), suite.key());
        xml.writeAttribute(QStringLiteral("tests"), QString::number(cases.size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
        xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
        xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
        xml.writeAttribute(QStringLiteral("time"), QString::number(seconds, 'f', 3));
        for (const Element* c : cases)
            writeElement(xml, *c);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    if (!file.commit()) {
        *error = QStringLiteral("cannot write JUnit report %1: %2").arg(output, file.errorString());
        return false;
    }
    return true;
}
