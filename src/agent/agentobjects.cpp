// Objects of the application as the agent hands them out: ids, the tree, real names and lookups.
// Classes, properties, methods and values are in agentclasses.cpp.
#include "agentobjects.h"

#include "agentquick.h"

#include "realname.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMetaProperty>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstring>

const char AgentObjects::itemClassName[] = "ModelItem";

namespace {

using Pairs = QList<QPair<QString, QString>>;

bool truthText(const QString& text, bool* value)
{
    const QString t = text.toLower();
    if (t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("on"))
        *value = true;
    else if (t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("off"))
        *value = false;
    else
        return false;
    return true;
}

// A texts's value in a real name matches booleans however a script spells them.
bool textMatches(const QString& text, const QString& value)
{
    bool a, b;
    if (truthText(text, &a) && truthText(value, &b) && (text == QLatin1String("true") || text == QLatin1String("false")))
        return a == b;
    return RealName::valueMatches(text, value);
}

// The class of a type QML made for a component ("Button_QMLTYPE_5", "Main_QMLTYPE_0"), whose number
// depends on the order the program loaded them; its QML name is before the mark.
int qmlTypeMark(const char* className)
{
    const char* mark = strstr(className, "_QMLTYPE_");
    if (!mark)
        mark = strstr(className, "_QML_");
    return mark ? int(mark - className) : -1;
}

// A type matches the object's class or a base, by its C++ name or, for Qt Quick's types, by the name
// QML gives it: `Button` for QQuickButton, `Main` for the component Main.qml (Main_QMLTYPE_0). Every
// object of the tree is tried: the comparisons stop at the first character that differs.
bool inheritsClass(const QObject* object, const QString& className)
{
    const int length = className.size();
    for (const QMetaObject* m = object->metaObject(); m; m = m->superClass()) {
        const char* name = m->className();
        if (className == QLatin1String(name))
            return true;
        if (name[0] == 'Q' && name[1] == 'Q' && strncmp(name, "QQuick", 6) == 0 && className == QLatin1String(name + 6))
            return true;
        int i = 0;
        while (i < length && name[i] && className.at(i) == QLatin1Char(name[i]))
            ++i;
        if (i == length && length > 0 && name[i] == '_' && qmlTypeMark(name) == length)
            return true;
    }
    return false;
}

// What holds an object on the screen: a widget's or a window's parent; for a Qt Quick item the item
// it is drawn in, and the window of the scene at its root (a window declared inside another one in
// QML is that one's child, its items are not).
QObject* containerOf(QObject* object)
{
    if (!object->isWidgetType() && !object->isWindowType() && AgentQuick::isItem(object)) {
        if (QObject* parent = object->property("parent").value<QObject*>())
            return parent;
        return AgentQuick::windowOf(object);
    }
    return object->parent();
}

// The class a real name gives: not a numbered type of QML's own but the class it is made from, the
// same in every run of the program.
QString stableClassName(const QObject* object)
{
    const QMetaObject* m = object->metaObject();
    while (m->superClass() && qmlTypeMark(m->className()) >= 0)
        m = m->superClass();
    return QString::fromLatin1(m->className());
}

QString withoutMnemonic(QString text)
{
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

QAbstractItemModel* modelOf(QObject* owner, int* column)
{
    *column = 0;
    // A header's model is the view's: its cells are the view's items, not the header's.
    if (qobject_cast<QHeaderView*>(owner))
        return nullptr;
    if (auto* view = qobject_cast<QAbstractItemView*>(owner))
        return view->model();
    if (auto* combo = qobject_cast<QComboBox*>(owner)) {
        *column = combo->modelColumn();
        return combo->model();
    }
    return nullptr;
}

// Depth first through the model, rows in order, every column of a row before its children.
QModelIndex searchModel(const QAbstractItemModel* model, const QModelIndex& parent, const QString& text,
                        int onlyColumn, bool recurse)
{
    const int rows = model->rowCount(parent);
    const int columns = model->columnCount(parent);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (onlyColumn >= 0 && c != onlyColumn)
                continue;
            const QModelIndex index = model->index(r, c, parent);
            if (RealName::valueMatches(index.data(Qt::DisplayRole).toString(), text))
                return index;
        }
        if (recurse) {
            const QModelIndex first = model->index(r, 0, parent);
            if (model->hasChildren(first)) {
                const QModelIndex found = searchModel(model, first, text, onlyColumn, true);
                if (found.isValid())
                    return found;
            }
        }
    }
    return QModelIndex();
}

