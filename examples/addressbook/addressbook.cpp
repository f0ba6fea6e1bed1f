// The address book: widgets are objects of declared classes; their behaviour lives in AddressBookApp.
#include "addressbook.h"

#include "application.h"
#include "builder.h"

#include <QStringList>

namespace AddressBook {

namespace {

Inspector* inspector()
{
    return Inspector::self();
}

// A widget: shown or hidden, enabled or not, with a place on the screen. It is ready when it and all
// its ancestors are shown and enabled.
class Widget : public Object {
public:
    Widget(const QString& className, const QString& name, int x, int y, int w, int h)
        : Object(inspector()->classByName(className)), geometry{x, y, w, h}
    {
        setName(name);
    }

    bool visible = true;
    bool enabled = true;
    QString label; // the text or title
    std::function<void()> onClick;
    int geometry[4];
    bool pressed = false; // the left button went down on the widget and has not come up yet

    // A press of the left button followed by its release on the widget clicks it. Presses and releases
    // raise "QMouseEvent"; moves raise it only while the left button is down or the widget's class has
    // mouse tracking on.
    bool mouseEvent(const MouseInput& input) override;
    // "QMouseEvent" (as mouse input), "QKeyEvent" (typing into line edits, Space or Return on buttons)
    // and "QCloseEvent" (hides the widget; the entry dialog is cancelled).
    bool handleEvent(const QString& eventName, const ObjectList& args) override;
    bool keyEvent(const QString& type, int key, int modifiers, const QString& text);
    void close();

    bool isReady() const override
    {
        for (const Object* o = this; o; o = o->parent()) {
            auto w = dynamic_cast<const Widget*>(o);
            if (w && (!w->visible || !w->enabled))
                return false;
        }
        return true;
    }

    bool globalBounds(int* x, int* y, int* w, int* h) const override
    {
        *x = geometry[0];
        *y = geometry[1];
        for (const Object* o = parent(); o; o = o->parent())
            if (auto pw = dynamic_cast<const Widget*>(o)) {
                *x += pw->geometry[0];
                *y += pw->geometry[1];
            }
        *w = geometry[2];
        *h = geometry[3];
        return true;
    }
};

Widget* widget(Object* self)
{
    return dynamic_cast<Widget*>(self);
}

SharedPtr<Object> boolValue(bool b)
{
    return inspector()->createBool(b);
}

SharedPtr<Object> text(const QString& s)
{
    return inspector()->createPrimitive(s);
}

// Tells the handlers installed for the event that the widget handled it.
void raiseToHandlers(Object* widget, const QString& eventName, const ObjectList& args)
{
    inspector()->raiseEvent(SharedPtr<Object>(widget), eventName, args);
}

ObjectList mouseArguments(const QString& type, const MouseInput& input)
{
    return {text(type), inspector()->createInt(input.x), inspector()->createInt(input.y),
            inspector()->createInt(input.button), inspector()->createInt(input.modifiers)};
}

int intArgument(const ObjectList& args, int i)
{
    return args.value(i) ? args.at(i)->intValue() : 0;
}

QString textArgument(const ObjectList& args, int i)
{
    return args.value(i) ? args.at(i)->text() : QString();
}

enum Key { KeySpace = 0x20, KeyBackspace = 0x01000003, KeyReturn = 0x01000004 };

class AddressBookApp;
AddressBookApp* app = nullptr;

class AddressBookApp {
public:
    struct Entry {
        QString first, last, email, phone;
        QStringList fields() const { return {first, last, email, phone}; }
    };

    AddressBookApp();
    ~AddressBookApp();

    SharedPtr<Object> mainWindow, dialog;
    Widget *table, *addButton, *editButton, *removeButton, *statusBar, *okButton, *cancelButton;
    Widget* fields[4];
    QList<Entry> entries;
    int currentRow = -1;
    int editing = -1; // the row the dialog edits, -1 when it adds

