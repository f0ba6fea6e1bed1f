// The Gherkin library: feature files as records (Feature, Background, Scenario, Examples, Step), the parser
// that reads them, and the feature runner that walks them and calls a language back end's ScriptActions
// for every step and hook moment, telling a ReportGenerator what happened.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace Gherkin {

// 1-based line and column; 0 means unknown.
struct SourceLocation {
    quint64 line = 0;
    quint64 column = 0;
};

struct SourceExtent {
    SourceLocation begin;
    SourceLocation end;
};

struct TableCell {
    SourceLocation location;
    QByteArray text;
};

using TableRow = QList<TableCell>;
using Table = QList<TableRow>;

// One step. `type` is 0 Given, 1 When, 2 Then; And, But and * take the type of the step before them in
// the same block, and 3 (no keyword) when there is none.
struct Step {
    enum Type { Given = 0, When = 1, Then = 2, NoKeyword = 3 };
    int type = NoKeyword;
    SourceExtent extent;
    QByteArray text;        // the step line as written, keyword included, without indentation
    quint64 textOffset = 0; // where the step text proper begins in `text`
    QList<QByteArray> multiLineText;
    Table table;
    QByteArray docStringType;   // what follows the doc string's opening fence (```json), empty when nothing
    quint64 docStringLine = 0;  // the opening fence's line, 0 without a doc string

    QByteArray stepText() const { return text.mid(int(textOffset)); }
    // The keyword as written ("And" for an And step).
    QByteArray writtenKeyword() const { return text.left(int(textOffset)).trimmed(); }
};

struct Examples {
    SourceLocation location;
    QByteArray keyword; // as written, without its colon
    QByteArray title;
    QList<QByteArray> tags;
    QList<quint64> tagLines; // the line of each tag
    Table table; // the header row first, then one row per example
};

struct Background {
    SourceLocation location;
    QByteArray keyword;
    QByteArray title;
    QByteArray description; // its lines as written, indentation kept
    QList<Step> steps;
};

struct Scenario {
    SourceLocation location;
    QByteArray keyword;
    QByteArray title;
    QByteArray description;
    QList<QByteArray> tags;
    QList<quint64> tagLines;
    QList<Step> steps;
    QList<Examples> examples;
    int rule = -1; // index in the feature's rules, -1 outside any

    // True when at least one examples block holds rows.
    bool isScenarioOutline() const;
};

// A Rule groups scenarios; its tags count for them and its background runs after the feature's.
struct Rule {
    SourceLocation location;
    QByteArray title;
    QList<QByteArray> tags;
    QList<quint64> tagLines;
    bool hasBackground = false;
    Background background;
};

struct Feature {
    QString file;
    QByteArray language = "en"; // from a `# language:` line before the feature
    SourceLocation location;
    QByteArray keyword;
    QByteArray title;
    QByteArray description; // its lines as written, indentation kept
    QList<QByteArray> tags;
    QList<quint64> tagLines;
    bool hasBackground = false;
    Background background;
    QList<Scenario> scenarios;
    QList<Rule> rules;
};

// A feature file that cannot be run: the file, the line (1-based, 0 when none) and what is wrong.
class RunFeatureError {
public:
    RunFeatureError() = default;
    RunFeatureError(const QString& file, int line, const QString& message, int column = 0)
        : fileName(file), line(line), column(column), text(message)
    {
    }

    QString file() const { return fileName; }
    int lineNo() const { return line; }
    int columnNo() const { return column; } // orders errors of one line; 0 when unknown
    QString message() const { return text; }
    // "FILE:LINE: message", or "FILE: message" without a line; the errors found after it follow, a line
    // each.
    QString toString() const;
    // Later errors of the same file ("FILE:LINE: message" each).
    QStringList following() const { return more; }
    void addFollowing(const RunFeatureError& later) { more.append(later.toString()); }

private:
    QString fileName;
    int line = 0;
    int column = 0;
    QString text;
    QStringList more;
};

// Parses feature text; `fileName` only names the file in errors and in the feature. False with the
// error on a malformed text (the first one, with up to 9 more that follow it); the feature is then
// incomplete.
bool parseFeature(const QByteArray& text, const QString& fileName, Feature* feature, RunFeatureError* error);
bool parseFeatureFile(const QString& path, Feature* feature, RunFeatureError* error);

// What a language back end does for the runner.
class ScriptActions {
public:
    // The outcome of a step or of the hooks of one moment.
    // One hook of a moment: where it is defined, how it ended (a HookStatus, or HookNotRun after one that
    // failed) and how long it took.
    struct HookRun {
        QByteArray file;
        int line = 0;
        int status = 0;
        qint64 nanoseconds = 0;
    };
    struct Result {
        int status = 0;
        QByteArray message;
        QByteArray file;
        int line = -1;
        QByteArray definition; // "FILE:LINE" of the step definition that matched, when one did
        QList<HookRun> hooks;  // a moment's hooks in the order they are registered
    };
    // Step statuses.
    enum StepStatus {
        StepPassed = 0,
        StepUndefined = 1,   // no step definition matches
        StepAmbiguous = 2,   // several match; the message lists them
        StepNotCallable = 3, // the definition could not be called; the message says why
        StepFailed = 4,      // the definition failed; message, file and line say where
        StepInternal = 5,    // the back end could not run the definition
        StepAborted = 6      // the definition ended the scenario (a failure already reported, a skip, or on purpose)
    };
    // Hook statuses.
    enum HookStatus { HookPassed = 0, HookFailed = 1, HookAborted = 3, HookNotRun = 4 };
    enum HookKind { FeatureHook = 0, ScenarioHook = 1, StepHook = 2 };
    enum HookPhase { Start = 0, End = 1 };

