// Placing a Tcl error in the user's files from errorInfo and the script texts.
#include "tclerrorlocation.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

namespace {

// One command of errorInfo with the contexts that follow it.
struct Entry {
    QString command;
    bool truncated = false; // Tcl shortened the text and appended "..."
    QStringList contexts;   // without their parentheses
};

QVector<Entry> parseErrorInfo(const QString& info)
{
    static const QRegularExpression marker(
        QStringLiteral("\\n    (?:while executing|invoked from within)\\n\""));
    QVector<Entry> entries;
    QRegularExpressionMatchIterator it = marker.globalMatch(info);
    QVector<QPair<int, int>> starts; // marker start, text start
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        starts.append({int(m.capturedStart()), int(m.capturedEnd())});
    }
    for (int i = 0; i < starts.size(); ++i) {
        const int begin = starts[i].second;
        const int end = i + 1 < starts.size() ? starts[i + 1].first : info.size();
        const QString segment = info.mid(begin, end - begin);
        Entry entry;
        int close = segment.indexOf(QLatin1String("\"\n    ("));
        QString rest;
        if (close < 0) {
            close = segment.endsWith(QLatin1Char('"')) ? segment.size() - 1 : segment.size();
        } else {
            rest = segment.mid(close + 1);
        }
        entry.command = segment.left(close);
        if (entry.command.endsWith(QLatin1String("..."))) {
            entry.truncated = true;
            entry.command.chop(3);
        }
        for (QString piece : rest.split(QStringLiteral("\n    ("), Qt::SkipEmptyParts)) {
            piece = piece.trimmed();
            if (piece.endsWith(QLatin1Char(')')))
                piece.chop(1);
            entry.contexts.append(piece);
        }
        entries.append(entry);
    }
    return entries;
}

int lineAt(const QString& text, int position)
{
    return int(text.leftRef(position).count(QLatin1Char('\n'))) + 1;
}

// Skips blanks and backslash-newlines from `p`.
int skipBlanks(const QString& text, int p)
{
    while (p < text.size()) {
        const QChar c = text.at(p);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t'))
            ++p;
        else if (c == QLatin1Char('\\') && p + 1 < text.size() && text.at(p + 1) == QLatin1Char('\n'))
            p += 2;
        else
            break;
    }
    return p;
}

// Skips one word (braced, quoted or bare) from `p`.
int skipWord(const QString& text, int p)
{
    if (p >= text.size())
        return p;
    if (text.at(p) == QLatin1Char('{')) {
        int depth = 0;
        for (; p < text.size(); ++p) {
            const QChar c = text.at(p);
            if (c == QLatin1Char('\\'))
                ++p;
            else if (c == QLatin1Char('{'))
                ++depth;
            else if (c == QLatin1Char('}') && --depth == 0)
                return p + 1;
        }
        return p;
    }
    if (text.at(p) == QLatin1Char('"')) {
        for (++p; p < text.size() && text.at(p) != QLatin1Char('"'); ++p)
            if (text.at(p) == QLatin1Char('\\'))
                ++p;
        return p + 1;
    }
    while (p < text.size() && !text.at(p).isSpace())
        ++p;
    return p;
}

struct Place {
    int source = -1;
    int line = -1; // of the command in its file
};

class Locator {
public:
    explicit Locator(const QVector<SourceText>& sources) : sources(sources) {}

    // Where the body's line `line` lies for a procedure-like context, or an unplaced Place.
    Place placeContext(const QString& context)
    {
        static const QRegularExpression procedure(QStringLiteral("^procedure \"([^\"]+)\" line (\\d+)$"));
        static const QRegularExpression method(
            QStringLiteral("^(?:class|object) \"[^\"]*\" method \"([^\"]+)\" line (\\d+)$"));
        static const QRegularExpression special(
            QStringLiteral("^(?:class|object) \"[^\"]*\" (constructor|destructor) line (\\d+)$"));
        static const QRegularExpression file(QStringLiteral("^file \"(.+)\" line (\\d+)$"),
                                             QRegularExpression::DotMatchesEverythingOption);
        static const QRegularExpression lambda(QStringLiteral("^lambda term \"(.*)\" line (\\d+)$"),
                                               QRegularExpression::DotMatchesEverythingOption);
        QRegularExpressionMatch m;
        if ((m = procedure.match(context)).hasMatch()) {
            QString name = m.captured(1);
            name = name.mid(name.lastIndexOf(QLatin1String("::")) + (name.contains(QLatin1String("::")) ? 2 : 0));
            return inBody(definition(QStringLiteral("proc[ \\t]+(?:::)?(?:[\\w:]*::)?") +
                                         QRegularExpression::escape(name) + QStringLiteral("[ \\t]"),
                                     1),
                          m.captured(2).toInt());
        }
        if ((m = method.match(context)).hasMatch())
            return inBody(definition(QStringLiteral("method[ \\t]+") + QRegularExpression::escape(m.captured(1)) +
                                         QStringLiteral("[ \\t]"),
                                     1),
                          m.captured(2).toInt());
        if ((m = special.match(context)).hasMatch())
            return inBody(definition(m.captured(1) + QStringLiteral("[ \\t]"), m.captured(1) == QLatin1String("constructor") ? 1 : 0),
                          m.captured(2).toInt());
        if ((m = file.match(context)).hasMatch()) {
            for (int i = 0; i < sources.size(); ++i)
                if (sources[i].file == m.captured(1) || sources[i].alias == m.captured(1))
                    return {i, m.captured(2).toInt()};
            return {};
        }
        if ((m = lambda.match(context)).hasMatch()) {
            const QString term = m.captured(1);
            for (int i = 0; i < sources.size(); ++i) {
                const int at = sources[i].text.indexOf(term);
                if (at < 0)
                    continue;
                const int body = skipBlanks(term, skipWord(term, skipBlanks(term, 0)));
                return {i, lineAt(sources[i].text, at + body) + m.captured(2).toInt() - 1};
            }
        }
        return {};
    }