QList<QAction*> actionsOf(QObject* container)
{
    if (auto* widget = qobject_cast<QWidget*>(container))
        return widget->actions();
    return QList<QAction*>();
}

} // namespace

AgentObjects::AgentObjects() = default;

quint64 AgentObjects::registerId(QObject* object)
{
    // No connection to the object's destroyed signal: a connection costs the object a few hundred
    // bytes, which an application with many objects would feel. A guarded pointer tells when it is
    // gone; sweep() notices it.
    const quint64 id = nextId++;
    ids.insert(object, id);
    objects.insert(id, object);
    return id;
}

quint64 AgentObjects::idOf(QObject* object)
{
    if (!object)
        return 0;
    const auto it = ids.constFind(object);
    // An address can come back for a new object once the old one is gone: the old id is not its id.
    if (it != ids.constEnd() && objects.value(*it).data() == object)
        return *it;
    return registerId(object);
}

QList<quint64> AgentObjects::sweep()
{
    QList<quint64> gone;
    for (auto it = objects.begin(); it != objects.end();) {
        if (it.value().isNull()) {
            gone << it.key();
            it = objects.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = ids.begin(); it != ids.end();) {
        if (!objects.contains(it.value()))
            it = ids.erase(it);
        else
            ++it;
    }
    for (auto it = items.begin(); it != items.end();) {
        if (!it->owner || !it->index.isValid()) {
            gone << it.key();
            it = items.erase(it);
        } else {
            ++it;
        }
    }
    return gone;
}

quint64 AgentObjects::idOfItem(QObject* owner, const QModelIndex& index)
{
    idOf(owner); // the owner's deletion takes the item along
    const quint64 id = nextId++;
    items.insert(id, AgentItem{owner, QPersistentModelIndex(index)});
    return id;
}

QObject* AgentObjects::object(quint64 id) const
{
    return objects.value(id).data();
}

bool AgentObjects::item(quint64 id, AgentItem* out) const
{
    const auto it = items.constFind(id);
    if (it == items.constEnd() || !it->owner || !it->index.isValid())
        return false;
    *out = *it;
    return true;
}

QJsonObject AgentObjects::reference(QObject* object)
{
    QJsonObject ref;
    ref.insert(QStringLiteral("object"), QString::number(idOf(object)));
    ref.insert(QStringLiteral("class"), QString::fromLatin1(object->metaObject()->className()));
    return ref;
}

QJsonObject AgentObjects::itemReference(QObject* owner, const QModelIndex& index)
{
    QJsonObject ref;
    ref.insert(QStringLiteral("object"), QString::number(idOfItem(owner, index)));
    ref.insert(QStringLiteral("class"), QString::fromLatin1(itemClassName));
    return ref;
}

QList<QObject*> AgentObjects::topLevelObjects()
{
    QList<QObject*> roots;
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QList<QWidget*> fresh;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->windowType() == Qt::Desktop)
                continue;
            if (!topLevelOrder.contains(w))
                fresh << w;
            roots << w;
        }
        // The application's own list has no stable order; new windows are numbered as they are seen,
        // those that appear together by class, name and title.
        std::stable_sort(fresh.begin(), fresh.end(), [](QWidget* a, QWidget* b) {
            const QString ka = QLatin1String(a->metaObject()->className()) + QChar(1) + a->objectName() +
                               QChar(1) + a->windowTitle();
            const QString kb = QLatin1String(b->metaObject()->className()) + QChar(1) + b->objectName() +
                               QChar(1) + b->windowTitle();
            return ka < kb;
        });
        for (QWidget* w : fresh) {
            topLevelOrder.insert(w, nextOrder++);
            connect(w, &QObject::destroyed, this, [this, w] { topLevelOrder.remove(w); });
        }
        std::sort(roots.begin(), roots.end(),
                  [this](QObject* a, QObject* b) { return topLevelOrder.value(a) < topLevelOrder.value(b); });
        // Windows that are no widget's (a Qt Quick scene, a QWindow of the program's own) come after
        // the widgets, in the application's order; one that is another window's child (declared
        // inside it in QML) is found there.
        for (QWindow* w : QGuiApplication::topLevelWindows()) {
            bool held = w->inherits("QWidgetWindow");
            for (QObject* p = w->parent(); p && !held; p = p->parent())
                held = p->isWindowType() || p->isWidgetType();
            if (!held)
                roots << w;
        }
    } else if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        for (QWindow* w : QGuiApplication::topLevelWindows()) {
            bool held = false;
            for (QObject* p = w->parent(); p && !held; p = p->parent())
                held = p->isWindowType();
            if (!held)
                roots << w;
        }
    } else if (QCoreApplication::instance()) {
        roots = QCoreApplication::instance()->children();
    }
    return roots;
}

