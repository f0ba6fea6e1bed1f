// Writing Cucumber's JSON report from the scenarios a run reported. The shape is the one Cucumber writes:
// per scenario a "background" element (when the feature or its rule has a background) followed by the
// "scenario" element; an outline's row is a scenario of its own, with the row's line, the outline's name
// and the tags of its examples block; steps carry their doc string or table, the definition they matched
// ("match"), their result with the duration in nanoseconds, and the hooks run before and after them.
#include "cucumberjson.h"

#include "bddresults.h"
#include "gherkin.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

// Cucumber's ids: the name in lower case with every blank a dash.
QString slug(const QString& text)
{
    QString id = text.toLower();
    for (QChar& c : id)
        if (c.isSpace())
            c = QLatin1Char('-');
    return id;
}

// Paths below the working directory are written relative to it, as Cucumber writes them.
QString shortPath(const QString& path)
{
    if (path.isEmpty() || QDir::isRelativePath(path))
        return path;
    const QString relative = QDir::current().relativeFilePath(path);
    return relative.startsWith(QLatin1String("..")) ? path : relative;
}

// "FILE:LINE" with the file shortened.
QString shortLocation(const QString& location)
{
    const int colon = location.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? location : shortPath(location.left(colon)) + location.mid(colon);
}

void addTags(QJsonObject* object, const QList<QByteArray>& tags, const QList<quint64>& lines)
{
    QJsonArray array;
    for (int i = 0; i < tags.size(); ++i)
        array.append(QJsonObject{{QStringLiteral("name"), QString::fromUtf8(tags.at(i))},
                                 {QStringLiteral("line"), i < lines.size() ? qint64(lines.at(i)) : 0}});
    if (!array.isEmpty())
        object->insert(QStringLiteral("tags"), array);
}

// Hook records of the results (bddapi) as Cucumber's hook objects.
QJsonArray hooksOf(const QVariant& records)
{
    QJsonArray hooks;
    for (const QVariant& record : records.toList()) {
        const QVariantMap hook = record.toMap();
        QJsonObject result{{QStringLiteral("status"), hook.value(QStringLiteral("status")).toString()}};
        if (hook.contains(QStringLiteral("duration")))
            result.insert(QStringLiteral("duration"), hook.value(QStringLiteral("duration")).toLongLong());
        if (hook.contains(QStringLiteral("error_message")))
            result.insert(QStringLiteral("error_message"), hook.value(QStringLiteral("error_message")).toString());
        hooks.append(QJsonObject{
            {QStringLiteral("match"),
             QJsonObject{{QStringLiteral("location"), shortLocation(hook.value(QStringLiteral("location")).toString())}}},
            {QStringLiteral("result"), result}});
    }
    return hooks;
}

const struct {
    TestResult::Type type;
    const char* prefix;
    const char* status;
} stepKinds[] = {
    {TestResult::Pass, "", "passed"},
    {TestResult::Fail, "Step failed: ", "failed"},
    {TestResult::Error, "Step failed: ", "failed"},
    {TestResult::Error, "Undefined step: ", "undefined"},
    {TestResult::Error, "Ambiguous step: ", "ambiguous"},
    {TestResult::Log, "Not run: ", "skipped"},
    {TestResult::Log, "Pending: ", "pending"},
    {TestResult::Log, "Scenario ended by step: ", "passed"},
};

// The step's part of the report, without its result.
QJsonObject stepObject(const Gherkin::Step& step, int line)
{
    QJsonObject object{{QStringLiteral("keyword"), QString::fromUtf8(step.writtenKeyword()) + QLatin1Char(' ')},
                       {QStringLiteral("name"), QString::fromUtf8(step.stepText())},
                       {QStringLiteral("line"), line}};
    if (step.docStringLine > 0) {
        QStringList lines;
        for (const QByteArray& text : step.multiLineText)
            lines << QString::fromUtf8(text);
        object.insert(QStringLiteral("doc_string"),
                      QJsonObject{{QStringLiteral("value"), lines.join(QLatin1Char('\n'))},
                                  {QStringLiteral("content_type"), QString::fromUtf8(step.docStringType)},
                                  {QStringLiteral("line"), qint64(step.docStringLine)}});
    }
    if (!step.table.isEmpty()) {
        QJsonArray rows;
        for (const Gherkin::TableRow& row : step.table) {
            QJsonArray cells;
            for (const Gherkin::TableCell& cell : row)
                cells.append(QString::fromUtf8(cell.text));
            rows.append(QJsonObject{{QStringLiteral("cells"), cells}});
        }
        object.insert(QStringLiteral("rows"), rows);
    }
    return object;
}

