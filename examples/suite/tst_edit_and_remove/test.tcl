# Opens the sample entries, edits one (showing overload choice of setText) and removes another. Objects
# are named by the suite's object map (shared/scripts/names.tcl), which the runner reads first.
source [file join [file dirname $argv0] .. shared scripts addressbook.tcl]

proc main {} {
    startApplication addressbook
    invoke [waitForObject $names::Open_MenuItem] trigger
    set table [waitForObject $names::entries_Table]
    test compare [property get $table rowCount] 3 "sample entries"

    # Nothing is selected: Edit and Remove are disabled until a row is.
    test compare [property get [findObject $names::Edit_PushButton] enabled] 0 "Edit without selection"
    invoke $table selectRow 1
    invoke [waitForObject $names::Edit_PushButton] click
    # setText has overloads for text and numbers; a computed integer picks the number one.
    set phone [waitForObject $names::phone_LineEdit]
    test compare [invoke $phone setText [expr {441234 * 10}]] int "overload chosen for an integer"
    invoke $phone setText "+44 [property get $phone text]"
    invoke [waitForObject $names::OK_PushButton] click
    test compare [invoke $table cellText 1 3] "+44 4412340" "edited phone"
    test compare [statusMessage] "Updated Alan Turing" "status after editing"

    invoke $table selectRow 0
    invoke [waitForObject $names::Remove_PushButton] click
    test compare [property get $table rowCount] 2 "rows after removing"
    test compare [invoke $table cellText 0 0] Alan "first row after removing"
    test verify [waitFor {[property get [findObject $names::Remove_PushButton] enabled] == 0} 1000] \
        "Remove disabled again"
}