QList<QObject*> AgentObjects::children(QObject* object) const
{
    return object ? object->children() : QList<QObject*>();
}

QString AgentObjects::propertyText(QObject* object, const QString& name) const
{
    const QByteArray key = name.toUtf8();
    const QMetaObject* meta = object->metaObject();
    const int index = meta->indexOfProperty(key.constData());
    if (index >= 0) {
        const QMetaProperty property = meta->property(index);
        const QVariant value = property.read(object);
        if (property.isEnumType()) {
            const QMetaEnum e = property.enumerator();
            return QString::fromLatin1(e.isFlag() ? e.valueToKeys(value.toInt()) : QByteArray(e.valueToKey(value.toInt())));
        }
        if (value.userType() == QMetaType::Bool)
            return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        if (value.userType() == QMetaType::QString)
            return value.toString();
        return value.toString();
    }
    const QVariant dynamic = object->property(key.constData());
    return dynamic.isValid() ? dynamic.toString() : QString();
}

bool AgentObjects::matches(QObject* object, const Pairs& pairs, const QSet<QObject*>* containers) const
{
    for (const auto& pair : pairs) {
        const QString& key = pair.first;
        const QString& value = pair.second;
        if (key == QLatin1String("type")) {
            if (!inheritsClass(object, value))
                return false;
        } else if (key == QLatin1String("name")) {
            if (!RealName::valueMatches(object->objectName(), value))
                return false;
        } else if (key == QLatin1String("container")) {
            bool found = false;
            for (QObject* p = containerOf(object); p && !found; p = containerOf(p))
                found = containers && containers->contains(p);
            if (!found)
                return false;
        } else if (key == QLatin1String("occurrence")) {
            continue;
        } else if (key == QLatin1String("visible")) {
            bool wanted = true;
            auto* widget = qobject_cast<QWidget*>(object);
            const bool visible = widget ? widget->isVisible() : isReady(object);
            if (!truthText(value, &wanted) || visible != wanted)
                return false;
        } else {
            const QByteArray k = key.toUtf8();
            if (object->metaObject()->indexOfProperty(k.constData()) < 0 && !object->property(k.constData()).isValid())
                return false;
            if (!textMatches(propertyText(object, key), value))
                return false;
        }
    }
    return true;
}

void AgentObjects::collect(QObject* object, const Pairs& pairs, const QSet<QObject*>* containers,
                           QList<QObject*>* out) const
{
    if (matches(object, pairs, containers))
        out->append(object);
    for (QObject* child : object->children()) {
        // Windows (dialogs, menus) are top-level objects of their own, wherever they hang in the tree.
        if (child->isWidgetType() && static_cast<QWidget*>(child)->isWindow())
            continue;
        collect(child, pairs, containers, out);
    }
}

QList<QObject*> AgentObjects::findAll(const QString& realName, bool* ok, QString* error)
{
    Pairs pairs;
    *ok = RealName::parse(realName, &pairs) && !pairs.isEmpty();
    if (!*ok) {
        *error = QStringLiteral("Invalid real name '%1': expected a list of property/value pairs").arg(realName);
        return QList<QObject*>();
    }
    QSet<QObject*> containers;
    bool hasContainer = false, wantsVisible = false;
    int occurrence = 0;
    for (const auto& pair : pairs) {
        if (pair.first == QLatin1String("container")) {
            hasContainer = true;
            const QList<QObject*> found = findAll(pair.second, ok, error);
            if (!*ok)
                return QList<QObject*>();
            for (QObject* o : found)
                containers.insert(o);
        } else if (pair.first == QLatin1String("occurrence")) {
            occurrence = pair.second.toInt(ok);
            if (!*ok || occurrence < 1) {
                *ok = false;
                *error = QStringLiteral("Invalid occurrence '%1' in real name '%2': expected a number from 1")
                             .arg(pair.second, realName);
                return QList<QObject*>();
            }
        } else if (pair.first == QLatin1String("visible")) {
            wantsVisible = true;
        }
    }
    QList<QObject*> found;
    if (!hasContainer || !containers.isEmpty()) {
        for (QObject* root : topLevelObjects())
            collect(root, pairs, &containers, &found);
    }
    // A window can be a root and another's child at once (QML declares windows inside windows): once.
    QSet<QObject*> seen;
    found.erase(std::remove_if(found.begin(), found.end(), [&](QObject* o) {
                    if (seen.contains(o))
                        return true;
                    seen.insert(o);
                    return false;
                }),
                found.end());
    if (!wantsVisible) {
        std::stable_partition(found.begin(), found.end(), [this](QObject* o) {
            auto* widget = qobject_cast<QWidget*>(o);
            return widget ? widget->isVisible() : isReady(o);
        });
    }
    if (occurrence > 0)
        return occurrence <= found.size() ? QList<QObject*>() << found.at(occurrence - 1) : QList<QObject*>();
    return found;
}

