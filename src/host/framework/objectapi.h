// The framework's object lookup functions. Each takes a script context, reads its arguments from it and
// leaves a result or an error in it; scripts reach them through the language's commands.
//
// Object names: an argument that holds an object is that object; any other text is a symbolic name of
// the object map (":Address Book.OK_Button") or a real name (a list of property/value pairs, see
// realname.h). A lookup finds the first object whose real name matches in the application's tree.
#pragma once

#include "object.h"
#include "scriptcontext.h"

#include <QString>

class RunnerInterface;

// Polls until the object exists and is ready (visible and enabled), or the timeout passes.
// Arguments: name ?timeoutMilliseconds?
int waitForObject(ScriptContext* context);
// As waitForObject, but existing is enough.
int waitForObjectExists(ScriptContext* context);
// An item inside a container object, by text or by index. Arguments: container item ?timeoutMilliseconds?
int waitForObjectItem(ScriptContext* context);
// Every object that matches the name, as a list (empty when none does). Arguments: name
int findAllObjects(ScriptContext* context);

int objectChildren(ScriptContext* context);
int objectParent(ScriptContext* context);
int objectTopLevelObjects(ScriptContext* context);
int objectProperties(ScriptContext* context);
int objectGlobalBounds(ScriptContext* context);
int objectCreateNull(ScriptContext* context);
int objectConvertTo(ScriptContext* context);
int objectGrabScreenshot(ScriptContext* context);

// The default timeout of the waiting functions, in milliseconds.
const int defaultObjectTimeout = 20000;

// Resolves a name text (symbolic or real) to the real name it stands for.
QString resolveObjectName(const QString& name);

// Keeps the object model in use for the lifetime of a command; nested holders are cheap.
class RemoteObjectModelHolder {
public:
    explicit RemoteObjectModelHolder(RunnerInterface* runner);
    ~RemoteObjectModelHolder();
    static int depth();

private:
    RunnerInterface* runner;
};

// Reports the use of a deprecated method as a warning of the running test.
void logDeprecationWarning(const QString& text);
// The texts of the objects joined by the separator.
QString joinArguments(const ObjectList& arguments, const QString& separator);