    virtual ~ScriptActions();
    virtual Result runStep(const Step& step) = 0;
    virtual Result runHooks(int kind, int phase, const QByteArray& titleOrText) = 0;
};

// A tag expression as the command line gives it: tags (`@smoke`), `not`, `and`, `or` and parentheses;
// `not` binds tighter than `and`, `and` tighter than `or`. A backslash makes the next character part of a
// tag (`@a\(1\)`). The empty expression accepts everything.
class TagExpression {
public:
    // False with a message naming the expression and what is wrong in it.
    static bool parse(const QByteArray& text, TagExpression* expression, QString* error);
    bool isEmpty() const { return root < 0; }
    bool accepts(const QList<QByteArray>& tags) const;

private:
    struct Node {
        enum Kind { Tag, Not, And, Or } kind = Tag;
        QByteArray tag;
        int left = -1;
        int right = -1;
    };
    bool evaluate(int node, const QList<QByteArray>& tags) const;
    friend class TagExpressionParser;
    QList<Node> nodes;
    int root = -1;
};

// Which scenarios run, by tag: a scenario runs when it carries one of the included tags (or none are
// given), none of the excluded ones, and its tags satisfy the expression. Tags are written with their @.
class Filter {
public:
    void include(const QByteArray& tag) { included.append(tag); }
    void exclude(const QByteArray& tag) { excluded.append(tag); }
    void setExpression(const TagExpression& e) { expression = e; }
    bool accepts(const QList<QByteArray>& tags) const;

private:
    QList<QByteArray> included;
    QList<QByteArray> excluded;
    TagExpression expression;
};

// Follows the run through the feature file: the runner traces every step and scenario it starts.
class Debugger {
public:
    enum TraceType { TraceFeature, TraceScenario, TraceStep };
    virtual ~Debugger();
    void trace(const SourceLocation& location, TraceType type) { onTrace(location, type); }

protected:
    virtual void onTrace(SourceLocation location, TraceType type) = 0;
};

// Receives what happens during a run.
class ReportGenerator {
public:
    enum StepOutcome { Passed, Failed, Undefined, Ambiguous, Aborted, NotRun };

    virtual ~ReportGenerator();
    virtual void featureStarted(const Feature& feature) {}
    virtual void featureFinished(const Feature& feature) {}
    // `title` is the scenario's title; an outline's example adds its values.
    virtual void scenarioStarted(const Feature& feature, const Scenario& scenario, const QByteArray& title) {}
    // Before scenarioStarted for an example row of an outline: the index of its examples block and of
    // the row in that block's table (1 for the first row after the header).
    virtual void exampleStarted(const Feature& feature, const Scenario& scenario, int examples, int row) {}
    virtual void scenarioFinished(const Feature& feature, const Scenario& scenario, const QByteArray& title,
                                  bool passed) {}
    // A scenario (or an example row) that does not run because an earlier one failed (failfast) or a
    // feature start hook failed.
    virtual void scenarioNotRun(const Feature& feature, const Scenario& scenario, const QByteArray& title) {}
    virtual void stepStarted(const Feature& feature, const Step& step) {}
    // Answers the outcome as reported: a report may find a step failed that its definition passed (a
    // verification inside it failed), and the runner then treats it as failed.
    virtual StepOutcome stepFinished(const Feature& feature, const Step& step, StepOutcome outcome,
                                     const ScriptActions::Result& result)
    {
        return outcome;
    }
    // `where` is the feature, scenario or step line the moment belongs to.
    virtual void hookFailed(const Feature& feature, int kind, int phase, const SourceLocation& where,
                            const ScriptActions::Result& result) {}

    // With it set the run ends after the first scenario that fails.
    bool failfast() const { return stopAtFailure; }
    void setFailfast(bool on) { stopAtFailure = on; }
    // With it set a step that does not pass does not end its scenario (a dry run checks every step).
    bool checksEveryStep() const { return everyStep; }
    void setChecksEveryStep(bool on) { everyStep = on; }

private:
    bool stopAtFailure = false;
    bool everyStep = false;
};

struct RunSummary {
    int passed = 0;
    int failed = 0;
    int filteredOut = 0;
};

// Runs every scenario of the feature (each example row of an outline as a scenario of its own) with its
// background and hooks. A failed step ends its scenario; the remaining steps are reported NotRun.
RunSummary runFeature(const Feature& feature, ScriptActions* actions, ReportGenerator* report,
                      const Filter& filter = Filter(), Debugger* debugger = nullptr);

// The outline's steps for one example row: <name> replaced by the row's values in step texts, doc
// strings and table cells.
QList<Step> expandSteps(const QList<Step>& steps, const TableRow& header, const TableRow& row);

} // namespace Gherkin
