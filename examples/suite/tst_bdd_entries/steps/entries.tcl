# Step definitions of this test case: adding, showing and removing entries.

When {I add the entry "|any|" "|any|" with e-mail |word|} {first last email} {
    addEntry $first $last $email ""
}

# The table's first row names the columns.
When "I add these entries:" {table} {
    foreach row [lrange $table 1 end] {
        lassign $row first last email
        addEntry $first $last $email ""
    }
}

Then "row |integer| shows:" {row lines} {
    set table [waitForObject $names::entries_QTableWidget]
    test compare [lrange [invoke $table rowTexts [expr {$row - 1}]] 0 2] [split $lines \n] "row $row"
}

When "I remove row |integer|" {row} {
    set table [waitForObject $names::entries_QTableWidget]
    mouseClick [waitForObjectItem $table [invoke $table cellText [expr {$row - 1}] 0]]
    mouseClick $names::Remove_QPushButton
}

Then "the first name in row |integer| is |word|" {row first} {
    test compare [invoke [waitForObject $names::entries_QTableWidget] cellText [expr {$row - 1}] 0] $first "first name"
}
