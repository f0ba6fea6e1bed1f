// Tcl-style list syntax for real names, without a Tcl interpreter: braces nest and keep their content
// as written, double quotes and bare words take Tcl's backslash sequences, and the separators are
// Tcl's six white-space characters, so that scripts' list commands read real names the same way.
#include "realname.h"

#include <QRegExp>
#include <QRegularExpression>

namespace RealName {

namespace {

bool isHexDigit(QChar c, uint* value)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        *value = u - '0';
    else if (u >= 'a' && u <= 'f')
        *value = u - 'a' + 10;
    else if (u >= 'A' && u <= 'F')
        *value = u - 'A' + 10;
    else
        return false;
    return true;
}

// Appends what the backslash sequence at text[i] stands for, the way Tcl reads lists (\n, \xhh,
// \uhhhh, \Uhhhhhhhh, \ooo, backslash-newline, any other character itself); returns the index after it.
int backslash(const QString& text, int i, QString* out)
{
    const int n = text.size();
    if (i + 1 >= n) {
        out->append(QLatin1Char('\\'));
        return n;
    }
    const QChar c = text.at(i + 1);
    int j = i + 2;
    uint digit = 0;
    switch (c.unicode()) {
    case 'a':
        out->append(QChar(0x7));
        break;
    case 'b':
        out->append(QChar(0x8));
        break;
    case 'f':
        out->append(QChar(0xc));
        break;
    case 'n':
        out->append(QChar(0xa));
        break;
    case 'r':
        out->append(QChar(0xd));
        break;
    case 't':
        out->append(QChar(0x9));
        break;
    case 'v':
        out->append(QChar(0xb));
        break;
    case '\n':
        while (j < n && (text.at(j) == QLatin1Char(' ') || text.at(j) == QLatin1Char('\t')))
            ++j;
        out->append(QLatin1Char(' '));
        break;
    case 'x':
    case 'u':
    case 'U': {
        const int maxDigits = c == QLatin1Char('x') ? 2 : c == QLatin1Char('u') ? 4 : 8;
        char32_t value = 0;
        int count = 0;
        while (count < maxDigits && j < n && isHexDigit(text.at(j), &digit)) {
            if (value * 16 + digit > 0x10FFFF)
                break;
            value = value * 16 + digit;
            ++j;
            ++count;
        }
        if (count == 0)
            out->append(c);
        else
            out->append(QString::fromUcs4(&value, 1));
        break;
    }
    default:
        if (c >= QLatin1Char('0') && c <= QLatin1Char('7')) {
            // Up to three digits, the third only while the value stays within 0377.
            uint value = 0;
            j = i + 1;
            for (int count = 0; count < 3 && j < n && text.at(j) >= QLatin1Char('0') && text.at(j) <= QLatin1Char('7') &&
                                (count < 2 || value < 0x20);
                 ++count, ++j)
                value = value * 8 + (text.at(j).unicode() - '0');
            out->append(QChar(value));
        } else {
            out->append(c);
        }
    }
    return j;
}

// Tcl's list separators.
bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r') ||
           c == QChar(0xb) || c == QChar(0xc);
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
                    i = backslash(text, i, &element);
                else
                    element += text.at(i++);
            }
            if (i >= n)
                return false;
            ++i;
            if (i < n && !isSpace(text.at(i)))
                return false;
        } else {
            while (i < n && !isSpace(text.at(i))) {
                if (text.at(i) == QLatin1Char('\\'))
                    i = backslash(text, i, &element);
                else
                    element += text.at(i++);
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
        else if (c == QChar(0xb))
            escaped += QLatin1String("\\v");
        else if (c == QChar(0xc))
            escaped += QLatin1String("\\f");
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

QString readableName(const Pairs& pairs)
{
    QString label, type;
    for (const auto& pair : pairs) {
        if (pair.first == QLatin1String("type"))
            type = pair.second;
        else if (label.isEmpty() && (pair.first == QLatin1String("name") || pair.first == QLatin1String("text")))
            label = pair.second;
    }
    return label.isEmpty() ? type : label + QLatin1Char('_') + type;
}

bool valueMatches(const QString& text, const QString& value)
{
    QStringList parts;
    if (value.startsWith(QLatin1Char('-')) && RealName::splitList(value, &parts) && parts.size() == 2) {
        if (parts.at(0) == QLatin1String("-wildcard"))
            return QRegExp(parts.at(1), Qt::CaseSensitive, QRegExp::Wildcard).exactMatch(text);
        if (parts.at(0) == QLatin1String("-regularexpression"))
            return QRegularExpression(QRegularExpression::anchoredPattern(parts.at(1))).match(text).hasMatch();
    }
    return text == value;
}

} // namespace RealName