bool AgentObjects::find(const QString& realName, bool all, QJsonArray* out, QString* error)
{
    Pairs pairs;
    if (RealName::parse(realName, &pairs)) {
        // Items: {type ModelItem container VIEW text TEXT} (or row and column).
        QString type, container, text, row, column;
        for (const auto& pair : pairs) {
            if (pair.first == QLatin1String("type"))
                type = pair.second;
            else if (pair.first == QLatin1String("container"))
                container = pair.second;
            else if (pair.first == QLatin1String("text"))
                text = pair.second;
            else if (pair.first == QLatin1String("row"))
                row = pair.second;
            else if (pair.first == QLatin1String("column"))
                column = pair.second;
        }
        if (type == QLatin1String(itemClassName)) {
            if (container.isEmpty()) {
                *error = QStringLiteral("An item's real name needs its container: %1").arg(realName);
                return false;
            }
            bool ok = true;
            const QList<QObject*> owners = findAll(container, &ok, error);
            if (!ok)
                return false;
            for (QObject* owner : owners) {
                int modelColumn = 0;
                QAbstractItemModel* model = modelOf(owner, &modelColumn);
                if (!model)
                    continue;
                QModelIndex index;
                if (!row.isEmpty())
                    index = model->index(row.toInt(), column.isEmpty() ? modelColumn : column.toInt());
                else
                    index = searchModel(model, QModelIndex(), text, column.isEmpty() ? -1 : column.toInt(), true);
                if (index.isValid()) {
                    out->append(itemReference(owner, index));
                    if (!all)
                        return true;
                }
            }
            return true;
        }
    }
    bool ok = true;
    const QList<QObject*> found = findAll(realName, &ok, error);
    if (!ok)
        return false;
    for (QObject* o : found) {
        out->append(reference(o));
        if (!all)
            break;
    }
    return true;
}

QString AgentObjects::realName(QObject* object)
{
    Pairs pairs;
    pairs << qMakePair(QStringLiteral("type"), stableClassName(object));
    if (!object->objectName().isEmpty()) {
        pairs << qMakePair(QStringLiteral("name"), object->objectName());
    } else {
        for (const char* key : {"text", "title", "windowTitle"}) {
            if (object->metaObject()->indexOfProperty(key) < 0)
                continue;
            const QString text = propertyText(object, QLatin1String(key));
            if (!text.isEmpty()) {
                pairs << qMakePair(QLatin1String(key), text);
                break;
            }
        }
    }
    // The window an object lives in names its container; a window stands on its own.
    QObject* window = nullptr;
    if (auto* widget = qobject_cast<QWidget*>(object))
        window = widget->isWindow() ? nullptr : widget->window();
    else if (AgentQuick::isItem(object))
        window = AgentQuick::windowOf(object);
    else
        for (QObject* p = object->parent(); p && !window; p = p->parent())
            if (auto* w = qobject_cast<QWidget*>(p))
                window = w->window();
    if (window && window != object)
        pairs << qMakePair(QStringLiteral("container"), realName(window));
    bool ok = true;
    QString error;
    const QList<QObject*> twins = findAll(RealName::format(pairs), &ok, &error);
    const int place = twins.indexOf(object);
    if (twins.size() > 1 && place >= 0)
        pairs << qMakePair(QStringLiteral("occurrence"), QString::number(place + 1));
    return RealName::format(pairs);
}

QString AgentObjects::itemRealName(const AgentItem& item)
{
    Pairs pairs;
    pairs << qMakePair(QStringLiteral("type"), QString::fromLatin1(itemClassName));
    pairs << qMakePair(QStringLiteral("container"), realName(item.owner));
    const QString text = item.index.data(Qt::DisplayRole).toString();
    int column = 0;
    QAbstractItemModel* model = modelOf(item.owner, &column);
    if (!text.isEmpty() && model && searchModel(model, QModelIndex(), text, -1, true) == QModelIndex(item.index)) {
        pairs << qMakePair(QStringLiteral("text"), text);
    } else {
        pairs << qMakePair(QStringLiteral("row"), QString::number(item.index.row()));
        pairs << qMakePair(QStringLiteral("column"), QString::number(item.index.column()));
    }
    return RealName::format(pairs);
}

