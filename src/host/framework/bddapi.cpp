// Running feature files for scripts: the file is parsed, the back end gives the script actions, and each
// feature, scenario and step becomes an entry of the test result with the feature file's name and line.
#include "bddapi.h"

#include "debugger.h"
#include "gherkin.h"
#include "interpreter.h"
#include "runnerinterface.h"
#include "scriptargument.h"
#include "testresult.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// A Tcl word for the text: braced when that keeps it as it is, else quoted with backslashes.
QString tclWord(const QString& text)
{
    int depth = 0;
    bool braceable = !text.contains(QLatin1Char('\\'));
    for (const QChar c : text) {
        if (c == QLatin1Char('{'))
            ++depth;
        else if (c == QLatin1Char('}') && --depth < 0)
            braceable = false;
    }
    if (braceable && depth == 0)
        return QLatin1Char('{') + text + QLatin1Char('}');
    QString quoted;
    for (const QChar c : text) {
        if (QStringLiteral("\\\"[]${}").contains(c))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString stepDefinitionSnippet(const Gherkin::Step& step)
{
    static const char* const keywords[] = {"Given", "When", "Then"};
    const QString keyword = QLatin1String(step.type >= 0 && step.type < 3 ? keywords[step.type] : "Step");
    const QString text = QString::fromUtf8(step.stepText());
    // Quoted texts become |word| (without blanks) or |any|, whole numbers |integer|.
    static const QRegularExpression values(QStringLiteral(
        "\"([^\"]*)\"|(?<![\\w.,-])[-+]?[0-9]+(?![\\w.,]*[0-9A-Za-z_])"));
    QString pattern;
    QStringList parameters;
    int numbers = 0, texts = 0;
    int start = 0;
    auto name = [](const char* base, int n) {
        return n == 1 ? QString::fromLatin1(base) : QString::fromLatin1(base) + QString::number(n);
    };
    QRegularExpressionMatchIterator it = values.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        pattern += text.mid(start, m.capturedStart() - start);
        const QString whole = m.captured(0);
        if (whole.startsWith(QLatin1Char('"'))) {
            const QString inner = whole.mid(1, whole.size() - 2);
            if (inner.isEmpty()) {
                pattern += whole; // an empty quote is matched as written
            } else {
                const bool word = !inner.contains(QRegularExpression(QStringLiteral("\\s")));
                pattern += QLatin1String(word ? "\"|word|\"" : "\"|any|\"");
                parameters << name("text", ++texts);
            }
        } else {
            pattern += QStringLiteral("|integer|");
            parameters << name("number", ++numbers);
        }
        start = m.capturedEnd();
    }
    pattern += text.mid(start);
    if (!step.multiLineText.isEmpty())
        parameters << QStringLiteral("docString");
    if (!step.table.isEmpty())
        parameters << QStringLiteral("table");
    return QStringLiteral("%1 %2 {%3} {\n    error \"the step is not written yet\"\n}")
        .arg(keyword, tclWord(pattern), parameters.join(QLatin1Char(' ')));
}

namespace {

// A dry run: every step is matched against the step definitions and nothing runs, hooks neither.
class DryRunActions : public Gherkin::ScriptActions {
public:
    Result runStep(const Gherkin::Step& step) override
    {
        Result result;
        Interpreter* interpreter = Interpreter::self();
        const QList<QPair<QByteArray, int>> matches =
            interpreter ? interpreter->matchingStepDefinitions(step) : QList<QPair<QByteArray, int>>();
        if (matches.size() == 1)
            result.definition = matches.first().first + ':' + QByteArray::number(matches.first().second);
        if (matches.isEmpty()) {
            result.status = StepUndefined;
        } else if (matches.size() > 1) {
            result.status = StepAmbiguous;
            QList<QByteArray> lines;
            for (const auto& match : matches)
                lines << match.first + ':' + QByteArray::number(match.second);
            result.message = QByteArray::number(matches.size()) + " step definitions match:\n" + lines.join('\n');
        }
        return result;
    }
    Result runHooks(int, int, const QByteArray&) override { return Result(); }
};

// A hook record of the reports: where the hook is defined, how it ended, how long it took.
QVariantMap hookFacts(const Gherkin::ScriptActions::HookRun& run, const Gherkin::ScriptActions::Result& moment)
{
    using Actions = Gherkin::ScriptActions;
    QVariantMap hook;
    hook.insert(QStringLiteral("location"), QString::fromUtf8(run.file + ':' + QByteArray::number(run.line)));
    const bool ended = run.status == Actions::HookAborted && !moment.message.startsWith("VerificationFailure: ");
    hook.insert(QStringLiteral("status"), run.status == Actions::HookPassed ? QStringLiteral("passed")
                                          : run.status == Actions::HookNotRun || ended ? QStringLiteral("skipped")
                                                                                        : QStringLiteral("failed"));
    if (run.status != Actions::HookNotRun)
        hook.insert(QStringLiteral("duration"), run.nanoseconds);
    if (run.status == Actions::HookFailed || (run.status == Actions::HookAborted && !ended))
        hook.insert(QStringLiteral("error_message"), QString::fromUtf8(moment.message));
    return hook;
}

// Feature and scenario become sections; steps become passes, errors or logs at their feature line. The
// entries carry what Cucumber's JSON report needs besides: each step's definition and duration, each
// outline row's examples block and row, and the hooks of the scenario (on its section's end).
class TestResultReport : public Gherkin::ReportGenerator {
public:
    TestResultReport(TestResult* result, bool dryRun) : result(result), dryRun(dryRun) {}

    void featureStarted(const Gherkin::Feature& feature) override
    {
        // The section shows the description without the indentation it has in the file.
        QStringList description;
        for (const QByteArray& line : feature.description.split('\n'))
            description << QString::fromUtf8(line.trimmed());
        result->startSection(QStringLiteral("Feature: ") + QString::fromUtf8(feature.title),
                             description.join(QLatin1Char('\n')).trimmed(), feature.file,
                             int(feature.location.line));
    }
    void exampleStarted(const Gherkin::Feature&, const Gherkin::Scenario&, int examples, int row) override
    {
        example = {{QStringLiteral("examples"), examples}, {QStringLiteral("row"), row}};
    }
    // The hooks of a moment have run (the actions tell).
    void hooksRan(int kind, int phase, const Gherkin::ScriptActions::Result& moment)
    {
        if (kind == Gherkin::ScriptActions::FeatureHook || moment.hooks.isEmpty())
            return;
        QVariantList hooks;
        for (const Gherkin::ScriptActions::HookRun& run : moment.hooks)
            hooks << hookFacts(run, moment);
        if (kind == Gherkin::ScriptActions::ScenarioHook) {
            scenarioHooks.insert(QLatin1String(phase == 0 ? "before" : "after"), hooks);
            return;
        }
        // Step start hooks run before the step is reported, end hooks after it.
        const int step = phase == 0 ? stepsReported : stepsReported - 1;
        stepHooks << QVariantMap{{QStringLiteral("step"), step},
                                 {QStringLiteral("phase"), QLatin1String(phase == 0 ? "before" : "after")},
                                 {QStringLiteral("hooks"), hooks}};
    }
    void featureFinished(const Gherkin::Feature& feature) override
    {
        result->endSection(feature.file, int(feature.location.line));
    }
    void scenarioStarted(const Gherkin::Feature& feature, const Gherkin::Scenario& scenario,
                         const QByteArray& title) override
    {
        result->startSection(QStringLiteral("Scenario: ") + QString::fromUtf8(title), QString(), feature.file,
                             int(scenario.location.line), example);
        example.clear();
        scenarioHooks.clear();
        stepHooks.clear();
        stepsReported = 0;
    }
    void scenarioFinished(const Gherkin::Feature& feature, const Gherkin::Scenario& scenario, const QByteArray&,
                          bool) override
    {
        QVariantMap facts = scenarioHooks;
        if (!stepHooks.isEmpty())
            facts.insert(QStringLiteral("stepHooks"), stepHooks);
        result->endSection(feature.file, int(scenario.location.line), facts);
    }
    void scenarioNotRun(const Gherkin::Feature& feature, const Gherkin::Scenario& scenario,
                        const QByteArray& title) override
    {
        result->add(TestResult::Log, QStringLiteral("Not run: Scenario: ") + QString::fromUtf8(title), QString(),
                    feature.file, int(scenario.location.line));
    }
    void stepStarted(const Gherkin::Feature&, const Gherkin::Step&) override
    {
        failuresBefore = failures();
        stepTimer.start();
    }
    StepOutcome stepFinished(const Gherkin::Feature& feature, const Gherkin::Step& step, StepOutcome outcome,
                             const Gherkin::ScriptActions::Result& r) override
    {
        const qint64 nanoseconds = outcome == NotRun || !stepTimer.isValid() ? -1 : stepTimer.nsecsElapsed();
        stepTimer.invalidate();
        ++stepsReported;
        TestResult::Entry entry;
        entry.file = feature.file;
        entry.line = int(step.extent.begin.line);
        QByteArray definition = r.definition;
        if (definition.isEmpty() && outcome == NotRun && Interpreter::self()) {
            // Not run, but defined: the report still names the definition.
            const QList<QPair<QByteArray, int>> matches = Interpreter::self()->matchingStepDefinitions(step);
            if (matches.size() == 1)
                definition = matches.first().first + ':' + QByteArray::number(matches.first().second);
        }
        if (!definition.isEmpty())
            entry.facts.insert(QStringLiteral("match"), QString::fromUtf8(definition));
        if (nanoseconds >= 0 && !dryRun)
            entry.facts.insert(QStringLiteral("duration"), nanoseconds);
        const QString text = QString::fromUtf8(step.text);
        const QString message = QString::fromUtf8(r.message);
        auto add = [&](TestResult::Type type, const QString& what, const QString& detail) {
            entry.type = type;
            entry.message = what;
            entry.detail = detail;
            result->add(entry);
        };
        switch (outcome) {
        case Passed:
            if (dryRun) {
                // Defined, and not run: as Cucumber's dry run reports it.
                add(TestResult::Log, QStringLiteral("Not run: ") + text, QString());
                break;
            }
            if (failures() > failuresBefore) {
                add(TestResult::Fail, QStringLiteral("Step failed: ") + text,
                    QStringLiteral("A verification in the step failed."));
                return Failed;
            }
            add(TestResult::Pass, text, QString());
            break;
        case NotRun:
            add(TestResult::Log, QStringLiteral("Not run: ") + text, QString());
            break;
        case Undefined:
            // The detail is a definition to paste; the runner lists them again at the end of the run.
            add(TestResult::Error, QStringLiteral("Undefined step: ") + text, stepDefinitionSnippet(step));
            break;
        case Ambiguous:
            add(TestResult::Error, QStringLiteral("Ambiguous step: ") + text, message);
            break;
        case Aborted:
            // A failed verification or a skip was reported where it happened; the step's own entry says
            // what became of it.
            if (message.startsWith(QLatin1String("VerificationFailure: ")))
                add(TestResult::Fail, QStringLiteral("Step failed: ") + text,
                    QStringLiteral("A verification in the step failed."));
            else if (message.startsWith(QLatin1String("Skipped: ")))
                add(TestResult::Log, QStringLiteral("Pending: ") + text, message.mid(9));
            else
                add(TestResult::Log, QStringLiteral("Scenario ended by step: ") + text, QString());
            break;
        case Failed:
            add(TestResult::Error, QStringLiteral("Step failed: %1: %2").arg(text, message), whereItFailed(r));
            break;
        }
        return outcome;
    }
    void hookFailed(const Gherkin::Feature& feature, int kind, int phase, const Gherkin::SourceLocation& where,
                    const Gherkin::ScriptActions::Result& r) override
    {
        const QString message = QString::fromUtf8(r.message);
        if (r.status == Gherkin::ScriptActions::HookAborted)
            return; // reported where it happened
        static const char* const kinds[] = {"feature", "scenario", "step"};
        const QString moment = QStringLiteral("%1 %2")
                                   .arg(QLatin1String(kind >= 0 && kind < 3 ? kinds[kind] : "?"),
                                        QLatin1String(phase == 0 ? "start" : "end"));
        result->add(TestResult::Error, QStringLiteral("Hook at %1 failed: %2").arg(moment, message), whereItFailed(r),
                    feature.file, int(where.line));
    }

private:
    // The definition's position and the script stack below it, innermost first.
    static QString whereItFailed(const Gherkin::ScriptActions::Result& r)
    {
        QStringList lines;
        // Without a position the failure did not happen inside script code, and the stack is an old one.
        if (r.file.isEmpty())
            return QString();
        const LineInfoList stack = Interpreter::self() ? Interpreter::self()->errorCallStack() : LineInfoList();
        for (const LineInfo& info : stack)
            lines << QStringLiteral("at %1:%2").arg(info.file(), QString::number(info.line()));
        const QString definition = QStringLiteral("at %1:%2").arg(QString::fromUtf8(r.file)).arg(r.line);
        if (r.line > 0 && !lines.contains(definition))
            lines.prepend(definition);
        return lines.join(QLatin1Char('\n'));
    }

    int failures() const
    {
        return result->count(TestResult::Fail) + result->count(TestResult::UnexpectedPass) +
               result->count(TestResult::Error) + result->count(TestResult::Fatal);
    }

    TestResult* result;
    bool dryRun;
    int failuresBefore = 0;
    QElapsedTimer stepTimer;
    QVariantMap example;       // the outline row about to start
    QVariantMap scenarioHooks; // "before" and "after": the scenario's hooks
    QVariantList stepHooks;    // the hooks around its steps, by the step's index
    int stepsReported = 0;     // steps of the scenario reported so far
};

// The back end's actions, with the hooks' outcomes told to the report.
class ReportingActions : public Gherkin::ScriptActions {
public:
    ReportingActions(Gherkin::ScriptActions* actions, TestResultReport* report) : actions(actions), report(report) {}
    ~ReportingActions() override { delete actions; }
    Result runStep(const Gherkin::Step& step) override { return actions->runStep(step); }
    Result runHooks(int kind, int phase, const QByteArray& titleOrText) override
    {
        const Result result = actions->runHooks(kind, phase, titleOrText);
        report->hooksRan(kind, phase, result);
        return result;
    }

private:
    Gherkin::ScriptActions* actions;
    TestResultReport* report;
};

// Results go to the context's test result, or to the one of the current context.
TestResult* resultFor(ScriptContext* context)
{
    if (TestResult* result = context->testResult())
        return result;
    return ScriptContext::current() ? ScriptContext::current()->testResult() : nullptr;
}

} // namespace

int runFeatureFile(ScriptContext* context)
{
    if (context->argumentCount() < 1) {
        context->setError(QStringLiteral("runFeatureFile: expects the name of a feature file and optional tags"),
                          ScriptContext::PlainError);
        return 1;
    }
    QString path = context->argument(0)->toString();
    RunnerInterface* runner = Interpreter::self() ? Interpreter::self()->runner() : nullptr;
    if (QFileInfo(path).isRelative() && runner && !runner->testScriptPath().isEmpty())
        path = QDir::cleanPath(QFileInfo(runner->testScriptPath()).absoluteDir().filePath(path));

    Gherkin::Filter filter;
    for (int i = 1; i < context->argumentCount(); ++i) {
        const QByteArray tag = context->argument(i)->toString().toUtf8();
        if (tag.startsWith("~@") && tag.size() > 2)
            filter.exclude(tag.mid(1));
        else if (tag.startsWith('@') && tag.size() > 1)
            filter.include(tag);
        else {
            context->setError(QStringLiteral("runFeatureFile: '%1' is not a tag; write @tag to run only scenarios "
                                             "with it or ~@tag to leave them out")
                                  .arg(QString::fromUtf8(tag)),
                              ScriptContext::PlainError);
            return 1;
        }
    }

    if (runner && !runner->tagExpression().isEmpty()) {
        Gherkin::TagExpression expression;
        QString problem;
        if (!Gherkin::TagExpression::parse(runner->tagExpression(), &expression, &problem)) {
            context->setError(problem, ScriptContext::PlainError);
            return 1;
        }
        filter.setExpression(expression);
    }
    const bool dryRun = runner && runner->dryRun();

    Gherkin::Feature feature;
    Gherkin::RunFeatureError error;
    if (!Gherkin::parseFeatureFile(path, &feature, &error)) {
        // Every error but the last is a result of its own, at its line; the last ends the script, so that
        // they are all reported in the order of their lines.
        Gherkin::RunFeatureError last(error.file(), error.lineNo(), error.message());
        TestResult* result = resultFor(context);
        if (result && !error.following().isEmpty()) {
            const QRegularExpression where(QStringLiteral("^(.*):(\\d+): (.*)$"));
            QList<Gherkin::RunFeatureError> all{last};
            for (const QString& later : error.following()) {
                const QRegularExpressionMatch m = where.match(later);
                all << (m.hasMatch() ? Gherkin::RunFeatureError(m.captured(1), m.captured(2).toInt(), m.captured(3))
                                     : Gherkin::RunFeatureError(error.file(), 0, later));
            }
            last = all.takeLast();
            for (const Gherkin::RunFeatureError& e : all)
                result->add(TestResult::Error, e.message(), QString(), e.file(), e.lineNo());
        }
        // The script's error then points into the feature file.
        Debugger* debugger = Debugger::self();
        DebuggerFrame frame;
        if (debugger && last.lineNo() > 0) {
            frame.sourceId = debugger->nextSourceId();
            frame.line = last.lineNo();
            frame.column = 0;
            debugger->setCode(frame.sourceId, path);
        }
        context->setError(last.toString(), frame);
        return 1;
    }
    TestResult* result = resultFor(context);
    if (!result) {
        context->setError(QStringLiteral("runFeatureFile: no test result to report to"), ScriptContext::PlainError);
        return 1;
    }
    Gherkin::ScriptActions* actions =
        dryRun ? new DryRunActions : context->createGherkinScriptActions(SharedPtr<ScriptArgument>());
    if (!actions) {
        context->setError(QStringLiteral("runFeatureFile: this script language cannot run feature files"),
                          ScriptContext::PlainError);
        return 1;
    }
    TestResultReport report(result, dryRun);
    report.setFailfast(result->isAbortOnFailure());
    report.setChecksEveryStep(dryRun);
    ReportingActions reporting(actions, &report);
    const Gherkin::RunSummary summary = Gherkin::runFeature(feature, &reporting, &report, filter);
    context->setResult(context->createBoolArgument(summary.failed == 0));
    return 0;
}
