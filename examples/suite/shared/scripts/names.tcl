# The object map of the example suite: symbolic names for the real names of the address book's
# objects. Test scripts write $names::NAME wherever an object name goes; the runner reads this file
# before each test case of the suite. New entries go in front of the closing brace.
package require tarvin::objectmaphelper

namespace eval names {
    set Address_Book_QMainWindow [::Tarvin::ObjectName name mainWindow type QMainWindow]
    set Address_Book_QMenuBar [::Tarvin::ObjectName container $Address_Book_QMainWindow type QMenuBar]
    set Address_Book_QStatusBar [::Tarvin::ObjectName container $Address_Book_QMainWindow type QStatusBar]
    set entries_QTableWidget [::Tarvin::ObjectName container $Address_Book_QMainWindow name entries type QTableWidget]
    set Add_QPushButton [::Tarvin::ObjectName container $Address_Book_QMainWindow name addButton type QPushButton]
    set Edit_QPushButton [::Tarvin::ObjectName container $Address_Book_QMainWindow name editButton type QPushButton]
    set Remove_QPushButton [::Tarvin::ObjectName container $Address_Book_QMainWindow name removeButton type QPushButton]
    set entryDialog_QDialog [::Tarvin::ObjectName name entryDialog type QDialog]
    set firstName_QLineEdit [::Tarvin::ObjectName container $entryDialog_QDialog name firstName type QLineEdit]
    set lastName_QLineEdit [::Tarvin::ObjectName container $entryDialog_QDialog name lastName type QLineEdit]
    set email_QLineEdit [::Tarvin::ObjectName container $entryDialog_QDialog name email type QLineEdit]
    set phone_QLineEdit [::Tarvin::ObjectName container $entryDialog_QDialog name phone type QLineEdit]
    set OK_QPushButton [::Tarvin::ObjectName container $entryDialog_QDialog name okButton type QPushButton]
    set Cancel_QPushButton [::Tarvin::ObjectName container $entryDialog_QDialog name cancelButton type QPushButton]
}
