# Opens the sample entries, edits one and removes another. Objects are named by the suite's object map
# (shared/scripts/names.tcl), which the runner reads first.
source [file join [file dirname $argv0] .. shared scripts addressbook.tcl]

proc main {} {
    startApplication addressbook
    chooseItem $names::Address_Book_QMenuBar File Open
    set table [waitForObject $names::entries_QTableWidget]
    test compare [property get $table rowCount] 3 "sample entries"

    # Nothing is selected: Edit and Remove are disabled until a row is.
    test compare [property get [findObject $names::Edit_QPushButton] enabled] 0 "Edit without selection"
    mouseClick [waitForObjectItem $table Alan]
    mouseClick $names::Edit_QPushButton
    set phone [waitForObject $names::phone_QLineEdit]
    keyClick $phone End
    typeText $phone " 99"
    mouseClick $names::OK_QPushButton
    test compare [invoke $table cellText 1 3] "+44 20 0002 99" "edited phone"
    test compare [statusMessage] "Updated Alan Turing" "status after editing"

    # A double click on a row edits it too; an entry needs a name.
    doubleClick [waitForObjectItem $table Ada]
    set first [waitForObject $names::firstName_QLineEdit]
    set last [waitForObject $names::lastName_QLineEdit]
    property set $first text ""
    property set $last text ""
    mouseClick $names::OK_QPushButton
    test compare [statusMessage] "A first or last name is required" "an entry needs a name"
    mouseClick $names::Cancel_QPushButton

    mouseClick [waitForObjectItem $table Lovelace]
    mouseClick $names::Remove_QPushButton
    test compare [property get $table rowCount] 2 "rows after removing"
    test compare [invoke $table cellText 0 0] Alan "first row after removing"
    test verify [waitFor {[property get [findObject $names::Remove_QPushButton] enabled] == 0} 1000] \
        "Remove disabled again"
}
