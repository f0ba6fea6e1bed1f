# Adds every entry of a test data table (shared/testdata/entries.tsv) and checks each row.
source [file join [file dirname $argv0] .. shared scripts addressbook.tcl]

proc main {} {
    startApplication addressbook
    set records [testData dataset entries.tsv]
    test log "adding [llength $records] entries from [testData fieldNames [lindex $records 0]]"
    foreach record $records {
        addEntry [testData field $record first] [testData field $record last] \
            [testData field $record email] [testData field $record phone]
    }
    set table [waitForObject {type QTableWidget name entries}]
    test compare [property get $table rowCount] [llength $records] "one row per record"
    set row 0
    foreach record $records {
        test compare [invoke $table cellText $row 2] [testData field $record email] "e-mail in row $row"
        incr row
    }
}
