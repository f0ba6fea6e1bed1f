# Times the address book with the framework's native types: a stopWatch measures a step, a deadline
# bounds a polling loop, and the OS namespace gives facts of the machine for the log.
source [file join [file dirname $argv0] .. shared scripts addressbook.tcl]

proc main {} {
    test log "Running on [OS name] as [OS getenv USER {an unknown user}]"
    startApplication addressbook

    set watch [stopWatch new "add entry"]
    addEntry Alan Turing alan@example.org "+44 161 0004"
    set took [invoke $watch stop]
    test verify [expr {$took < 10000}] "[property get $watch label] took [stopWatch format $took]"

    # Poll for the new row, but for two seconds at most.
    set table [waitForObject {type QTableWidget name entries}]
    set deadline [deadline new 2000 "new row"]
    while {[property get $table rowCount] < 1 && ![property get $deadline expired]} {
        OS sleep 0.05
    }
    test compare [property get $table rowCount] 1 \
        "row shown after [property get $deadline elapsed] of [property get $deadline timeout] ms"
}
