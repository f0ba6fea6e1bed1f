// Reading feature files: one pass over the lines, a small state machine that knows which block (feature,
// background, scenario, examples) it is in and what may follow a step (a doc string or a table).
#include "gherkin.h"
#include "languages.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace Gherkin {

namespace {

struct Keyword {
    QByteArray text; // a header's with its colon
    QByteArray written; // without it: shared by every header that uses it
    KeywordKind kind;
    int type; // step type, or -1 for And, But and * (the previous step's type)
};

// The keywords of a language, longest first, so that a keyword that begins another one (Szenario,
// Szenariogrundriss) never hides it. Empty for an unknown language.
QList<Keyword> keywordsOf(const QByteArray& language)
{
    QList<Keyword> keywords;
    QList<QByteArray> continuing; // And and But keywords: they keep the previous step's type
    for (int i = 0; i < languageKeywordCount; ++i)
        if (language == languageKeywords[i].language &&
            (languageKeywords[i].kind == KeywordAnd || languageKeywords[i].kind == KeywordBut))
            continuing.append(languageKeywords[i].keyword);
    for (int i = 0; i < languageKeywordCount; ++i) {
        const LanguageKeyword& k = languageKeywords[i];
        if (language != k.language)
            continue;
        Keyword keyword{k.keyword, k.keyword, k.kind, -1};
        if (k.kind < KeywordGiven)
            keyword.text += ':';
        else if (!continuing.contains(keyword.text))
            keyword.type = k.kind == KeywordGiven ? Step::Given : k.kind == KeywordWhen ? Step::When : Step::Then;
        keywords.append(keyword);
    }
    std::stable_sort(keywords.begin(), keywords.end(),
                     [](const Keyword& a, const Keyword& b) { return a.text.size() > b.text.size(); });
    return keywords;
}

class Parser {
public:
    Parser(const QString& file, Feature* feature, RunFeatureError* error) : file(file), feature(feature), error(error) {}
    bool parse(const QByteArray& text);

private:
    enum Block { BeforeFeature, InFeature, InBackground, InScenario, InExamples };

    // Notes an error; parsing goes on at the next line, so that one run shows several.
    bool fail(int line, const QString& message, int column = 0)
    {
        errors.append(RunFeatureError(file, line, message, column));
        return false;
    }
    bool finish();
    // The header keyword the line begins with, -1 when none; the keyword as written and the title after
    // the colon.
    int header(const QByteArray& trimmed, QByteArray* written, QByteArray* title) const;
    // Where description lines go now: the feature's, the background's or the scenario's; none elsewhere.
    QByteArray* description = nullptr;
    int blankLines = 0; // blank lines since the description's last line, kept when another follows
    bool parseLine(int index, const QByteArray& trimmed, int column);
    bool parseStep(int lineNo, int column, const QByteArray& trimmed, const Keyword& keyword);
    bool parseBackground(int lineNo, const SourceLocation& here, const QByteArray& keyword, const QByteArray& title);
    bool parseDocString(int* index, int column, const QByteArray& fence);
    bool parseRow(int lineNo, int column, const QByteArray& line, TableRow* row);
    void takeTags(QList<QByteArray>* tags, QList<quint64>* tagLines);
    QList<int> outlines; // indexes of the scenarios written as outlines
    QList<Step>* currentSteps();

