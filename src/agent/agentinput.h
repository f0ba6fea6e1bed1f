// Input to the application as a user gives it (agentinput.cpp).
#pragma once

#include <QJsonObject>
#include <QString>

class AgentObjects;

namespace AgentInput {

// Carries out an input request: "action" is press, release, move, click, doubleClick, drag, wheel,
// key, keyPress, keyRelease, type, choose or close; "object" the object's id (none: screen coordinates or the
// focused window); "x", "y" relative to the object (its middle when left out) or on the screen;
// "button" and "modifiers" as scripts give them; "toX", "toY" where a drag ends, relative to where it
// starts; "delta" the wheel's notches; "key" a key name; "text" what to type; "items" what to choose.
// False with a reason when the input cannot be given.
bool perform(AgentObjects* objects, const QJsonObject& request, QString* error);

} // namespace AgentInput
