// The demo application under test: a small address book built on the object model. A main window with
// a menu bar (File: New, Open, Quit; Edit: Add, Remove), a table of entries (first name, last name,
// e-mail, phone), Add/Edit/Remove buttons, a modal add/edit dialog and a status bar.
//
// It runs inside the runner's process under the application name "demo_addressbook"; its objects are found
// by real names such as {type PushButton name addButton} or {type LineEdit name firstName}.
//
// Events: "QMouseEvent" (type MouseButtonPress, MouseButtonRelease or MouseMove, x, y, button,
// modifiers), "QKeyEvent" (KeyPress or KeyRelease, key code, modifiers, text) and "QCloseEvent" can be
// sent to every widget; widgets raise them to installed handlers when they handle them, whether the
// event was sent, came as mouse input or (a close of the entry dialog) from the application itself.
#pragma once

namespace AddressBook {

// Declares the classes (once) and registers the application under the name "demo_addressbook".
void registerApplication();

} // namespace AddressBook
