# The object map of the in-process demo address book (examples/addressbook/addressbook.cpp), for the
# recorder tests: symbolic names for the real names of its objects, as a suite keeps them.
package require tarvin::objectmaphelper

namespace eval names {
    set Address_Book_MainWindow [::Tarvin::ObjectName name mainWindow type MainWindow]
    set Open_MenuItem [::Tarvin::ObjectName text Open type MenuItem]
    set entries_Table [::Tarvin::ObjectName container $Address_Book_MainWindow name entries type Table]
    set Add_PushButton [::Tarvin::ObjectName container $Address_Book_MainWindow name addButton type PushButton]
    set Edit_PushButton [::Tarvin::ObjectName container $Address_Book_MainWindow name editButton type PushButton]
    set Remove_PushButton [::Tarvin::ObjectName container $Address_Book_MainWindow name removeButton type PushButton]
    set entryDialog_Dialog [::Tarvin::ObjectName name entryDialog type Dialog]
    set firstName_LineEdit [::Tarvin::ObjectName container $entryDialog_Dialog name firstName type LineEdit]
    set lastName_LineEdit [::Tarvin::ObjectName container $entryDialog_Dialog name lastName type LineEdit]
    set email_LineEdit [::Tarvin::ObjectName container $entryDialog_Dialog name email type LineEdit]
    set phone_LineEdit [::Tarvin::ObjectName container $entryDialog_Dialog name phone type LineEdit]
    set OK_PushButton [::Tarvin::ObjectName container $entryDialog_Dialog name okButton type PushButton]
    set Cancel_PushButton [::Tarvin::ObjectName container $entryDialog_Dialog name cancelButton type PushButton]
}
