// Items of Qt Quick scenes (QML user interfaces). The agent does not link Qt Quick, which most programs
// never load: an item is told by its meta-object, its properties are read as any object's, and the few
// functions of Qt Quick it needs (the item's window, its mapping to the scene, giving it the focus) are
// looked up in the program at run time.
#pragma once

#include <QRect>

class QObject;
class QWindow;

namespace AgentQuick {

// Whether the object is a Qt Quick item (a QQuickItem or of a class derived from it).
bool isItem(const QObject* object);
// The window the item is shown in, or null (not in a scene, or Qt Quick's functions missing).
QWindow* windowOf(QObject* item);
// Shown and enabled, as Qt Quick reckons it (its ancestors count), in a window that is shown.
bool isReady(QObject* item);
// The item's bounding rectangle on the screen (its transformations applied); false when it is not
// shown.
bool bounds(QObject* item, QRect* rect);
// Gives the item the keyboard focus within its scope chain, as a click would; false when it cannot.
bool focus(QObject* item);

} // namespace AgentQuick