    void add(const SharedPtr<Object>& parent, Widget* child) { parent->addChild(SharedPtr<Object>(child)); }
    void status(const QString& message) { statusBar->label = message; }
    void refresh();
    void openDialog(int row);
    void closeDialog();
    void accept();
    void removeSelected();
    void select(int row);
};

Widget* makeWidget(const QString& cls, const QString& name, const QString& label, int x, int y, int w, int h)
{
    auto widget = new Widget(cls, name, x, y, w, h);
    widget->label = label;
    return widget;
}

AddressBookApp::AddressBookApp()
{
    auto main = makeWidget("MainWindow", "mainWindow", "Address Book", 100, 100, 640, 480);
    mainWindow = SharedPtr<Object>(main);

    Widget* menuBar = makeWidget("MenuBar", "menuBar", QString(), 0, 0, 640, 24);
    add(mainWindow, menuBar);
    SharedPtr<Object> menuBarObject(menuBar);
    const QList<QPair<QString, QStringList>> menus = {{"File", {"New", "Open", "Quit"}}, {"Edit", {"Add", "Remove"}}};
    int mx = 0;
    for (const auto& menu : menus) {
        Widget* m = makeWidget("Menu", menu.first.toLower() + "Menu", menu.first, mx, 0, 60, 24);
        add(menuBarObject, m);
        SharedPtr<Object> menuObject(m);
        int my = 24;
        for (const QString& item : menu.second) {
            Widget* mi = makeWidget("MenuItem", QString(), item, 0, my, 120, 24);
            add(menuObject, mi);
            my += 24;
            if (item == "New")
                mi->onClick = [this] { entries.clear(); select(-1); status("New address book"); };
            else if (item == "Open")
                mi->onClick = [this] {
                    entries = {{"Ada", "Lovelace", "ada@example.org", "+44 20 0001"},
                               {"Alan", "Turing", "alan@example.org", "+44 20 0002"},
                               {"Grace", "Hopper", "grace@example.org", "+1 202 0003"}};
                    select(-1);
                    status("Opened 3 entries");
                };
            else if (item == "Quit")
                mi->onClick = [this] { widget(mainWindow.get())->visible = false; status("Quit"); };
            else if (item == "Add")
                mi->onClick = [this] { openDialog(-1); };
            else if (item == "Remove")
                mi->onClick = [this] { removeSelected(); };
        }
        mx += 60;
    }

    table = makeWidget("Table", "entries", QString(), 10, 34, 500, 380);
    add(mainWindow, table);
    addButton = makeWidget("PushButton", "addButton", "Add", 530, 34, 100, 30);
    editButton = makeWidget("PushButton", "editButton", "Edit", 530, 74, 100, 30);
    removeButton = makeWidget("PushButton", "removeButton", "Remove", 530, 114, 100, 30);
    for (Widget* b : {addButton, editButton, removeButton})
        add(mainWindow, b);
    addButton->onClick = [this] { openDialog(-1); };
    editButton->onClick = [this] { openDialog(currentRow); };
    removeButton->onClick = [this] { removeSelected(); };
    statusBar = makeWidget("StatusBar", "statusBar", "Ready", 0, 456, 640, 24);
    add(mainWindow, statusBar);

    auto dlg = makeWidget("Dialog", "entryDialog", "Add Entry", 200, 200, 320, 220);
    dlg->visible = false;
    dialog = SharedPtr<Object>(dlg);
    const char* const names[] = {"firstName", "lastName", "email", "phone"};
    for (int i = 0; i < 4; ++i) {
        fields[i] = makeWidget("LineEdit", names[i], QString(), 10, 10 + 34 * i, 300, 26);
        add(dialog, fields[i]);
    }
    okButton = makeWidget("PushButton", "okButton", "OK", 110, 180, 90, 30);
    cancelButton = makeWidget("PushButton", "cancelButton", "Cancel", 220, 180, 90, 30);
    add(dialog, okButton);
    add(dialog, cancelButton);
    okButton->onClick = [this] { accept(); };
    cancelButton->onClick = [this] { closeDialog(); status("Cancelled"); };

    inspector()->addTopLevelObject(mainWindow);
    inspector()->addTopLevelObject(dialog);
    select(-1);
}

// Scripts may still hold handles: the objects stay, marked as gone, and do nothing any more.
void retire(Object* o)
{
    o->invalidate();
    if (Widget* w = widget(o))
        w->onClick = nullptr;
    for (int i = 0; i < o->childCount(); ++i)
        retire(o->child(i).get());
}

AddressBookApp::~AddressBookApp()
{
    // Handlers belong to the running application: they end with it.
    inspector()->clearEventHandlers();
    for (Object* o : {mainWindow.get(), dialog.get()}) {
        retire(o);
        inspector()->removeTopLevelObject(o);
    }
}

// The table's children are its cells, made anew on every change; the old ones are invalidated.
void AddressBookApp::refresh()
{
    while (table->childCount() > 0) {
        SharedPtr<Object> cell = table->child(0);
        cell->invalidate();
        table->removeChild(cell.get());
    }
    SharedPtr<Object> tableObject(table);
    for (int r = 0; r < entries.size(); ++r) {
        const QStringList values = entries.at(r).fields();
        for (int c = 0; c < values.size(); ++c) {
            Widget* cell = makeWidget("TableItem", QString(), values.at(c), 125 * c, 24 * (r + 1), 125, 24);
            cell->setValue("row", inspector()->createInt(r));
            cell->setValue("column", inspector()->createInt(c));
            const int row = r;
            cell->onClick = [this, row] { select(row); };
            add(tableObject, cell);
        }
    }
    editButton->enabled = removeButton->enabled = currentRow >= 0;
}

void AddressBookApp::select(int row)
{
    currentRow = row >= 0 && row < entries.size() ? row : -1;
    refresh();
}

void AddressBookApp::openDialog(int row)
{
    if (row >= entries.size())
        return;
    editing = row;
    auto dlg = widget(dialog.get());
    dlg->label = row < 0 ? "Add Entry" : "Edit Entry";
    const QStringList values = row < 0 ? QStringList{"", "", "", ""} : entries.at(row).fields();
    for (int i = 0; i < 4; ++i)
        fields[i]->label = values.at(i);
    dlg->visible = true;
    widget(mainWindow.get())->enabled = false; // modal
}

void AddressBookApp::closeDialog()
{
    widget(dialog.get())->visible = false;
    widget(mainWindow.get())->enabled = true;
    raiseToHandlers(dialog.get(), "QCloseEvent", {});
}

void AddressBookApp::accept()
{
    Entry e{fields[0]->label, fields[1]->label, fields[2]->label, fields[3]->label};
    if (e.first.trimmed().isEmpty() && e.last.trimmed().isEmpty()) {
        status("A first or last name is required");
        return;
    }
    if (editing >= 0) {
        entries[editing] = e;
        status(QString("Updated %1 %2").arg(e.first, e.last));
    } else {
        entries.append(e);
        status(QString("Added %1 %2").arg(e.first, e.last));
    }
    closeDialog();
    refresh();
}

void AddressBookApp::removeSelected()
{
    if (currentRow < 0)
        return;
    const Entry e = entries.takeAt(currentRow);
    status(QString("Removed %1 %2").arg(e.first, e.last));
    select(-1);
}

// Whether the user could work with the widget now; the reason in the inspector's last error if not.
bool usable(Widget* w)
{
    if (w->isInvalid()) {
        inspector()->setLastError(QString("%1 '%2' no longer exists").arg(w->className(), w->label));
        return false;
    }
    if (!w->isReady()) {
        inspector()->setLastError(QString("%1 '%2' is not ready (hidden or disabled)").arg(w->className(), w->label));
        return false;
    }
    return true;
}

SharedPtr<Object> clickWidget(Object* self, const ObjectList&)
{
    Widget* w = widget(self);
    if (!usable(w))
        return SharedPtr<Object>();
    if (w->onClick)
        w->onClick();
    return inspector()->createVoid();
}

bool Widget::mouseEvent(const MouseInput& input)
{
    const int leftButton = 1;
    if (input.type == MouseInput::Move) {
        if (pressed || inspector()->isMouseTracked(this))
            raiseToHandlers(this, "QMouseEvent", mouseArguments("MouseMove", input));
        return true;
    }
    if (!usable(this)) {
        pressed = false;
        return false;
    }
    if (input.type == MouseInput::Press) {
        pressed = input.button & leftButton;
        raiseToHandlers(this, "QMouseEvent", mouseArguments("MouseButtonPress", input));
        return true;
    }
    const bool click = pressed && (input.button & leftButton);
    pressed = false;
    raiseToHandlers(this, "QMouseEvent", mouseArguments("MouseButtonRelease", input));
    if (click && onClick && !isInvalid())
        onClick(); // may retire this widget: nothing of it is used afterwards
    return true;
}

bool Widget::handleEvent(const QString& eventName, const ObjectList& args)
{
    if (eventName == QLatin1String("QMouseEvent")) {
        const QString type = textArgument(args, 0);
        MouseInput input;
        input.x = intArgument(args, 1);
        input.y = intArgument(args, 2);
        input.button = intArgument(args, 3);
        input.modifiers = intArgument(args, 4);
        if (type == QLatin1String("MouseButtonPress")) {
            input.type = MouseInput::Press;
        } else if (type == QLatin1String("MouseButtonRelease")) {
            input.type = MouseInput::Release;
        } else if (type == QLatin1String("MouseMove")) {
            input.type = MouseInput::Move;
        } else {
            inspector()->setLastError(QString("Unknown mouse event type '%1': expected MouseButtonPress, "
                                              "MouseButtonRelease or MouseMove")
                                          .arg(type));
            return false;
        }
        return mouseEvent(input);
    }
    if (eventName == QLatin1String("QKeyEvent"))
        return keyEvent(textArgument(args, 0), intArgument(args, 1), intArgument(args, 2),
                        textArgument(args, 3));
    if (eventName == QLatin1String("QCloseEvent")) {
        close();
        return true;
    }
    return Object::handleEvent(eventName, args);
}

bool Widget::keyEvent(const QString& type, int key, int modifiers, const QString& typed)
{
    if (type != QLatin1String("KeyPress") && type != QLatin1String("KeyRelease")) {
        inspector()->setLastError(
            QString("Unknown key event type '%1': expected KeyPress or KeyRelease").arg(type));
        return false;
    }
    if (!usable(this))
        return false;
    const ObjectList args{AddressBook::text(type), inspector()->createInt(key),
                          inspector()->createInt(modifiers), AddressBook::text(typed)};
    raiseToHandlers(this, "QKeyEvent", args);
    if (type != QLatin1String("KeyPress") || isInvalid())
        return true;
    if (className() == QLatin1String("LineEdit")) {
        if (key == KeyBackspace)
            label.chop(1);
        else if (key != KeyReturn)
            label += typed;
    } else if ((key == KeySpace || key == KeyReturn) && onClick) {
        onClick();
    }
    return true;
}

void Widget::close()
{
    if (app && this == app->dialog.get()) {
        app->closeDialog(); // raises the event itself
        app->status("Cancelled");
        return;
    }
    visible = false;
    raiseToHandlers(this, "QCloseEvent", {});
}

// A rectangle on the screen.
SharedPtr<Object> makeRect(int x, int y, int w, int h)
{
    auto rect = new Object(inspector()->classByName("Rect"), ObjectAttribute::Value());
    rect->setValue("x", inspector()->createInt(x));
    rect->setValue("y", inspector()->createInt(y));
    rect->setValue("width", inspector()->createInt(w));
    rect->setValue("height", inspector()->createInt(h));
    return SharedPtr<Object>(rect);
}

void declareClasses()
{
    ClassBuilder("Rect").property("x", "int").property("y", "int").property("width", "int").property("height", "int");

    ClassBuilder("Widget")
        .readOnlyProperty("geometry", "Rect",
                          [](Object* s) {
                              int x, y, w, h;
                              s->globalBounds(&x, &y, &w, &h);
                              return makeRect(x, y, w, h);
                          })
        .property("visible", "bool", [](Object* s) { return boolValue(widget(s)->visible); },
                  [](Object* s, const SharedPtr<Object>& v) { widget(s)->visible = v->boolValue(); return true; })
        .property("enabled", "bool", [](Object* s) { return boolValue(widget(s)->enabled); },
                  [](Object* s, const SharedPtr<Object>& v) { widget(s)->enabled = v->boolValue(); return true; })
        .readOnlyProperty("objectName", "string", [](Object* s) { return text(s->name()); })
        .readOnlyProperty("ready", "bool", [](Object* s) { return boolValue(s->isReady()); })
        .method("click", {}, clickWidget)
        .method("show", {}, [](Object* s, const ObjectList&) { widget(s)->visible = true; return inspector()->createVoid(); })
        .method("hide", {}, [](Object* s, const ObjectList&) { widget(s)->visible = false; return inspector()->createVoid(); });

    auto labelProperty = [](ClassBuilder& b, const char* name, bool writable) {
        GetterFunction get = [](Object* s) { return text(widget(s)->label); };
        SetterFunction set = [](Object* s, const SharedPtr<Object>& v) { widget(s)->label = v->text(); return true; };
        if (writable)
            b.property(name, "string", get, set);
        else
            b.readOnlyProperty(name, "string", get);
    };
    ClassBuilder mainWindow("MainWindow");
    mainWindow.base("Widget");
    labelProperty(mainWindow, "title", false);
    // Declared before their classes exist: the getters hand out the application's own widgets.
    auto declareWindowParts = [] {
        ClassBuilder::extend("MainWindow")
            .readOnlyProperty("statusBar", "StatusBar*", [](Object*) { return SharedPtr<Object>(app->statusBar); })
            .readOnlyProperty("table", "Table*", [](Object*) { return SharedPtr<Object>(app->table); });
    };
    ClassBuilder("MenuBar").base("Widget");
    ClassBuilder menu("Menu");
    menu.base("Widget");
    labelProperty(menu, "title", false);
    ClassBuilder menuItem("MenuItem");
    menuItem.base("Widget").method("trigger", {}, clickWidget);
    labelProperty(menuItem, "text", false);
    ClassBuilder button("PushButton");
    button.base("Widget");
    labelProperty(button, "text", false);
    ClassBuilder label("Label");
    label.base("Widget");
    labelProperty(label, "text", true);
    ClassBuilder statusBar("StatusBar");
    statusBar.base("Widget");
    labelProperty(statusBar, "message", false);
    ClassBuilder dialog("Dialog");
    dialog.base("Widget")
        .method("accept", {}, [](Object*, const ObjectList&) { app->accept(); return inspector()->createVoid(); })
        .method("reject", {}, [](Object*, const ObjectList&) { app->closeDialog(); return inspector()->createVoid(); });
    labelProperty(dialog, "title", false);

    // Overloads of setText show how a call picks one from the words it gets.
    ClassBuilder lineEdit("LineEdit");
    lineEdit.base("Widget")
        .method("setText", {"string"},
                [](Object* s, const ObjectList& a) { widget(s)->label = a.at(0)->text(); return inspector()->createVoid(); })
        .method("setText", {"int"},
                [](Object* s, const ObjectList& a) {
                    widget(s)->label = QString::number(a.at(0)->intValue());
                    return text("int");
                })
        .method("clear", {}, [](Object* s, const ObjectList&) { widget(s)->label.clear(); return inspector()->createVoid(); })
        .staticProperty("maxLength", "int", [](Object*) { return inspector()->createInt(255); });
    labelProperty(lineEdit, "text", true);

    ClassBuilder item("TableItem");
    item.base("Widget").property("row", "int", storedGetter("row", ClassBuilder::argument("int")), SetterFunction())
        .property("column", "int", storedGetter("column", ClassBuilder::argument("int")), SetterFunction());
    labelProperty(item, "text", false);

    ClassBuilder("Table")
        .base("Widget")
        .readOnlyProperty("rowCount", "int", [](Object*) { return inspector()->createInt(app->entries.size()); })
        .readOnlyProperty("columnCount", "int", [](Object*) { return inspector()->createInt(4); })
        .property("currentRow", "int", [](Object*) { return inspector()->createInt(app->currentRow); },
                  [](Object*, const SharedPtr<Object>& v) { app->select(v->intValue()); return true; })
        .method("selectRow", {"int"},
                [](Object*, const ObjectList& a) { app->select(a.at(0)->intValue()); return inspector()->createVoid(); })
        .method("cellText", {"int", "int"},
                [](Object*, const ObjectList& a) -> SharedPtr<Object> {
                    const int r = a.at(0)->intValue(), c = a.at(1)->intValue();
                    if (r < 0 || r >= app->entries.size() || c < 0 || c > 3) {
                        inspector()->setLastError(QString("No cell at row %1, column %2").arg(r).arg(c));
                        return SharedPtr<Object>();
                    }
                    return text(app->entries.at(r).fields().at(c));
                })
        .method("rowTexts", {"int"}, [](Object*, const ObjectList& a) -> SharedPtr<Object> {
            const int r = a.at(0)->intValue();
            if (r < 0 || r >= app->entries.size()) {
                inspector()->setLastError(QString("No row %1").arg(r));
                return SharedPtr<Object>();
            }
            return inspector()->createStringList(app->entries.at(r).fields());
        });

    declareWindowParts();

    // Event types: a mouse event (type, x and y relative to the widget, button, modifiers; the modifiers
    // may be left out), a key event (type, key code, modifiers, typed text) and a close event.
    ClassBuilder::global()
        .event("QMouseEvent", {"string", "int", "int", "int", "int"})
        .event("QKeyEvent", {"string", "int", "int", "string"})
        .event("QCloseEvent", {})
        .staticProperty("applicationName", "string", [](Object*) { return text("Address Book"); })
        .method("formatName", {"string", "string"},
                [](Object*, const ObjectList& a) { return text(a.at(1)->text() + ", " + a.at(0)->text()); })
        .method("formatName", {"string"}, [](Object*, const ObjectList& a) { return text(a.at(0)->text()); });
}

} // namespace

void registerApplication()
{
    static bool declared = false;
    if (!declared) {
        declareClasses();
        declared = true;
    }
    InProcessApplications::registerApplication(
        "demo_addressbook",
        [] {
            app = new AddressBookApp;
            return true;
        },
        [] {
            delete app;
            app = nullptr;
        });
}

} // namespace AddressBook