// Builds the elements of one scenario run: its background's (when there is one) and its own.
class ScenarioWriter {
public:
    ScenarioWriter(const Gherkin::Feature& feature, QMap<QString, QJsonArray>* lastStepHooks)
        : feature(feature), lastStepHooks(lastStepHooks)
    {
    }

    void write(const ScenarioRun& run, QJsonArray* elements)
    {
        const Gherkin::Scenario* scenario = nullptr;
        for (const Gherkin::Scenario& s : feature.scenarios)
            if (int(s.location.line) == run.line)
                scenario = &s;
        if (!scenario)
            return; // the file changed since the run
        const Gherkin::Rule* rule =
            scenario->rule >= 0 && scenario->rule < feature.rules.size() ? &feature.rules.at(scenario->rule) : nullptr;

        // The steps as they ran, by their line in the file: the backgrounds' and the scenario's (an
        // outline row's with its values).
        QList<Gherkin::Step> background = feature.hasBackground ? feature.background.steps : QList<Gherkin::Step>();
        if (rule && rule->hasBackground)
            background += rule->background.steps;
        QList<Gherkin::Step> own = scenario->steps;
        const Gherkin::Examples* examples = nullptr;
        int row = -1;
        if (run.facts.contains(QStringLiteral("examples"))) {
            const int e = run.facts.value(QStringLiteral("examples")).toInt();
            row = run.facts.value(QStringLiteral("row")).toInt();
            if (e >= 0 && e < scenario->examples.size() && row > 0 && row < scenario->examples.at(e).table.size()) {
                examples = &scenario->examples.at(e);
                own = Gherkin::expandSteps(own, examples->table.first(), examples->table.at(row));
            }
        }
        const int rowLine = examples && !examples->table.at(row).isEmpty()
                                ? int(examples->table.at(row).first().location.line)
                                : -1;
        QMap<int, QPair<Gherkin::Step, bool>> steps; // line -> step, whether it is a background's
        for (const Gherkin::Step& step : background)
            steps.insert(int(step.extent.begin.line), qMakePair(step, true));
        for (const Gherkin::Step& step : own)
            steps.insert(int(step.extent.begin.line), qMakePair(step, false));

        QMap<QString, QVariant> stepHooks; // "index phase" -> hook records
        for (const QVariant& record : run.facts.value(QStringLiteral("stepHooks")).toList()) {
            const QVariantMap hooks = record.toMap();
            stepHooks.insert(hooks.value(QStringLiteral("step")).toString() + QLatin1Char(' ') +
                                 hooks.value(QStringLiteral("phase")).toString(),
                             hooks.value(QStringLiteral("hooks")));
        }

        QJsonArray backgroundSteps, scenarioSteps;
        int index = 0;
        for (const TestResult::Entry& e : run.entries) {
            if (e.file != run.file || !steps.contains(e.line))
                continue;
            for (const auto& kind : stepKinds) {
                if (e.type != kind.type || !e.message.startsWith(QLatin1String(kind.prefix)))
                    continue;
                const QPair<Gherkin::Step, bool>& step = steps.value(e.line);
                QJsonObject object = stepObject(step.first, step.second || rowLine < 0 ? e.line : rowLine);
                addResult(&object, e, kind.status, run.file);
                for (const char* phase : {"before", "after"}) {
                    const QString key = QString::number(index) + QLatin1Char(' ') + QLatin1String(phase);
                    QJsonArray hooks;
                    if (stepHooks.contains(key)) {
                        hooks = hooksOf(stepHooks.value(key));
                        (*lastStepHooks)[QLatin1String(phase)] = hooks;
                    } else if (QLatin1String(kind.status) == QLatin1String("skipped")) {
                        // A step that did not run did not run its hooks either.
                        for (const QJsonValue hook : lastStepHooks->value(QLatin1String(phase))) {
                            QJsonObject skipped = hook.toObject();
                            skipped.insert(QStringLiteral("result"),
                                           QJsonObject{{QStringLiteral("status"), QStringLiteral("skipped")}});
                            hooks.append(skipped);
                        }
                    }
                    if (!hooks.isEmpty())
                        object.insert(QLatin1String(phase), hooks);
                }
                (step.second ? backgroundSteps : scenarioSteps).append(object);
                ++index;
                break;
            }
        }

        const QJsonArray before = hooksOf(run.facts.value(QStringLiteral("before")));
        const QJsonArray after = hooksOf(run.facts.value(QStringLiteral("after")));
        if (!background.isEmpty()) {
            const Gherkin::Background& b = feature.hasBackground ? feature.background : rule->background;
            QJsonObject element{{QStringLiteral("keyword"), QString::fromUtf8(b.keyword)},
                                {QStringLiteral("name"), QString::fromUtf8(b.title)},
                                {QStringLiteral("description"), QString::fromUtf8(b.description)},
                                {QStringLiteral("line"), qint64(b.location.line)},
                                {QStringLiteral("type"), QStringLiteral("background")},
                                {QStringLiteral("steps"), backgroundSteps}};
            if (!before.isEmpty())
                element.insert(QStringLiteral("before"), before);
            elements->append(element);
        }

        QString id = slug(QString::fromUtf8(feature.title)) + QLatin1Char(';') + slug(QString::fromUtf8(scenario->title));
        QList<QByteArray> tags = feature.tags;
        QList<quint64> tagLines = feature.tagLines;
        if (rule) {
            tags += rule->tags;
            tagLines += rule->tagLines;
        }
        tags += scenario->tags;
        tagLines += scenario->tagLines;
        if (examples) {
            id += QLatin1Char(';') + slug(QString::fromUtf8(examples->title)) + QLatin1Char(';') +
                  QString::number(row + 1);
            tags += examples->tags;
            tagLines += examples->tagLines;
        }
        QJsonObject element{{QStringLiteral("id"), id},
                            {QStringLiteral("keyword"), QString::fromUtf8(scenario->keyword)},
                            {QStringLiteral("name"), QString::fromUtf8(scenario->title)},
                            {QStringLiteral("description"), QString::fromUtf8(scenario->description)},
                            {QStringLiteral("line"), rowLine > 0 ? rowLine : run.line},
                            {QStringLiteral("type"), QStringLiteral("scenario")},
                            {QStringLiteral("steps"), scenarioSteps}};
        addTags(&element, tags, tagLines);
        if (background.isEmpty() && !before.isEmpty())
            element.insert(QStringLiteral("before"), before);
        if (!after.isEmpty())
            element.insert(QStringLiteral("after"), after);
        elements->append(element);
    }

private:
    // The step's definition and result: the status, for steps that ran their duration, for failures
    // and pending steps the message.
    static void addResult(QJsonObject* object, const TestResult::Entry& e, const char* status, const QString& feature)
    {
        const QString statusText = QLatin1String(status);
        QString location = e.facts.value(QStringLiteral("match")).toString();
        if (location.isEmpty())
            location = QStringLiteral("%1:%2").arg(feature).arg(e.line); // undefined: the step itself
        object->insert(QStringLiteral("match"), QJsonObject{{QStringLiteral("location"), shortLocation(location)}});
        QJsonObject result{{QStringLiteral("status"), statusText}};
        const bool ran = statusText == QLatin1String("passed") || statusText == QLatin1String("failed") ||
                         statusText == QLatin1String("pending");
        if (ran)
            result.insert(QStringLiteral("duration"), qMax(qint64(0), e.facts.value(QStringLiteral("duration")).toLongLong()));
        if (statusText == QLatin1String("failed") || statusText == QLatin1String("ambiguous"))
            result.insert(QStringLiteral("error_message"), e.detail.isEmpty() ? e.message : e.message + '\n' + e.detail);
        else if (statusText == QLatin1String("pending"))
            result.insert(QStringLiteral("error_message"), e.detail);
        object->insert(QStringLiteral("result"), result);
    }

