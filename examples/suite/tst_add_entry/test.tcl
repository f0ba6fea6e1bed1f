# Adds two entries through the dialog and checks the table and the status bar.
source [file join [file dirname $argv0] .. shared scripts addressbook.tcl]

proc main {} {
    startApplication addressbook
    set table [waitForObject {type QTableWidget name entries}]
    test compare [property get $table rowCount] 0 "rows at start"

    addEntry Ada Lovelace ada@example.org "+44 20 0001"
    test compare [statusMessage] "Added Ada Lovelace" "status after the first entry"
    addEntry Grace Hopper grace@example.org "+1 202 0003"

    test compare [property get $table rowCount] 2 "rows after adding"
    test compare [invoke $table rowTexts 1] {Grace Hopper grace@example.org {+1 202 0003}} "second row"
    set cell [waitForObjectItem $table "Hopper"]
    test compare [list [property get $cell row] [property get $cell column]] {1 1} "cell of Hopper"

    # The dialog is modal: while it is open the main window is not the active one.
    mouseClick {type QPushButton name addButton}
    waitForObject {type QDialog name entryDialog}
    test compare [property get [findObject {type QMainWindow}] isActiveWindow] 0 "main window behind the dialog"
    keyClick Escape
    test compare [statusMessage] "Cancelled" "status after cancelling"
}
