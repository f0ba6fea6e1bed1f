// The demo application under test: a small address book built on the object model. A main window with
// a menu bar (File: New, Open, Quit; Edit: Add, Remove), a table of entries (first name, last name,
// e-mail, phone), Add/Edit/Remove buttons, a modal add/edit dialog and a status bar.
//
// It runs inside the runner's process under the application name "addressbook"; its objects are found
// by real names such as {type PushButton name addButton} or {type LineEdit name firstName}.
#pragma once

namespace AddressBook {

// Declares the classes (once) and registers the application under the name "addressbook".
void registerApplication();

} // namespace AddressBook