    const Gherkin::Feature& feature;
    QMap<QString, QJsonArray>* lastStepHooks;
};

} // namespace

void CucumberJsonReport::addTestCase(const TestResult& result)
{
    QString file;
    QJsonObject feature;
    QJsonArray elements;
    Gherkin::Feature parsed;
    auto flush = [&]() {
        if (!file.isEmpty()) {
            feature.insert(QStringLiteral("elements"), elements);
            features.append(feature);
        }
    };
    for (const ScenarioRun& run : scenarioRuns(result.entries())) {
        if (run.notRun)
            continue;
        if (run.file != file) {
            flush();
            file = run.file;
            elements = QJsonArray();
            Gherkin::RunFeatureError error;
            if (!Gherkin::parseFeatureFile(file, &parsed, &error))
                parsed = Gherkin::Feature();
            feature = QJsonObject{
                {QStringLiteral("uri"), shortPath(file)},
                {QStringLiteral("id"), slug(run.feature)},
                {QStringLiteral("keyword"), parsed.keyword.isEmpty() ? QStringLiteral("Feature")
                                                                     : QString::fromUtf8(parsed.keyword)},
                {QStringLiteral("name"), run.feature},
                {QStringLiteral("description"), QString::fromUtf8(parsed.description)},
                {QStringLiteral("line"), run.featureLine},
            };
            addTags(&feature, parsed.tags, parsed.tagLines);
        }
        ScenarioWriter(parsed, &lastStepHooks).write(run, &elements);
    }
    flush();
}

bool CucumberJsonReport::write(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write Cucumber JSON report %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(QJsonDocument(features).toJson());
    if (!file.commit()) {
        *error = QStringLiteral("cannot write Cucumber JSON report %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
