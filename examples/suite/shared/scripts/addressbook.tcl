# Steps shared by the address book test cases. Objects are named through the suite's object map
# (names.tcl beside this file), which the runner reads before every test case: $names::NAME stands for
# a real name, a list of property/value pairs that the object's type, name or text and its container
# match. Input goes to the application as a user gives it: clicks and typed text.

proc addEntry {first last email phone} {
    mouseClick $names::Add_QPushButton
    foreach field {firstName lastName email phone} value [list $first $last $email $phone] {
        # An entry chosen at run time: its variable read by name.
        if {$value ne ""} {
            typeText [set names::${field}_QLineEdit] $value
        }
    }
    mouseClick $names::OK_QPushButton
}

proc statusMessage {} {
    return [invoke [waitForObject $names::Address_Book_QStatusBar] currentMessage]
}
