# Steps shared by the address book test cases. Objects are named through the suite's object map
# (names.tcl beside this file), which the runner reads before every test case: $names::NAME stands for
# a real name, a list of property/value pairs that the object's type, name or text and its container
# match.

proc addEntry {first last email phone} {
    invoke [waitForObject $names::Add_PushButton] click
    foreach field {firstName lastName email phone} value [list $first $last $email $phone] {
        # An entry chosen at run time: its variable read by name.
        invoke [waitForObject [set names::${field}_LineEdit]] setText $value
    }
    invoke [waitForObject $names::OK_PushButton] click
}

proc statusMessage {} {
    return [property get [waitForObject $names::Address_Book_MainWindow] statusBar.message]
}
