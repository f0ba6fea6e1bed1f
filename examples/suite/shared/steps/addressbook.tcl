# Step definitions shared by the suite's feature files. The address book starts once per feature; each
# scenario begins with an empty book (File > New).
source [file join [file dirname [info script]] .. scripts addressbook.tcl]

OnFeatureStart {context} {
    startApplication addressbook
    $context userData "[$context title]"
}

OnScenarioStart {context} {
    test log "Scenario '[$context title]' of feature '[$context userData]'"
}

Given "the address book is open with no entries" {} {
    chooseItem $names::Address_Book_QMenuBar File New
    test compare [property get [waitForObject $names::entries_QTableWidget] rowCount] 0 "empty book"
}

Given "the sample entries are loaded" {} {
    chooseItem $names::Address_Book_QMenuBar File Open
}

Then "the table has |integer| row" {count} {
    test compare [property get [waitForObject $names::entries_QTableWidget] rowCount] $count "rows"
}

Then "the table has |integer| rows" {count} {
    test compare [property get [waitForObject $names::entries_QTableWidget] rowCount] $count "rows"
}

Then {the status bar says "|any|"} {message} {
    test compare [statusMessage] $message "status bar"
}
