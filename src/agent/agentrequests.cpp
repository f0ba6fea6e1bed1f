// The requests the agent answers: lookups, the tree, classes, properties, methods, items, input and
// pictures. Each takes the request object and leaves a result or a reason.
#include "agentrequests.h"

#include "agentinput.h"
#include "agentobjects.h"
#include "agentquick.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>

namespace {

// A window's picture: a widget window's widget draws itself into it; any other window (a QRasterWindow,
// a QWindow with its own backing store) is taken from the screen, which the platform keeps for it.
QPixmap windowPicture(QWindow* window)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->windowHandle() == window)
                return widget->grab();
    QScreen* screen = window->screen();
    return screen ? screen->grabWindow(window->winId()) : QPixmap();
}

} // namespace

namespace AgentRequests {

bool handle(AgentObjects* objects, const QJsonObject& request, QJsonValue* result, QString* error)
{
    const QString op = request.value(QStringLiteral("op")).toString();
    auto target = [&](QObject** object, AgentItem* item, bool* isItem) {
        const QString text = request.value(QStringLiteral("object")).toString();
        const quint64 oid = text.toULongLong();
        *object = objects->object(oid);
        *isItem = !*object && objects->item(oid, item);
        if (*object || *isItem)
            return true;
        *error = objects->known(oid) ? QStringLiteral("gone") : QStringLiteral("No object %1").arg(text);
        return false;
    };
    QObject* object = nullptr;
    AgentItem item;
    bool isItem = false;

    if (op == QLatin1String("ping")) {
        *result = QJsonValue(true);
        return true;
    }
    if (op == QLatin1String("find")) {
        QJsonArray found;
        if (!objects->find(request.value(QStringLiteral("name")).toString(), request.value(QStringLiteral("all")).toBool(),
                           &found, error))
            return false;
        // Whether the first is ready comes along: waiting for an object takes one round trip.
        if (!found.isEmpty()) {
            QJsonObject first = found.at(0).toObject();
            const quint64 oid = first.value(QStringLiteral("object")).toString().toULongLong();
            AgentItem firstItem;
            if (QObject* o = objects->object(oid))
                first.insert(QStringLiteral("ready"), objects->isReady(o));
            else if (objects->item(oid, &firstItem))
                first.insert(QStringLiteral("ready"), objects->itemReady(firstItem));
            found.replace(0, first);
        }
        *result = found;
        return true;
    }
    if (op == QLatin1String("top")) {
        QJsonArray list;
        for (QObject* o : objects->topLevelObjects())
            list.append(objects->reference(o));
        *result = list;
        return true;
    }
    if (op == QLatin1String("describe")) {
        QSet<QString> known;
        for (const QJsonValue& v : request.value(QStringLiteral("known")).toArray())
            known.insert(v.toString());
        const QJsonArray levels = objects->describe(request.value(QStringLiteral("class")).toString(), known, error);
        if (levels.isEmpty() && !error->isEmpty())
            return false;
        *result = levels;
        return true;
    }
    if (op == QLatin1String("input"))
        return AgentInput::perform(objects, request, error);
    if (op == QLatin1String("screenshot") && !request.contains(QStringLiteral("object"))) {
        // The application's windows as they lie on the screen: widgets' windows and the windows a
        // program without widgets (QGuiApplication, QRasterWindow) draws itself.
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            *error = QStringLiteral("The application has no windows (it is not a GUI program)");
            return false;
        }
        QRect area;
        QList<QWindow*> windows;
        for (QWindow* w : QGuiApplication::topLevelWindows())
            if (w->isVisible() && w->type() != Qt::Desktop) {
                windows << w;
                area |= w->frameGeometry();
            }
        if (windows.isEmpty()) {
            *error = QStringLiteral("The application shows no window");
            return false;
        }
        QImage image(area.size(), QImage::Format_ARGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        for (QWindow* w : windows)
            painter.drawPixmap(w->geometry().topLeft() - area.topLeft(), windowPicture(w));
        painter.end();
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        image.save(&png, "PNG");
        *result = QString::fromLatin1(png.data().toBase64());
        return true;
    }

    static const QStringList objectOps = {QStringLiteral("get"), QStringLiteral("set"), QStringLiteral("invoke"),
                                          QStringLiteral("info"), QStringLiteral("children"), QStringLiteral("item"),
                                          QStringLiteral("screenshot")};
    if (!objectOps.contains(op)) {
        *error = QStringLiteral("Unknown request '%1'").arg(op);
        return false;
    }
    if (!target(&object, &item, &isItem))
        return false;
    QObject* owner = isItem ? item.owner.data() : object;
    if (owner && owner->thread() != QThread::currentThread() && op != QLatin1String("info") &&
        op != QLatin1String("children")) {
        *error = QStringLiteral("The %1 lives in another thread of the application: only objects of its main "
                                "thread can be used").arg(QLatin1String(owner->metaObject()->className()));
        return false;
    }

    if (op == QLatin1String("get")) {
        const QString name = request.value(QStringLiteral("property")).toString();
        return isItem ? objects->readItemProperty(item, name, result, error)
                      : objects->readProperty(object, name, result, error);
    }
    if (op == QLatin1String("set")) {
        const QString name = request.value(QStringLiteral("property")).toString();
        const QJsonValue value = request.value(QStringLiteral("value"));
        return isItem ? objects->writeItemProperty(item, name, value, error)
                      : objects->writeProperty(object, name, value, error);
    }
    if (op == QLatin1String("invoke")) {
        if (isItem) {
            *error = QStringLiteral("Items have no methods");
            return false;
        }
        return objects->invoke(object, request.value(QStringLiteral("method")).toString(),
                               request.value(QStringLiteral("args")).toArray(), result, error);
    }
    if (op == QLatin1String("info")) {
        QJsonObject info;
        QRect rect;
        if (isItem) {
            info.insert(QStringLiteral("name"), QString());
            info.insert(QStringLiteral("ready"), objects->itemReady(item));
            if (objects->itemBounds(item, &rect))
                info.insert(QStringLiteral("bounds"), QJsonArray{rect.x(), rect.y(), rect.width(), rect.height()});
            if (request.value(QStringLiteral("realName")).toBool())
                info.insert(QStringLiteral("realName"), objects->itemRealName(item));
            info.insert(QStringLiteral("parent"), objects->reference(item.owner));
        } else {
            info.insert(QStringLiteral("name"), object->objectName());
            info.insert(QStringLiteral("ready"), objects->isReady(object));
            if (objects->bounds(object, &rect))
                info.insert(QStringLiteral("bounds"), QJsonArray{rect.x(), rect.y(), rect.width(), rect.height()});
            if (request.value(QStringLiteral("realName")).toBool())
                info.insert(QStringLiteral("realName"), objects->realName(object));
            QObject* parent = object->parent();
            if (qobject_cast<QWidget*>(object) && static_cast<QWidget*>(object)->isWindow())
                parent = nullptr; // windows are top-level objects, whatever owns them
            info.insert(QStringLiteral("parent"), parent ? QJsonValue(objects->reference(parent)) : QJsonValue());
        }
        *result = info;
        return true;
    }
    if (op == QLatin1String("children")) {
        QJsonArray list;
        if (!isItem) {
            for (QObject* child : objects->children(object))
                list.append(objects->reference(child));
        }
        *result = list;
        return true;
    }
    if (op == QLatin1String("item")) {
        if (isItem) {
            *result = QJsonValue();
            return true;
        }
        const QJsonObject found = objects->findItem(object, request.value(QStringLiteral("text")).toString(), error);
        if (found.isEmpty() && !error->isEmpty())
            return false;
        if (found.isEmpty()) {
            *result = QJsonValue();
            return true;
        }
        QJsonObject withReady = found;
        const quint64 oid = found.value(QStringLiteral("object")).toString().toULongLong();
        AgentItem foundItem;
        if (QObject* o = objects->object(oid))
            withReady.insert(QStringLiteral("ready"), objects->isReady(o));
        else if (objects->item(oid, &foundItem))
            withReady.insert(QStringLiteral("ready"), objects->itemReady(foundItem));
        *result = withReady;
        return true;
    }
    if (op == QLatin1String("screenshot")) {
        QObject* target = isItem ? item.owner.data() : object;
        QPixmap picture;
        if (auto* widget = qobject_cast<QWidget*>(target); widget && widget->isVisible()) {
            picture = widget->grab();
        } else if (auto* window = qobject_cast<QWindow*>(target); window && window->isVisible()) {
            picture = windowPicture(window);
            if (picture.isNull()) {
                *error = QStringLiteral("The window %1 has no picture: the platform keeps none of it (OpenGL or "
                                        "Vulkan drawing?)").arg(objects->realName(window));
                return false;
            }
        } else if (QRect rect; AgentQuick::isItem(target) && AgentQuick::bounds(target, &rect)) {
            // An item of a scene: its part of the window's picture.
            QWindow* window = AgentQuick::windowOf(target);
            const QPixmap whole = windowPicture(window);
            const qreal ratio = whole.devicePixelRatio();
            const QRect local(rect.topLeft() - window->mapToGlobal(QPoint(0, 0)), rect.size());
            picture = whole.copy(QRect((QPointF(local.topLeft()) * ratio).toPoint(), (QSizeF(local.size()) * ratio).toSize()));
            if (picture.isNull()) {
                *error = QStringLiteral("The window of %1 has no picture").arg(objects->realName(target));
                return false;
            }
        } else {
            *error = QStringLiteral("Only widgets, windows and Qt Quick items that are shown have a picture");
            return false;
        }
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        picture.save(&png, "PNG");
        *result = QString::fromLatin1(png.data().toBase64());
        return true;
    }
    *error = QStringLiteral("Unknown request '%1'").arg(op);
    return false;
}

} // namespace AgentRequests
