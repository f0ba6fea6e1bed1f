// Reading and writing the tool's INI-style settings files.
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace Tarvin {

namespace {

// The normalisation applied to keys and prefixes that callers pass (stored keys stay as read).
QString normalizedKey(QString key)
{
    if (key.startsWith(QLatin1Char('/')))
        key.remove(0, 1);
    if (key.endsWith(QLatin1Char('/')))
        key.chop(1);
    key.replace(QLatin1Char('='), QLatin1Char('_'));
    key.replace(QLatin1String("//"), QLatin1String("/"));
    return key;
}

// A line of the file as a warning shows it: control characters (an escape sequence would reach the
// terminal) and other unprintable ones as \xHH or \uHHHH, and at most 120 characters of it.
QString printableLine(const QString& line)
{
    QString shown;
    for (const QChar c : line.left(120)) {
        if (c.isPrint() || c == QLatin1Char(' '))
            shown += c;
        else if (c.unicode() < 0x100)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    if (line.size() > 120)
        shown += QStringLiteral("...");
    return shown;
}

} // namespace

QString Settings::installationDirectory()
{
    const QString prefix = qEnvironmentVariable("TARVIN_PREFIX");
#ifdef Q_OS_WIN
    return prefix + QLatin1String("\\etc");
#else
    return prefix + QLatin1String("/etc");
#endif
}

QString Settings::installationFileName(int file)
{
    switch (file) {
    case 0:
        return QStringLiteral("tarvin.ini");
    case 1:
        return QStringLiteral("paths.ini");
    default:
        return QString();
    }
}

Settings::Settings(int file) : path(installationDirectory() + QLatin1Char('/') + installationFileName(file))
{
    parse();
}

Settings::Settings(const QString& directory, const QString& fileName)
    : path(directory + QLatin1Char('/') + fileName)
{
    parse();
}

Settings::~Settings()
{
    if (modified)
        flush();
}

void Settings::parse()
{
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning("Tarvin::Settings::parse: could not open file `%s' for reading", path.toLocal8Bit().constData());
        return;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QString groupName;
    bool inGroup = false;
    int lineNumber = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            groupName = line.mid(1);
            if (groupName.endsWith(QLatin1Char(']')))
                groupName.chop(1);
            groups.insert(groupName, Group()); // a repeated header starts the group afresh
            inGroup = true;
            continue;
        }
        if (!inGroup) {
            qWarning("Tarvin::Settings::parse: in file %s: line `%s' not in a group (line %d)", qUtf8Printable(path),
                     qUtf8Printable(printableLine(line)), lineNumber);
            return;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            qWarning("Tarvin::Settings::parse: in file %s: corrupted line `%s' in group `%s' (line %d)",
                     qUtf8Printable(path), qUtf8Printable(printableLine(line)), qUtf8Printable(printableLine(groupName)),
                     lineNumber);
            return;
        }
        groups[groupName].insert(line.left(eq).trimmed(), line.mid(eq + 1));
    }
}

bool Settings::flush()
{
    const QFileInfo info(path);
    QDir dir = info.dir();
    if (!dir.exists() && !dir.mkpath(QStringLiteral("."))) {
        qWarning("Tarvin::Settings::flush: could not create directory `%s'.", qUtf8Printable(dir.path()));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qWarning("Tarvin::Settings::flush: could not open file `%s' for writing", qUtf8Printable(path));
        return false;
    }
    QTextStream out(&file);
    out.setCodec("UTF-8");
    for (auto g = groups.constBegin(); g != groups.constEnd(); ++g) {
        out << '[' << g.key() << "]\n";
        for (auto e = g->constBegin(); e != g->constEnd(); ++e)
            out << e.key() << " = " << e.value().trimmed() << '\n';
        out << '\n';
    }
    out.flush();
    modified = false;
    return file.error() == QFile::NoError;
}

QString Settings::value(const QString& group, const QString& key, const QString& defaultValue) const
{
    auto g = groups.constFind(group);
    if (g == groups.constEnd())
        return defaultValue;
    auto e = g->constFind(normalizedKey(key));
    if (e == g->constEnd())
        return defaultValue;
    QString text = e.value();
    return unquoteString(text) ? text : defaultValue;
}

QStringList Settings::childKeys(const QString& group, const QString& prefix) const
{
    QStringList keys;
    auto g = groups.constFind(group);
    if (g == groups.constEnd())
        return keys;
    QString p = normalizedKey(prefix);
    if (!p.isEmpty())
        p += QLatin1Char('/');
    for (auto e = g->constBegin(); e != g->constEnd(); ++e) {
        if (!e.key().startsWith(p))
            continue;
        const QString rest = e.key().mid(p.size());
        if (!rest.contains(QLatin1Char('/')))
            keys.append(rest);
    }
    return keys;
}

bool Settings::unquoteString(QString& text) const
{
    QStringList strings;
    const bool ok = unquoteStringList(text, strings);
    if (ok && strings.size() == 1) {
        text = strings.first();
        return true;
    }
    if (ok)
        qWarning("Tarvin::Settings: entry is not a string in %s", qUtf8Printable(path));
    return false;
}

bool Settings::unquoteStringList(const QString& text, QStringList& out) const
{
    enum { Outside, Inside, Escape } state = Outside;
    QString current;
    for (const QChar c : text) {
        switch (state) {
        case Outside:
            if (c == QLatin1Char('"')) {
                current.clear();
                state = Inside;
            }
            break;
        case Inside:
            if (c == QLatin1Char('"')) {
                out.append(current);
                state = Outside;
            } else if (c == QLatin1Char('\\')) {
                state = Escape;
            } else {
                current += c;
            }
            break;
        case Escape:
            if (c.unicode() > 255) {
                qWarning("Tarvin::Settings: unknown quoted character with hex code 0x%x in %s", c.unicode(),
                         qUtf8Printable(path));
                return false;
            }
            switch (c.toLatin1()) {
            case '"':
                current += QLatin1Char('"');
                break;
            case '\\':
                current += QLatin1Char('\\');
                break;
            case 'n':
                current += QLatin1Char('\n');
                break;
            case 'r':
                current += QLatin1Char('\r');
                break;
            case 't':
                current += QLatin1Char('\t');
                break;
            default:
                qWarning("Tarvin::Settings: unknown quoted character '%c' (0x%x) in %s", c.toLatin1(), c.unicode(),
                         qUtf8Printable(path));
                return false;
            }
            state = Inside;
            break;
        }
    }
    if (state != Outside) {
        qWarning("Tarvin::Settings: string not delimited by quotes in %s", qUtf8Printable(path));
        return false;
    }
    return true;
}

} // namespace Tarvin
