// Gesture files: strokes of timed points, read into objects of the "Gesture" class.
#include "applicationapi.h"

#include "builder.h"
#include "interpreter.h"
#include "runnerinterface.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

struct Point {
    int time, x, y;
};

struct GestureData {
    int width = 0, height = 0;
    QList<QList<Point>> strokes;
};

class GestureObject : public Object {
public:
    GestureObject(const Class* cls, const GestureData& data) : Object(cls), data(data) {}
    GestureData data;
};

const GestureData& gestureOf(Object* object)
{
    static const GestureData empty;
    auto g = dynamic_cast<GestureObject*>(object);
    return g ? g->data : empty;
}

const Class* gestureClass()
{
    Inspector* inspector = Inspector::self();
    if (const Class* cls = inspector->classByName(QStringLiteral("Gesture")))
        return cls;
    auto intValue = [](int v) { return Inspector::self()->createInt(v); };
    ClassBuilder("Gesture")
        .readOnlyProperty("areaWidth", "int", [=](Object* s) { return intValue(gestureOf(s).width); })
        .readOnlyProperty("areaHeight", "int", [=](Object* s) { return intValue(gestureOf(s).height); })
        .readOnlyProperty("strokeCount", "int", [=](Object* s) { return intValue(gestureOf(s).strokes.size()); })
        .readOnlyProperty("pointCount", "int",
                          [=](Object* s) {
                              int n = 0;
                              for (const auto& stroke : gestureOf(s).strokes)
                                  n += stroke.size();
                              return intValue(n);
                          })
        .readOnlyProperty("duration", "int",
                          [=](Object* s) {
                              int last = 0;
                              for (const auto& stroke : gestureOf(s).strokes)
                                  last = qMax(last, stroke.last().time);
                              return intValue(last);
                          })
        .method("points", {"int"}, [](Object* s, const ObjectList& a) -> SharedPtr<Object> {
            const auto& strokes = gestureOf(s).strokes;
            const int i = a.at(0)->intValue();
            if (i < 0 || i >= strokes.size()) {
                Inspector::self()->setLastError(QStringLiteral("The gesture has no stroke %1").arg(i));
                return SharedPtr<Object>();
            }
            QStringList points;
            for (const Point& p : strokes.at(i))
                points << QStringLiteral("%1 %2 %3").arg(p.time).arg(p.x).arg(p.y);
            return Inspector::self()->createStringList(points);
        });
    return inspector->classByName(QStringLiteral("Gesture"));
}

QString findGestureFile(const QString& name, QStringList* tried)
{
    QStringList candidates{name};
    RunnerInterface* runner = Interpreter::self() ? Interpreter::self()->runner() : nullptr;
    if (runner && !runner->testScriptPath().isEmpty() && QFileInfo(name).isRelative()) {
        const QDir scriptDir = QFileInfo(runner->testScriptPath()).absoluteDir();
        candidates << scriptDir.filePath(name) << scriptDir.filePath(QStringLiteral("gestures/") + name)
                   << scriptDir.filePath(QStringLiteral("../shared/gestures/") + name);
    }
    for (const QString& candidate : candidates) {
        tried->append(QDir::cleanPath(candidate));
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}

bool readInts(const QStringList& words, int first, int count, int* out)
{
    if (words.size() != first + count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        out[i] = words.at(first + i).toInt(&ok);
        if (!ok)
            return false;
    }
    return true;
}

bool parseGesture(const QString& path, const QByteArray& text, GestureData* g, QString* error)
{
    const QList<QByteArray> lines = text.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = QString::fromUtf8(lines.at(n)).trimmed();
        auto fail = [&](const QString& why) {
            *error = QStringLiteral("%1:%2: %3").arg(path, QString::number(n + 1), why);
            return false;
        };
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.first() == QLatin1String("area")) {
            int size[2];
            if (!g->strokes.isEmpty() || g->width)
                return fail(QStringLiteral("'area' must come once, before the first stroke"));
            if (!readInts(words, 1, 2, size) || size[0] <= 0 || size[1] <= 0)
                return fail(QStringLiteral("expected 'area WIDTH HEIGHT' with positive integers"));
            g->width = size[0];
            g->height = size[1];
        } else if (words.first() == QLatin1String("stroke")) {
            if (words.size() != 1)
                return fail(QStringLiteral("'stroke' takes no values"));
            if (!g->strokes.isEmpty() && g->strokes.last().isEmpty())
                return fail(QStringLiteral("the previous stroke has no points"));
            g->strokes.append(QList<Point>());
        } else {
            int p[3];
            if (!readInts(words, 0, 3, p))
                return fail(QStringLiteral("expected a point 'TIME X Y' (integers), got '%1'").arg(line));
            if (g->strokes.isEmpty())
                return fail(QStringLiteral("a point before the first 'stroke'"));
            if (p[0] < 0 || (!g->strokes.last().isEmpty() && p[0] < g->strokes.last().last().time))
                return fail(QStringLiteral("point times must not be negative nor go backwards"));
            g->strokes.last().append(Point{p[0], p[1], p[2]});
        }
    }
    if (g->strokes.isEmpty() || g->strokes.last().isEmpty()) {
        *error = QStringLiteral("%1: a gesture needs at least one stroke with points").arg(path);
        return false;
    }
    return true;
}

} // namespace

SharedPtr<Object> readGestureByName(const QString& name, QString* error)
{
    if (name.isEmpty()) {
        *error = QStringLiteral("No gesture file given");
        return SharedPtr<Object>();
    }
    QStringList tried;
    const QString path = findGestureFile(name, &tried);
    if (path.isEmpty()) {
        *error = QStringLiteral("Gesture file '%1' not found (looked for %2)").arg(name, tried.join(QStringLiteral(", ")));
        return SharedPtr<Object>();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read gesture file '%1': %2").arg(path, file.errorString());
        return SharedPtr<Object>();
    }
    GestureData data;
    if (!parseGesture(path, file.readAll(), &data, error))
        return SharedPtr<Object>();
    return SharedPtr<Object>(new GestureObject(gestureClass(), data));
}