bool AgentObjects::isReady(QObject* object) const
{
    if (auto* widget = qobject_cast<QWidget*>(object))
        return widget->isVisible() && widget->isEnabled();
    if (auto* window = qobject_cast<QWindow*>(object))
        return window->isVisible();
    if (auto* action = qobject_cast<QAction*>(object))
        return action->isVisible() && action->isEnabled();
    if (!object->isWindowType() && AgentQuick::isItem(object))
        return AgentQuick::isReady(object);
    return true;
}

bool AgentObjects::itemReady(const AgentItem& item) const
{
    if (!item.owner || !item.index.isValid() || !isReady(item.owner))
        return false;
    return item.index.flags() & Qt::ItemIsEnabled;
}

bool AgentObjects::bounds(QObject* object, QRect* rect) const
{
    if (AgentQuick::isItem(object))
        return AgentQuick::bounds(object, rect);
    if (auto* widget = qobject_cast<QWidget*>(object)) {
        if (!widget->isVisible())
            return false;
        *rect = QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
        return true;
    }
    if (auto* window = qobject_cast<QWindow*>(object)) {
        *rect = window->geometry();
        return window->isVisible();
    }
    if (auto* action = qobject_cast<QAction*>(object)) {
        for (QWidget* w : action->associatedWidgets()) {
            if (!w->isVisible())
                continue;
            QRect local;
            if (auto* menu = qobject_cast<QMenu*>(w))
                local = menu->actionGeometry(action);
            else if (auto* bar = qobject_cast<QMenuBar*>(w))
                local = bar->actionGeometry(action);
            else if (auto* tools = qobject_cast<QToolBar*>(w))
                local = tools->widgetForAction(action) ? tools->widgetForAction(action)->geometry() : QRect();
            if (local.isValid()) {
                *rect = QRect(w->mapToGlobal(local.topLeft()), local.size());
                return true;
            }
        }
    }
    return false;
}

bool AgentObjects::itemBounds(const AgentItem& item, QRect* rect) const
{
    QAbstractItemView* view = qobject_cast<QAbstractItemView*>(item.owner);
    if (auto* combo = qobject_cast<QComboBox*>(item.owner)) {
        view = combo->view();
        if (!view->isVisible()) {
            *rect = QRect(combo->mapToGlobal(QPoint(0, 0)), combo->size());
            return combo->isVisible();
        }
    }
    if (!view || !view->isVisible())
        return false;
    const QRect local = view->visualRect(item.index).intersected(view->viewport()->rect());
    if (!local.isValid() || local.isEmpty())
        return false;
    *rect = QRect(view->viewport()->mapToGlobal(local.topLeft()), local.size());
    return true;
}

QModelIndex AgentObjects::itemIndex(QObject* container, const QString& text) const
{
    int column = 0;
    QAbstractItemModel* model = modelOf(container, &column);
    if (!model)
        return QModelIndex();
    const bool combo = qobject_cast<QComboBox*>(container);
    QModelIndex index = searchModel(model, QModelIndex(), text, combo ? column : -1, !combo);
    bool isNumber = false;
    const int row = text.toInt(&isNumber);
    if (!index.isValid() && isNumber && row >= 0 && row < model->rowCount())
        index = model->index(row, column);
    return index;
}

QJsonObject AgentObjects::findItem(QObject* container, const QString& text, QString* error)
{
    int column = 0;
    if (modelOf(container, &column)) {
        const QModelIndex index = itemIndex(container, text);
        return index.isValid() ? itemReference(container, index) : QJsonObject();
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(container)) {
        for (int i = 0; i < tabs->count(); ++i)
            if (RealName::valueMatches(withoutMnemonic(tabs->tabText(i)), text))
                return reference(tabs->widget(i));
        return QJsonObject();
    }
    const QList<QAction*> actions = actionsOf(container);
    if (!actions.isEmpty() || qobject_cast<QMenu*>(container) || qobject_cast<QMenuBar*>(container)) {
        for (QAction* action : actions)
            if (!action->isSeparator() && RealName::valueMatches(withoutMnemonic(action->text()), text))
                return reference(action);
        return QJsonObject();
    }
    *error = QStringLiteral("A %1 has no items").arg(QLatin1String(container->metaObject()->className()));
    return QJsonObject();
}
