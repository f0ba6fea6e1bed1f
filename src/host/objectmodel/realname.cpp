// Tcl-style list syntax for real names, without a Tcl interpreter: braces nest and keep their content
// as written, double quotes and bare words take backslash escapes.
#include "realname.h"

namespace RealName {

namespace {

QChar unescape(QChar c)
{
    switch (c.unicode()) {
    case 'n':
        return QLatin1Char('\n');
    case 't':
        return QLatin1Char('\t');
    case 'r':
        return QLatin1Char('\r');
    default:
        return c;
    }
}

bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

} // namespace

bool splitList(const QString& text, QStringList* elements)
{
    const int n = text.size();
    int i = 0;
    while (true) {
        while (i < n && isSpace(text.at(i)))
            ++i;
        if (i >= n)
            return true;
        QString element;
        const QChar c = text.at(i);
        if (c == QLatin1Char('{')) {
            int depth = 1;
            int start = ++i;
            while (i < n && depth > 0) {
                if (text.at(i) == QLatin1Char('\\'))
                    ++i;
                else if (text.at(i) == QLatin1Char('{'))
                    ++depth;
                else if (text.at(i) == QLatin1Char('}'))
                    --depth;
                ++i;
            }
            if (depth > 0)
                return false;
            element = text.mid(start, i - 1 - start);
            if (i < n && !isSpace(text.at(i)))
                return false; // "extra characters after close-brace"
        } else if (c == QLatin1Char('"')) {
            ++i;
            while (i < n && text.at(i) != QLatin1Char('"')) {
                if (text.at(i) == QLatin1Char('\\') && i + 1 < n)
                    element += unescape(text.at(++i));
                else
                    element += text.at(i);
                ++i;
            }
            if (i >= n)
                return false;
            ++i;
            if (i < n && !isSpace(text.at(i)))
                return false;
        } else {
            while (i < n && !isSpace(text.at(i))) {
                if (text.at(i) == QLatin1Char('\\') && i + 1 < n)
                    element += unescape(text.at(++i));
                else
                    element += text.at(i);
                ++i;
            }
        }
        elements->append(element);
    }
}

QString quoteElement(const QString& element)
{
    if (element.isEmpty())
        return QStringLiteral("{}");
    bool plain = true;
    int depth = 0;
    bool balanced = true;
    for (QChar c : element) {
        if (isSpace(c) || QStringLiteral("{}[]$\";\\").contains(c))
            plain = false;
        if (c == QLatin1Char('{'))
            ++depth;
        else if (c == QLatin1Char('}') && --depth < 0)
            balanced = false;
    }
    if (plain && element.at(0) != QLatin1Char('#'))
        return element;
    if (balanced && depth == 0 && !element.endsWith(QLatin1Char('\\')) && !element.contains(QLatin1Char('\\')))
        return QLatin1Char('{') + element + QLatin1Char('}');
    QString escaped;
    for (QChar c : element) {
        if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            escaped += QLatin1String("\\r");
        else {
            if (isSpace(c) || QStringLiteral("{}[]$\";\\#").contains(c))
                escaped += QLatin1Char('\\');
            escaped += c;
        }
    }
    return escaped;
}

QString joinList(const QStringList& elements)
{
    QStringList quoted;
    for (const QString& e : elements)
        quoted << quoteElement(e);
    return quoted.join(QLatin1Char(' '));
}

bool parse(const QString& realName, Pairs* pairs)
{
    QStringList elements;
    if (!splitList(realName, &elements) || elements.size() % 2 != 0)
        return false;
    for (int i = 0; i < elements.size(); i += 2)
        pairs->append(qMakePair(elements.at(i), elements.at(i + 1)));
    return true;
}

QString format(const Pairs& pairs)
{
    QStringList elements;
    for (const auto& pair : pairs)
        elements << pair.first << pair.second;
    return joinList(elements);
}

} // namespace RealName
