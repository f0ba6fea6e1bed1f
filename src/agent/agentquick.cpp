#include "agentquick.h"

#include <QObject>
#include <QPointF>
#include <QVariant>
#include <QWindow>

#include <dlfcn.h>

#include <algorithm>

namespace {

// QQuickItem's own functions, as the program's Qt Quick library exports them. They are non-virtual
// members of a class whose QObject part comes first, so the object's address is the item's, passed
// where a member function takes `this`.
struct QuickFunctions {
    using Window = QWindow* (*)(const void* item);
    using MapToScene = QPointF (*)(const void* item, const QPointF& point);
    using ForceActiveFocus = void (*)(void* item);
    Window window = nullptr;
    MapToScene mapToScene = nullptr;
    ForceActiveFocus forceActiveFocus = nullptr;

    QuickFunctions()
    {
        window = reinterpret_cast<Window>(dlsym(RTLD_DEFAULT, "_ZNK10QQuickItem6windowEv"));
        mapToScene = reinterpret_cast<MapToScene>(dlsym(RTLD_DEFAULT, "_ZNK10QQuickItem10mapToSceneERK7QPointF"));
        forceActiveFocus = reinterpret_cast<ForceActiveFocus>(dlsym(RTLD_DEFAULT, "_ZN10QQuickItem16forceActiveFocusEv"));
    }
};

// Looked up on first use: Qt Quick is loaded by then, when the program has any item.
const QuickFunctions& quick()
{
    static const QuickFunctions functions;
    return functions;
}

} // namespace

namespace AgentQuick {

bool isItem(const QObject* object)
{
    return object && object->inherits("QQuickItem");
}

QWindow* windowOf(QObject* item)
{
    if (!isItem(item) || !quick().window)
        return nullptr;
    return quick().window(item);
}

bool isReady(QObject* item)
{
    QWindow* window = windowOf(item);
    return window && window->isVisible() && item->property("visible").toBool() && item->property("enabled").toBool();
}

bool bounds(QObject* item, QRect* rect)
{
    QWindow* window = windowOf(item);
    if (!window || !window->isVisible() || !item->property("visible").toBool() || !quick().mapToScene)
        return false;
    const qreal width = item->property("width").toReal();
    const qreal height = item->property("height").toReal();
    // The scene is the window's content: scene coordinates are the window's.
    qreal left = 0, top = 0, right = 0, bottom = 0;
    bool first = true;
    for (const QPointF corner : {QPointF(0, 0), QPointF(width, 0), QPointF(0, height), QPointF(width, height)}) {
        const QPointF p = quick().mapToScene(item, corner);
        left = first ? p.x() : std::min(left, p.x());
        top = first ? p.y() : std::min(top, p.y());
        right = first ? p.x() : std::max(right, p.x());
        bottom = first ? p.y() : std::max(bottom, p.y());
        first = false;
    }
    const QPoint origin = window->mapToGlobal(QPoint(0, 0));
    *rect = QRectF(left + origin.x(), top + origin.y(), right - left, bottom - top).toAlignedRect();
    return true;
}

bool focus(QObject* item)
{
    if (!isItem(item) || !quick().forceActiveFocus)
        return false;
    quick().forceActiveFocus(item);
    return true;
}

} // namespace AgentQuick