    static bool isProcedureLike(const QString& context)
    {
        return context.startsWith(QLatin1String("procedure \"")) || context.startsWith(QLatin1String("class \"")) ||
               context.startsWith(QLatin1String("object \"")) || context.startsWith(QLatin1String("file \"")) ||
               context.startsWith(QLatin1String("lambda term \""));
    }

    const QVector<SourceText>& sources;

private:
    struct Definition {
        int source = -1;
        int bodyLine = -1; // line of the body's opening brace
    };

    // The first definition matching `head` at the start of a command; `argumentWords` words lie between
    // it and the body.
    Definition definition(const QString& head, int argumentWords)
    {
        const QString key = head + QString::number(argumentWords);
        const auto cached = definitions.constFind(key);
        if (cached != definitions.constEnd())
            return *cached;
        const QRegularExpression expression(QStringLiteral("(?:^|[\\n;{\\[])[ \\t]*") + head);
        Definition found;
        for (int i = 0; i < sources.size() && found.source < 0; ++i) {
            const QRegularExpressionMatch m = expression.match(sources[i].text);
            if (!m.hasMatch())
                continue;
            const QString& text = sources[i].text;
            int p = skipBlanks(text, int(m.capturedEnd()));
            for (int w = 0; w < argumentWords; ++w)
                p = skipBlanks(text, skipWord(text, p));
            found = {i, lineAt(text, p)};
        }
        definitions.insert(key, found);
        return found;
    }

    Place inBody(const Definition& d, int line)
    {
        if (d.source < 0)
            return {};
        return {d.source, d.bodyLine + line - 1};
    }

    QHash<QString, Definition> definitions;
};

} // namespace

QVector<ErrorFrame> locateError(const QString& errorInfo, const QVector<SourceText>& sources,
                                const QString& topLevelFile, int topLevelLine, const QString& libraryDir)
{
    const QVector<Entry> entries = parseErrorInfo(errorInfo);
    if (entries.isEmpty())
        return {};
    Locator locator(sources);

    // Where each entry's command stands, when a procedure-like context follows it directly; and the
    // frames, one per procedure-like context.
    QVector<Place> placed(entries.size());
    QVector<Place> frames;
    for (int i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        bool direct = true;
        for (const QString& context : entry.contexts) {
            if (!Locator::isProcedureLike(context)) {
                direct = false;
                continue;
            }
            const Place place = locator.placeContext(context);
            if (direct)
                placed[i] = place;
            if (place.source >= 0)
                frames.append(place);
            break;
        }
    }
    const Entry& outermost = entries.last();
    if (outermost.contexts.isEmpty() && !topLevelFile.isEmpty() && topLevelLine > 0) {
        for (int i = 0; i < sources.size(); ++i) {
            if (sources[i].file == topLevelFile) {
                placed.last() = {i, topLevelLine};
                frames.append(placed.last());
                break;
            }
        }
    }
    if (frames.isEmpty())
        return {};

    // The failing command: placed itself, or found inside the text of a placed command further out
    // (a body written there and evaluated by the commands in between).
    Place headline;
    for (int j = 0; j < entries.size() && headline.source < 0; ++j) {
        if (placed[j].source >= 0) {
            headline = placed[j];
            break;
        }
        const QString& inner = entries[j].command;
        if (inner.trimmed().isEmpty())
            continue;
        for (int k = j + 1; k < entries.size(); ++k) {
            if (placed[k].source < 0)
                continue;
            const int at = entries[k].command.indexOf(inner);
            if (at >= 0) {
                headline = {placed[k].source, placed[k].line + int(entries[k].command.leftRef(at).count(QLatin1Char('\n')))};
                break;
            }
            if (entries[k].truncated && j == 0) {
                // The text Tcl quotes is cut short: look for the command's first line in the file,
                // after the placed command's start.
                const QString& text = sources[placed[k].source].text;
                int from = 0;
                for (int line = 1; line < placed[k].line && from >= 0; ++line)
                    from = text.indexOf(QLatin1Char('\n'), from) + 1;
                const QString firstLine = inner.section(QLatin1Char('\n'), 0, 0).trimmed();
                const int found = from >= 0 && !firstLine.isEmpty() ? text.indexOf(firstLine, from) : -1;
                if (found >= 0) {
                    headline = {placed[k].source, lineAt(text, found)};
                    break;
                }
            }
        }
    }

    QVector<ErrorFrame> result;
    auto append = [&](const Place& place) {
        ErrorFrame frame;
        frame.file = sources[place.source].file;
        frame.line = place.line;
        frame.library = !libraryDir.isEmpty() && frame.file.startsWith(libraryDir + QLatin1Char('/'));
        result.append(frame);
    };
    if (headline.source >= 0 && (headline.source != frames.first().source || headline.line != frames.first().line))
        append(headline);
    for (const Place& place : frames)
        append(place);
    return result;
}