    QString file;
    Feature* feature;
    RunFeatureError* error;
    QList<QByteArray> lines;
    Block block = BeforeFeature;
    QList<QByteArray> pendingTags;
    QList<quint64> pendingTagLines;
    int pendingTagsLine = 0;
    bool inDescription = false;
    Table* lastTable = nullptr; // the table that a row line continues
    int lastTableLine = 0;
    QList<Keyword> keywords = keywordsOf("en");
    QList<RunFeatureError> errors;
    int ruleScenarios = 0; // scenarios of the current rule so far
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The line without its leading and trailing blanks, in storage of its own (the lines themselves are
// views of the text being parsed).
QByteArray trimmedLine(const QByteArray& line, int* column)
{
    const char* p = line.constData();
    int begin = 0;
    while (begin < line.size() && (p[begin] == ' ' || p[begin] == '\t'))
        ++begin;
    *column = begin + 1;
    while (begin < line.size() && isBlank(p[begin]))
        ++begin;
    int end = line.size();
    while (end > begin && isBlank(p[end - 1]))
        --end;
    return QByteArray(p + begin, end - begin);
}

int Parser::header(const QByteArray& trimmed, QByteArray* written, QByteArray* title) const
{
    for (const Keyword& keyword : keywords) {
        if (keyword.kind < KeywordGiven && trimmed.startsWith(keyword.text)) {
            *written = keyword.written;
            *title = trimmed.mid(keyword.text.size()).trimmed();
            return keyword.kind;
        }
    }
    return -1;
}

QList<Step>* Parser::currentSteps()
{
    if (block == InBackground)
        return feature->rules.isEmpty() ? &feature->background.steps : &feature->rules.last().background.steps;
    if (block == InScenario && !feature->scenarios.isEmpty())
        return &feature->scenarios.last().steps;
    return nullptr;
}

void Parser::takeTags(QList<QByteArray>* tags, QList<quint64>* tagLines)
{
    *tags = pendingTags;
    *tagLines = pendingTagLines;
    pendingTags.clear();
    pendingTagLines.clear();
}

bool Parser::parse(const QByteArray& text)
{
    // Lines are views of the text, which outlives the parse; what the feature keeps is copied.
    const char* data = text.constData();
    const char* const end = data + text.size();
    if (text.startsWith("\xEF\xBB\xBF"))
        data += 3;
    while (data <= end) {
        const char* newline = static_cast<const char*>(memchr(data, '\n', size_t(end - data)));
        const char* lineEnd = newline ? newline : end;
        const char* contentEnd = lineEnd > data && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
        lines.append(QByteArray::fromRawData(data, int(contentEnd - data)));
        if (!newline)
            break;
        data = newline + 1;
    }
    feature->file = file;
    const int maxErrors = 10;
    for (int i = 0; i < lines.size() && errors.size() < maxErrors; ++i) {
        const QByteArray& line = lines.at(i);
        int column;
        const QByteArray trimmed = trimmedLine(line, &column);
        if (trimmed.startsWith("\"\"\"") || trimmed.startsWith("```")) {
            parseDocString(&i, column, trimmed); // an unclosed one takes the rest of the file
            continue;
        }
        // Before the feature, every line would be an error of its own: one is enough.
        if (!parseLine(i, trimmed, column) && block == BeforeFeature)
            return finish();
    }
    if (!pendingTags.isEmpty())
        fail(pendingTagsLine, QStringLiteral("tags must be followed by a Feature, a Rule, a Scenario or Examples"));
    if (block == BeforeFeature && errors.isEmpty())
        fail(0, QStringLiteral("no 'Feature:' in the file"));
    for (int i : outlines)
        if (feature->scenarios.at(i).examples.isEmpty())
            fail(int(feature->scenarios.at(i).location.line),
                 QStringLiteral("the Scenario Outline '%1' has no Examples")
                     .arg(QString::fromUtf8(feature->scenarios.at(i).title)));
    for (const Scenario& scenario : feature->scenarios)
        for (const Examples& examples : scenario.examples)
            if (examples.table.isEmpty())
                fail(int(examples.location.line), QStringLiteral("'Examples:' needs a table with a header row"));
    return finish();
}

bool Parser::finish()
{
    if (errors.isEmpty())
        return true;
    std::stable_sort(errors.begin(), errors.end(),
                     [](const RunFeatureError& a, const RunFeatureError& b) {
                         return a.lineNo() != b.lineNo() ? a.lineNo() < b.lineNo() : a.columnNo() < b.columnNo();
                     });
    *error = errors.first();
    for (int i = 1; i < errors.size() && i < 10; ++i)
        error->addFollowing(errors.at(i));
    return false;
}

bool Parser::parseLine(int index, const QByteArray& trimmed, int column)
{
    const int lineNo = index + 1;
    if (trimmed.startsWith('#') && block == BeforeFeature) {
        static const QRegularExpression languageLine(QStringLiteral("^#\\s*language\\s*:\\s*(\\S+)\\s*$"));
        const QRegularExpressionMatch m = languageLine.match(QString::fromUtf8(trimmed));
        if (m.hasMatch()) {
            const QByteArray language = m.captured(1).toUtf8();
            keywords = keywordsOf(language);
            if (keywords.isEmpty())
                return fail(lineNo, QStringLiteral("unknown language '%1' (a code of the Gherkin keyword table "
                                                   "such as en, de, fr)")
                                        .arg(m.captured(1)));
            feature->language = language;
        }
        return true;
    }
    if (trimmed.isEmpty()) {
        if (description && !description->isEmpty())
            ++blankLines;
        return true;
    }
    if (trimmed.startsWith('#'))
        return true;
    const SourceLocation here{quint64(lineNo), quint64(column)};

    if (trimmed.startsWith('|')) {
        inDescription = false;
        if (!lastTable)
            return fail(lineNo, QStringLiteral("a table row must follow a step or 'Examples:'"), column);
        TableRow row;
        if (!parseRow(lineNo, column, lines.at(index), &row))
            return false;
        if (!lastTable->isEmpty() && lastTable->first().size() != row.size())
            return fail(lineNo, QStringLiteral("this row has %1 cells, the table's first row (line %2) has %3")
                                    .arg(row.size())
                                    .arg(lastTableLine)
                                    .arg(lastTable->first().size()));
        if (lastTable->isEmpty())
            lastTableLine = lineNo;
        lastTable->append(row);
        return true;
    }
    if (trimmed.startsWith('@')) {
        for (const QByteArray& tag : trimmed.simplified().split(' ')) {
            if (tag.startsWith('#'))
                break;
            if (!tag.startsWith('@') || tag.size() < 2) {
                pendingTags.clear();
                pendingTagLines.clear();
                return fail(lineNo, QStringLiteral("'%1' is not a tag (tags begin with @)").arg(QString::fromUtf8(tag)),
                            column + int(trimmed.indexOf(tag)));
            }
            pendingTags.append(tag);
            pendingTagLines.append(quint64(lineNo));
        }
        pendingTagsLine = lineNo;
        inDescription = false;
        return true;
    }

    QByteArray title;
    QByteArray written;
    lastTable = nullptr;
    const int kind = header(trimmed, &written, &title);
    if (kind >= 0) {
        description = nullptr;
        blankLines = 0;
    }
    if (kind == KeywordFeature) {
        if (block != BeforeFeature)
            return fail(lineNo, QStringLiteral("a second 'Feature:'; a file holds one feature"));
        block = InFeature;
        feature->location = here;
        feature->keyword = written;
        feature->title = title;
        takeTags(&feature->tags, &feature->tagLines);
        inDescription = true;
        description = &feature->description;
        return true;
    }
    if (block == BeforeFeature)
        return fail(lineNo, QStringLiteral("expected 'Feature:', found '%1'").arg(QString::fromUtf8(trimmed)));
    if (kind == KeywordBackground)
        return parseBackground(lineNo, here, written, title);
    if (kind == KeywordRule) {
        Rule rule;
        rule.location = here;
        rule.title = title;
        takeTags(&rule.tags, &rule.tagLines);
        feature->rules.append(rule);
        ruleScenarios = 0;
        block = InFeature;
        inDescription = true;
        return true;
    }
    if (kind == KeywordScenario || kind == KeywordScenarioOutline) {
        if (kind == KeywordScenarioOutline)
            outlines.append(feature->scenarios.size());
        Scenario scenario;
        scenario.location = here;
        scenario.keyword = written;
        scenario.title = title;
        scenario.rule = feature->rules.size() - 1;
        takeTags(&scenario.tags, &scenario.tagLines);
        feature->scenarios.append(scenario);
        ++ruleScenarios;
        block = InScenario;
        inDescription = true;
        description = &feature->scenarios.last().description;
        return true;
    }
    if (kind == KeywordExamples) {
        if (block != InScenario && block != InExamples)
            return fail(lineNo, QStringLiteral("'Examples:' must follow a Scenario Outline"));
        Examples examples;
        examples.location = here;
        examples.keyword = written;
        examples.title = title;
        takeTags(&examples.tags, &examples.tagLines);
        Scenario& scenario = feature->scenarios.last();
        scenario.examples.append(examples);
        block = InExamples;
        lastTable = &scenario.examples.last().table;
        inDescription = true;
        return true;
    }
    if (!pendingTags.isEmpty())
        return fail(pendingTagsLine, QStringLiteral("tags must be followed by a Feature, a Rule, a Scenario or Examples"));
    for (const Keyword& keyword : keywords) {
        if (keyword.kind < KeywordGiven)
            continue;
        if (trimmed.startsWith(keyword.text) || trimmed == keyword.text.trimmed()) {
            inDescription = false;
            description = nullptr;
            return parseStep(lineNo, column, trimmed, keyword);
        }
    }
    if (inDescription) {
        // Kept as written, indentation too; blank lines inside it stay, those after it do not.
        if (description) {
            QByteArray line = lines.at(index);
            while (!line.isEmpty() && isBlank(line.back()))
                line.chop(1);
            if (!description->isEmpty())
                *description += QByteArray(blankLines + 1, '\n');
            *description += line;
            blankLines = 0;
        }
        return true;
    }
    return fail(lineNo, QStringLiteral("expected a step (Given, When, Then, And, But), a table, a doc string or a "
                                       "new Scenario, found '%1'")
                            .arg(QString::fromUtf8(trimmed)));
}

bool Parser::parseBackground(int lineNo, const SourceLocation& here, const QByteArray& keyword,
                             const QByteArray& title)
{
    if (!pendingTags.isEmpty()) {
        pendingTags.clear();
        pendingTagLines.clear();
        return fail(lineNo, QStringLiteral("a Background cannot have tags"));
    }
    // Inside a Rule the background is the rule's own.
    const bool inRule = !feature->rules.isEmpty();
    bool& has = inRule ? feature->rules.last().hasBackground : feature->hasBackground;
    Background& background = inRule ? feature->rules.last().background : feature->background;
    if (has)
        return fail(lineNo, inRule ? QStringLiteral("a second 'Background:' in this Rule; a rule has one at most")
                                   : QStringLiteral("a second 'Background:'; a feature has one at most"));
    if (inRule ? ruleScenarios > 0 : !feature->scenarios.isEmpty())
        return fail(lineNo, inRule ? QStringLiteral("'Background:' must come before the rule's first scenario")
                                   : QStringLiteral("'Background:' must come before the first scenario"));
    has = true;
    background.location = here;
    background.keyword = keyword;
    background.title = title;
    block = InBackground;
    inDescription = true;
    description = &background.description;
    return true;
}

bool Parser::parseStep(int lineNo, int column, const QByteArray& trimmed, const Keyword& keyword)
{
    QList<Step>* steps = currentSteps();
    if (!steps) {
        if (block == InExamples)
            return fail(lineNo, QStringLiteral("a step cannot follow 'Examples:'; start a new Scenario first"));
        return fail(lineNo, QStringLiteral("a step must belong to a Scenario or the Background"));
    }
    Step step;
    step.type = keyword.type >= 0 ? keyword.type : (steps->isEmpty() ? int(Step::NoKeyword) : steps->last().type);
    step.text = trimmed;
    step.textOffset = qMin(quint64(keyword.text.size()), quint64(trimmed.size()));
    step.extent.begin = SourceLocation{quint64(lineNo), quint64(column)};
    step.extent.end = SourceLocation{quint64(lineNo), quint64(column + trimmed.size())};
    if (step.stepText().trimmed().isEmpty())
        return fail(lineNo, QStringLiteral("the step '%1' has no text").arg(QString::fromUtf8(trimmed)));
    steps->append(step);
    lastTable = &steps->last().table;
    lastTableLine = 0;
    return true;
}

bool Parser::parseDocString(int* index, int column, const QByteArray& opening)
{
    const int openLine = *index + 1;
    const QByteArray fence = opening.left(3);
    QList<Step>* steps = currentSteps();
    if (!steps || steps->isEmpty() || lastTable != &steps->last().table || !steps->last().table.isEmpty() ||
        !steps->last().multiLineText.isEmpty()) {
        // The doc string is skipped as a whole: its lines are no steps.
        int c;
        for (int i = *index + 1; i < lines.size(); ++i)
            if (trimmedLine(lines.at(i), &c) == fence) {
                *index = i;
                break;
            }
        return fail(openLine, QStringLiteral("a doc string must follow a step"));
    }
    Step& step = steps->last();
    step.docStringType = opening.mid(3).trimmed();
    step.docStringLine = quint64(openLine);
    const int indentation = column - 1;
    for (int i = *index + 1; i < lines.size(); ++i) {
        int c;
        const QByteArray trimmed = trimmedLine(lines.at(i), &c);
        if (trimmed == fence) {
            *index = i;
            step.extent.end = SourceLocation{quint64(i + 1), quint64(c + fence.size())};
            lastTable = nullptr; // nothing more attaches to this step
            return true;
        }
        const QByteArray& line = lines.at(i);
        // The fence's indentation is removed from every line that has it.
        int strip = 0;
        while (strip < indentation && strip < line.size() && (line[strip] == ' ' || line[strip] == '\t'))
            ++strip;
        QByteArray text(line.constData() + strip, line.size() - strip);
        text.replace("\\\"\\\"\\\"", "\"\"\"");
        step.multiLineText.append(text);
    }
    *index = lines.size();
    return fail(openLine, QStringLiteral("the doc string opened here is not closed with %1").arg(QString::fromUtf8(fence)));
}

bool Parser::parseRow(int lineNo, int column, const QByteArray& line, TableRow* row)
{
    const QByteArray trimmed = line.trimmed();
    // The closing bar is escaped when an odd number of backslashes stands before it.
    int backslashes = 0;
    while (backslashes < trimmed.size() - 1 && trimmed[trimmed.size() - 2 - backslashes] == '\\')
        ++backslashes;
    if (trimmed.size() < 2 || !trimmed.endsWith('|') || backslashes % 2 == 1)
        return fail(lineNo, QStringLiteral("a table row must end with '|'"));
    // Cells between unescaped bars; \| is a bar, \\ a backslash and \n a line feed inside a cell.
    int start = column - 1 + 1;
    QByteArray cell;
    int cellStart = start;
    for (int i = start; i < line.size(); ++i) {
        const char ch = line[i];
        if (ch == '\\' && i + 1 < line.size()) {
            const char next = line[i + 1];
            cell += next == 'n' ? '\n' : (next == '|' || next == '\\') ? next : ch;
            if (next == 'n' || next == '|' || next == '\\')
                ++i;
            continue;
        }
        if (ch == '|') {
            int lead = 0;
            while (lead < cell.size() && (cell[lead] == ' ' || cell[lead] == '\t'))
                ++lead;
            row->append(TableCell{SourceLocation{quint64(lineNo), quint64(cellStart + lead + 1)}, cell.trimmed()});
            cell.clear();
            cellStart = i + 1;
            continue;
        }
        cell += ch;
    }
    return true;
}

} // namespace

QString RunFeatureError::toString() const
{
    QString first = line > 0 ? QStringLiteral("%1:%2: %3").arg(fileName, QString::number(line), text)
                             : QStringLiteral("%1: %2").arg(fileName, text);
    for (const QString& later : more)
        first += QLatin1Char('\n') + later;
    return first;
}

bool parseFeature(const QByteArray& text, const QString& fileName, Feature* feature, RunFeatureError* error)
{
    *feature = Feature();
    Parser parser(fileName, feature, error);
    if (!parser.parse(text))
        return false;
    return true;
}

bool parseFeatureFile(const QString& path, Feature* feature, RunFeatureError* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *feature = Feature();
        *error = RunFeatureError(path, 0, QStringLiteral("cannot read the feature file: %1").arg(file.errorString()));
        return false;
    }
    return parseFeature(file.readAll(), path, feature, error);
}

} // namespace Gherkin
