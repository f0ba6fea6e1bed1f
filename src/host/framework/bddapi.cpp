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
#include <QFileInfo>

namespace {

// Feature and scenario become sections; steps become passes, errors or logs at their feature line.
class TestResultReport : public Gherkin::ReportGenerator {
public:
    explicit TestResultReport(TestResult* result) : result(result) {}

    void featureStarted(const Gherkin::Feature& feature) override
    {
        result->startSection(QStringLiteral("Feature: ") + QString::fromUtf8(feature.title),
                             QString::fromUtf8(feature.description), feature.file, int(feature.location.line));
    }
    void featureFinished(const Gherkin::Feature& feature) override
    {
        result->endSection(feature.file, int(feature.location.line));
    }
    void scenarioStarted(const Gherkin::Feature& feature, const Gherkin::Scenario& scenario,
                         const QByteArray& title) override
    {
        result->startSection(QStringLiteral("Scenario: ") + QString::fromUtf8(title), QString(), feature.file,
                             int(scenario.location.line));
    }
    void scenarioFinished(const Gherkin::Feature& feature, const Gherkin::Scenario& scenario, const QByteArray&,
                          bool) override
    {
        result->endSection(feature.file, int(scenario.location.line));
    }
    void stepStarted(const Gherkin::Feature&, const Gherkin::Step&) override { failuresBefore = failures(); }
    StepOutcome stepFinished(const Gherkin::Feature& feature, const Gherkin::Step& step, StepOutcome outcome,
                             const Gherkin::ScriptActions::Result& r) override
    {
        const int line = int(step.extent.begin.line);
        const QString text = QString::fromUtf8(step.text);
        const QString message = QString::fromUtf8(r.message);
        switch (outcome) {
        case Passed:
            if (failures() > failuresBefore) {
                result->add(TestResult::Fail, QStringLiteral("Step failed: ") + text,
                            QStringLiteral("A verification in the step failed."), feature.file, line);
                return Failed;
            }
            result->add(TestResult::Pass, text, QString(), feature.file, line);
            break;
        case NotRun:
            result->add(TestResult::Log, QStringLiteral("Not run: ") + text, QString(), feature.file, line);
            break;
        case Undefined:
            result->add(TestResult::Error, QStringLiteral("Undefined step: ") + text,
                        QStringLiteral("No step definition matches '%1'.")
                            .arg(QString::fromUtf8(step.stepText())),
                        feature.file, line);
            break;
        case Ambiguous:
            result->add(TestResult::Error, QStringLiteral("Ambiguous step: ") + text, message, feature.file, line);
            break;
        case Aborted:
            // A failed verification or a skip was reported where it happened.
            if (!message.startsWith(QLatin1String("VerificationFailure: ")) &&
                !message.startsWith(QLatin1String("Skipped: ")))
                result->add(TestResult::Log, QStringLiteral("Scenario ended by step: ") + text, QString(),
                            feature.file, line);
            break;
        case Failed:
            result->add(TestResult::Error, QStringLiteral("Step failed: %1: %2").arg(text, message),
                        whereItFailed(r), feature.file, line);
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
    int failuresBefore = 0;
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

    Gherkin::Feature feature;
    Gherkin::RunFeatureError error;
    if (!Gherkin::parseFeatureFile(path, &feature, &error)) {
        // The script's error then points into the feature file.
        Debugger* debugger = Debugger::self();
        DebuggerFrame frame;
        if (debugger && error.lineNo() > 0) {
            frame.sourceId = debugger->nextSourceId();
            frame.line = error.lineNo();
            frame.column = 0;
            debugger->setCode(frame.sourceId, path);
        }
        context->setError(error.toString(), frame);
        return 1;
    }
    TestResult* result = resultFor(context);
    if (!result) {
        context->setError(QStringLiteral("runFeatureFile: no test result to report to"), ScriptContext::PlainError);
        return 1;
    }
    Gherkin::ScriptActions* actions = context->createGherkinScriptActions(SharedPtr<ScriptArgument>());
    if (!actions) {
        context->setError(QStringLiteral("runFeatureFile: this script language cannot run feature files"),
                          ScriptContext::PlainError);
        return 1;
    }
    TestResultReport report(result);
    report.setFailfast(result->isAbortOnFailure());
    const Gherkin::RunSummary summary = Gherkin::runFeature(feature, actions, &report, filter);
    delete actions;
    context->setResult(context->createBoolArgument(summary.failed == 0));
    return 0;
}
