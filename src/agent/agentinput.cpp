// Input to the application the way a user gives it: mouse and keyboard events enter through Qt's
// window-system interface, so that the application sees the same events, in the same order, with the
// same routing (focus, modality, popups, shortcuts) as from a real mouse and keyboard.
#include "agentinput.h"

#include "agentobjects.h"
#include "agentquick.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QTreeView>
#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

namespace {

using Sync = QWindowSystemInterface::SynchronousDelivery;

// Buttons and modifiers as scripts give them (LeftButton 1, MiddleButton 2, RightButton 4, ...;
// Control 128, Shift 256, Alt 512, Win 1024, Command 2048).
Qt::MouseButton mouseButton(int bits)
{
    if (bits & (1 | 16))
        return Qt::LeftButton;
    if (bits & 2)
        return Qt::MiddleButton;
    if (bits & (4 | 32))
        return Qt::RightButton;
    if (bits & 64)
        return Qt::XButton1;
    if (bits & 128)
        return Qt::XButton2;
    return Qt::LeftButton;
}

Qt::KeyboardModifiers keyboardModifiers(int bits)
{
    Qt::KeyboardModifiers m;
    if (bits & (128 | 2048))
        m |= Qt::ControlModifier;
    if (bits & 256)
        m |= Qt::ShiftModifier;
    if (bits & 512)
        m |= Qt::AltModifier;
    if (bits & 1024)
        m |= Qt::MetaModifier;
    return m;
}

// The buttons held down between a press and its release.
Qt::MouseButtons heldButtons;

struct Target {
    QPointer<QWindow> window;
    QPoint global;
    // The top-level widget of the window: positions inside it are mapped through the widgets, which
    // know where they are even while the window system still moves a new window into place.
    QPointer<QWidget> top;
};

QWindow* windowOf(QWidget* widget)
{
    QWidget* top = widget->window();
    return top ? top->windowHandle() : nullptr;
}

void activate(QWidget* widget)
{
    QWidget* top = widget->window();
    if (!top->isActiveWindow()) {
        top->activateWindow();
        if (QWindow* w = top->windowHandle())
            QWindowSystemInterface::handleWindowActivated(w, Qt::ActiveWindowFocusReason);
        QWindowSystemInterface::flushWindowSystemEvents();
    }
}

bool sendMouse(const Target& target, QEvent::Type type, Qt::MouseButton button, Qt::KeyboardModifiers mods)
{
    if (!target.window)
        return false;
    const QPointF local = target.top ? QPointF(target.top->mapFromGlobal(target.global))
                                     : QPointF(target.window->mapFromGlobal(target.global));
    if (type == QEvent::MouseButtonPress)
        heldButtons |= button;
    else if (type == QEvent::MouseButtonRelease)
        heldButtons &= ~button;
    QWindowSystemInterface::handleMouseEvent<Sync>(target.window, local, QPointF(target.global), heldButtons,
                                                   type == QEvent::MouseMove ? Qt::NoButton : button, type, mods);
    return true;
}

void click(const Target& target, Qt::MouseButton button, Qt::KeyboardModifiers mods, int count = 1)
{
    sendMouse(target, QEvent::MouseMove, Qt::NoButton, mods);
    for (int i = 0; i < count && target.window; ++i) {
        sendMouse(target, QEvent::MouseButtonPress, button, mods);
        sendMouse(target, QEvent::MouseButtonRelease, button, mods);
    }
}

// Where a point of an object lies: its window and the global position. Without coordinates, its middle.
bool locate(AgentObjects* objects, QObject* object, const AgentItem* item, const QJsonObject& request,
            const char* xKey, const char* yKey, Target* target, QString* error)
{
    QRect rect;
    QWidget* widget = nullptr;
    if (item) {
        if (!objects->itemBounds(*item, &rect)) {
            *error = QStringLiteral("The item is not shown on the screen");
            return false;
        }
        auto* view = qobject_cast<QAbstractItemView*>(item->owner);
        if (auto* combo = qobject_cast<QComboBox*>(item->owner))
            widget = combo->view()->isVisible() ? combo->view()->viewport() : static_cast<QWidget*>(combo);
        else if (view)
            widget = view->viewport();
    } else {
        if (!objects->bounds(object, &rect)) {
            *error = QStringLiteral("The %1 is not shown on the screen").arg(QLatin1String(object->metaObject()->className()));
            return false;
        }
        widget = qobject_cast<QWidget*>(object);
        if (auto* action = qobject_cast<QAction*>(object)) {
            for (QWidget* w : action->associatedWidgets())
                if (w->isVisible() && (qobject_cast<QMenu*>(w) || qobject_cast<QMenuBar*>(w)))
                    widget = w;
        }
    }
    const bool given = request.contains(QLatin1String(xKey)) && request.contains(QLatin1String(yKey));
    const QPoint offset = given ? QPoint(request.value(QLatin1String(xKey)).toInt(), request.value(QLatin1String(yKey)).toInt())
                                : QPoint(rect.width() / 2, rect.height() / 2);
    target->global = rect.topLeft() + offset;
    if (widget) {
        target->window = windowOf(widget);
        target->top = widget->window();
    } else if (auto* window = qobject_cast<QWindow*>(object)) {
        target->window = window;
    } else if (QWindow* scene = AgentQuick::windowOf(object)) {
        target->window = scene;
    }
    if (!target->window) {
        *error = QStringLiteral("The %1 has no window to send input to").arg(QLatin1String(object->metaObject()->className()));
        return false;
    }
    return true;
}

// The top-level window under a point of the screen, popups first.
QWindow* windowAt(const QPoint& global)
{
    if (QWidget* popup = QApplication::activePopupWidget())
        if (popup->geometry().contains(global))
            return popup->windowHandle();
    if (QWidget* modal = QApplication::activeModalWidget())
        if (modal->geometry().contains(global))
            return modal->windowHandle();
    QWindow* found = nullptr;
    for (QWindow* w : QGuiApplication::topLevelWindows())
        if (w->isVisible() && w->geometry().contains(global))
            found = w; // the later window lies above
    return found;
}

int keyForCharacter(QChar c)
{
    const ushort u = c.unicode();
    if (u >= 'a' && u <= 'z')
        return Qt::Key_A + (u - 'a');
    if (u >= 0x20 && u <= 0x7e)
        return u; // Qt's key codes of printable ASCII are the upper-case characters themselves
    if (u == '\n' || u == '\r')
        return Qt::Key_Return;
    if (u == '\t')
        return Qt::Key_Tab;
    return Qt::Key_unknown;
}

// "Return", "Ctrl+A", "Shift+Tab", "F1", "a": the key code, its modifiers and the text it types.
bool parseKey(const QString& keyText, int* key, Qt::KeyboardModifiers* mods, QString* text)
{
    if (keyText.size() == 1) {
        *key = keyForCharacter(keyText.at(0));
        *mods = keyText.at(0).isUpper() ? Qt::ShiftModifier : Qt::NoModifier;
        *text = keyText;
        return true;
    }
    const QKeySequence sequence = QKeySequence::fromString(keyText, QKeySequence::PortableText);
    if (sequence.count() != 1 || sequence[0] == Qt::Key_unknown || (sequence[0] & ~Qt::KeyboardModifierMask) == 0)
        return false;
    *key = sequence[0] & ~Qt::KeyboardModifierMask;
    *mods = Qt::KeyboardModifiers(sequence[0] & Qt::KeyboardModifierMask);
    text->clear();
    if (*key == Qt::Key_Return || *key == Qt::Key_Enter)
        *text = QStringLiteral("\r");
    else if (*key == Qt::Key_Tab)
        *text = QStringLiteral("\t");
    else if (*key == Qt::Key_Space)
        *text = QStringLiteral(" ");
    else if (*key == Qt::Key_Backspace)
        *text = QStringLiteral("\b");
    else if (*key == Qt::Key_Escape)
        *text = QStringLiteral("\x1b");
    else if (*key >= 0x20 && *key <= 0x7e && !(*mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        *text = (*mods & Qt::ShiftModifier) ? QString(QChar(*key)) : QString(QChar(*key)).toLower();
    return true;
}

QWindow* keyWindow(QObject* object, QString* error)
{
    if (auto* widget = qobject_cast<QWidget*>(object)) {
        if (!widget->isVisible()) {
            *error = QStringLiteral("The %1 is not shown on the screen").arg(QLatin1String(object->metaObject()->className()));
            return nullptr;
        }
        activate(widget);
        if (!widget->hasFocus())
            widget->setFocus(Qt::OtherFocusReason);
        return windowOf(widget);
    }
    if (auto* window = qobject_cast<QWindow*>(object))
        return window;
    if (AgentQuick::isItem(object)) {
        QWindow* window = AgentQuick::windowOf(object);
        if (!window || !AgentQuick::isReady(object)) {
            *error = QStringLiteral("The %1 is not shown on the screen").arg(QLatin1String(object->metaObject()->className()));
            return nullptr;
        }
        // As a click would: the scene's window gets the focus (a window that only holds the focus
        // window, as a transient parent does, counts as active but does not get the keys), the item
        // the scene's focus.
        if (QGuiApplication::focusWindow() != window) {
            window->requestActivate();
            QWindowSystemInterface::handleWindowActivated(window, Qt::ActiveWindowFocusReason);
            QWindowSystemInterface::flushWindowSystemEvents();
        }
        AgentQuick::focus(object);
        return window;
    }
    if (object) {
        *error = QStringLiteral("A %1 takes no keyboard input").arg(QLatin1String(object->metaObject()->className()));
        return nullptr;
    }
    // The window the keyboard would reach: an open popup, else the modal dialog (whose activation may
    // still be on its way), else the window that has the focus.
    QWindowSystemInterface::flushWindowSystemEvents();
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup->windowHandle();
    if (QWidget* modal = QApplication::activeModalWidget()) {
        activate(modal);
        return modal->windowHandle();
    }
    if (QWindow* focus = QGuiApplication::focusWindow())
        return focus;
    if (QWidget* active = QApplication::activeWindow())
        return active->windowHandle();
    *error = QStringLiteral("No window of the application has the keyboard focus");
    return nullptr;
}

void sendKey(QWindow* window, QEvent::Type type, int key, Qt::KeyboardModifiers mods, const QString& text)
{
    if (window)
        QWindowSystemInterface::handleKeyEvent<Sync>(window, type, key, mods, text);
}

QString withoutMnemonic(QString text)
{
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// Lets popups open and close: the events a click leaves queued (show, expose, timers at 0) run.
void settle()
{
    QWindowSystemInterface::flushWindowSystemEvents();
    QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
}

// Runs the application's events until the condition holds (a menu opened after its short delay), at
// most the time given; whether it holds.
template <class Condition> bool settleUntil(Condition condition, int ms = 1000)
{
    QElapsedTimer timer;
    timer.start();
    settle();
    while (!condition() && timer.elapsed() < ms) {
        QThread::msleep(5);
        settle();
    }
    return condition();
}

bool clickRect(QWidget* widget, const QRect& local, QString* error)
{
    Target target;
    target.window = windowOf(widget);
    target.top = widget->window();
    target.global = widget->mapToGlobal(local.center());
    if (!target.window) {
        *error = QStringLiteral("The %1 has no window").arg(QLatin1String(widget->metaObject()->className()));
        return false;
    }
    click(target, Qt::LeftButton, Qt::NoModifier);
    return true;
}

bool chooseInMenus(QWidget* start, const QStringList& path, QString* error)
{
    QWidget* current = start;
    for (int i = 0; i < path.size(); ++i) {
        QAction* chosen = nullptr;
        for (QAction* action : current->actions())
            if (!action->isSeparator() && (withoutMnemonic(action->text()) == path.at(i) || action->text() == path.at(i)))
                chosen = action;
        if (!chosen) {
            *error = QStringLiteral("No menu entry '%1'").arg(path.at(i));
            return false;
        }
        if (!chosen->isEnabled()) {
            *error = QStringLiteral("The menu entry '%1' is disabled").arg(path.at(i));
            return false;
        }
        QRect local;
        if (auto* bar = qobject_cast<QMenuBar*>(current))
            local = bar->actionGeometry(chosen);
        else if (auto* menu = qobject_cast<QMenu*>(current))
            local = menu->actionGeometry(chosen);
        if (!current->isVisible() || !local.isValid()) {
            *error = QStringLiteral("The menu entry '%1' is not shown").arg(path.at(i));
            return false;
        }
        if (!clickRect(current, local, error))
            return false;
        settle();
        if (i + 1 < path.size()) {
            QMenu* sub = chosen->menu();
            if (!sub) {
                *error = QStringLiteral("The menu entry '%1' opens no menu").arg(path.at(i));
                return false;
            }
            // The entry opens its menu, at once or after a moment. A submenu that stays shut is opened
            // beside its entry; a menu bar's menu that does not open is blocked (a modal dialog).
            if (!settleUntil([sub] { return sub->isVisible(); })) {
                if (qobject_cast<QMenuBar*>(current)) {
                    *error = QStringLiteral("The menu '%1' did not open: is a modal window in the way?").arg(path.at(i));
                    return false;
                }
                sub->popup(current->mapToGlobal(local.topRight()));
                settle();
            }
            current = sub;
        }
    }
    return true;
}

bool chooseInView(AgentObjects* objects, QAbstractItemView* view, const QStringList& path, QString* error)
{
    QAbstractItemModel* model = view->model();
    if (!model) {
        *error = QStringLiteral("The view has no model");
        return false;
    }
    QModelIndex index;
    if (path.size() == 1) {
        index = objects->itemIndex(view, path.first());
    } else {
        QModelIndex parent = view->rootIndex();
        for (const QString& text : path) {
            index = QModelIndex();
            for (int r = 0; r < model->rowCount(parent) && !index.isValid(); ++r)
                if (model->index(r, 0, parent).data(Qt::DisplayRole).toString() == text)
                    index = model->index(r, 0, parent);
            if (!index.isValid())
                break;
            if (auto* tree = qobject_cast<QTreeView*>(view); tree && &text != &path.last())
                tree->expand(index);
            parent = index;
        }
    }
    if (!index.isValid()) {
        *error = QStringLiteral("No item '%1'").arg(path.join(QLatin1Char('/')));
        return false;
    }
    view->scrollTo(index);
    settle();
    // The part of the item the view shows (an item can be wider than the view).
    const QRect local = view->visualRect(index).intersected(view->viewport()->rect());
    if (!local.isValid()) {
        *error = QStringLiteral("The item '%1' is not shown").arg(path.join(QLatin1Char('/')));
        return false;
    }
    return clickRect(view->viewport(), local, error);
}

bool chooseInCombo(AgentObjects* objects, QComboBox* combo, const QString& text, QString* error)
{
    const QModelIndex index = objects->itemIndex(combo, text);
    if (!index.isValid()) {
        *error = QStringLiteral("No item '%1' in the combo box").arg(text);
        return false;
    }
    if (!combo->view()->isVisible()) {
        // Opened from the keyboard (F4), as a click would open it: after a click the combo box ignores
        // a release for a double-click interval, which would swallow the quick click on the entry.
        QString why;
        if (QWindow* window = keyWindow(combo, &why)) {
            sendKey(window, QEvent::KeyPress, Qt::Key_F4, Qt::NoModifier, QString());
            sendKey(window, QEvent::KeyRelease, Qt::Key_F4, Qt::NoModifier, QString());
        }
        if (!settleUntil([combo] { return combo->view()->isVisible(); }, 500))
            combo->showPopup();
        settle();
    }
    QAbstractItemView* view = combo->view();
    view->scrollTo(index);
    const QRect local = view->visualRect(index).intersected(view->viewport()->rect());
    if (!view->isVisible() || !local.isValid()) {
        *error = QStringLiteral("The combo box's list did not open");
        return false;
    }
    return clickRect(view->viewport(), local, error);
}

} // namespace

bool AgentInput::perform(AgentObjects* objects, const QJsonObject& request, QString* error)
{
    const QString action = request.value(QStringLiteral("action")).toString();
    QObject* object = nullptr;
    AgentItem item;
    bool isItem = false;
    if (request.contains(QStringLiteral("object"))) {
        const quint64 id = request.value(QStringLiteral("object")).toString().toULongLong();
        object = objects->object(id);
        isItem = !object && objects->item(id, &item);
        if (!object && !isItem) {
            *error = QStringLiteral("The object no longer exists");
            return false;
        }
        if (isItem)
            object = item.owner;
    }
    const Qt::MouseButton button = mouseButton(request.value(QStringLiteral("button")).toInt(1));
    const Qt::KeyboardModifiers mods = keyboardModifiers(request.value(QStringLiteral("modifiers")).toInt());

    if (action == QLatin1String("press") || action == QLatin1String("release") || action == QLatin1String("move") ||
        action == QLatin1String("click") || action == QLatin1String("doubleClick") || action == QLatin1String("drag") ||
        action == QLatin1String("wheel")) {
        Target target;
        if (object) {
            if (!locate(objects, object, isItem ? &item : nullptr, request, "x", "y", &target, error))
                return false;
            if (auto* widget = qobject_cast<QWidget*>(object); widget && action != QLatin1String("move"))
                activate(widget);
        } else {
            target.global = QPoint(request.value(QStringLiteral("x")).toInt(), request.value(QStringLiteral("y")).toInt());
            target.window = windowAt(target.global);
            if (!target.window) {
                if (action == QLatin1String("move"))
                    return true;
                *error = QStringLiteral("No window of the application at %1, %2").arg(target.global.x()).arg(target.global.y());
                return false;
            }
        }
        if (action == QLatin1String("press")) {
            sendMouse(target, QEvent::MouseMove, Qt::NoButton, mods);
            sendMouse(target, QEvent::MouseButtonPress, button, mods);
        } else if (action == QLatin1String("release")) {
            sendMouse(target, QEvent::MouseButtonRelease, button, mods);
        } else if (action == QLatin1String("move")) {
            sendMouse(target, QEvent::MouseMove, Qt::NoButton, mods);
        } else if (action == QLatin1String("click")) {
            click(target, button, mods);
        } else if (action == QLatin1String("doubleClick")) {
            click(target, button, mods, 2);
        } else if (action == QLatin1String("wheel")) {
            const int steps = request.value(QStringLiteral("delta")).toInt(1);
            sendMouse(target, QEvent::MouseMove, Qt::NoButton, mods);
            const QPointF local = target.top ? QPointF(target.top->mapFromGlobal(target.global))
                                             : QPointF(target.window->mapFromGlobal(target.global));
            QWindowSystemInterface::handleWheelEvent(target.window, local, QPointF(target.global), QPoint(),
                                                     QPoint(0, 120 * steps), mods);
            QWindowSystemInterface::flushWindowSystemEvents();
        } else {
            Target end = target;
            if (!request.contains(QStringLiteral("toX")) || !request.contains(QStringLiteral("toY"))) {
                *error = QStringLiteral("A drag needs the point where it ends");
                return false;
            }
            end.global = target.global + QPoint(request.value(QStringLiteral("toX")).toInt(), request.value(QStringLiteral("toY")).toInt());
            sendMouse(target, QEvent::MouseMove, Qt::NoButton, mods);
            sendMouse(target, QEvent::MouseButtonPress, button, mods);
            const int steps = 8;
            for (int i = 1; i <= steps; ++i) {
                Target step = target;
                step.global = target.global + (end.global - target.global) * i / steps;
                sendMouse(step, QEvent::MouseMove, Qt::NoButton, mods);
            }
            end.window = target.window;
            sendMouse(end, QEvent::MouseButtonRelease, button, mods);
        }
        return true;
    }

    if (action == QLatin1String("key") || action == QLatin1String("keyPress") || action == QLatin1String("keyRelease")) {
        int key = 0;
        Qt::KeyboardModifiers keyMods;
        QString text;
        const QString keyText = request.value(QStringLiteral("key")).toString();
        if (request.contains(QStringLiteral("keyCode"))) {
            key = request.value(QStringLiteral("keyCode")).toInt();
            text = request.value(QStringLiteral("text")).toString();
        } else if (!parseKey(keyText, &key, &keyMods, &text)) {
            *error = QStringLiteral("Unknown key '%1': expected a character or a key name such as Return, Tab, "
                                    "Escape, F1, Left or Ctrl+A").arg(keyText);
            return false;
        }
        keyMods |= mods;
        QWindow* window = keyWindow(object, error);
        if (!window)
            return false;
        if (action != QLatin1String("keyRelease"))
            sendKey(window, QEvent::KeyPress, key, keyMods, text);
        if (action != QLatin1String("keyPress"))
            sendKey(window, QEvent::KeyRelease, key, keyMods, text);
        return true;
    }

    if (action == QLatin1String("type")) {
        QWindow* window = keyWindow(object, error);
        if (!window)
            return false;
        const QString text = request.value(QStringLiteral("text")).toString();
        for (QChar c : text) {
            const int key = keyForCharacter(c);
            const Qt::KeyboardModifiers m = mods | (c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier);
            const QString typed = (c == QLatin1Char('\n')) ? QStringLiteral("\r") : QString(c);
            sendKey(window, QEvent::KeyPress, key, m, typed);
            sendKey(window, QEvent::KeyRelease, key, m, typed);
        }
        return true;
    }

    if (action == QLatin1String("choose")) {
        QStringList path;
        for (const QJsonValue& v : request.value(QStringLiteral("items")).toArray())
            path << v.toString();
        if (!object || path.isEmpty()) {
            *error = QStringLiteral("Choosing needs an object and the item to choose");
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(object);
        if (!widget || !widget->isVisible()) {
            *error = QStringLiteral("The %1 is not shown on the screen").arg(QLatin1String(object->metaObject()->className()));
            return false;
        }
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            if (path.size() != 1) {
                *error = QStringLiteral("A combo box has one level of items");
                return false;
            }
            return chooseInCombo(objects, combo, path.first(), error);
        }
        if (auto* view = qobject_cast<QAbstractItemView*>(widget))
            return chooseInView(objects, view, path, error);
        if (qobject_cast<QMenuBar*>(widget) || qobject_cast<QMenu*>(widget)) {
            activate(widget);
            return chooseInMenus(widget, path, error);
        }
        if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
            for (int i = 0; i < tabs->count(); ++i)
                if (withoutMnemonic(tabs->tabText(i)) == path.first()) {
                    QTabBar* bar = tabs->findChild<QTabBar*>();
                    return bar && clickRect(bar, bar->tabRect(i), error);
                }
            *error = QStringLiteral("No tab '%1'").arg(path.first());
            return false;
        }
        *error = QStringLiteral("A %1 has no items to choose from").arg(QLatin1String(object->metaObject()->className()));
        return false;
    }

    if (action == QLatin1String("close")) {
        auto* widget = qobject_cast<QWidget*>(object);
        QWindow* window = widget ? windowOf(widget) : qobject_cast<QWindow*>(object);
        if (!window) {
            *error = QStringLiteral("Only windows can be closed");
            return false;
        }
        QWindowSystemInterface::handleCloseEvent<Sync>(window);
        return true;
    }

    *error = QStringLiteral("Unknown input '%1'").arg(action);
    return false;
}
