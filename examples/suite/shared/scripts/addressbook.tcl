# Steps shared by the address book test cases. Objects are found by real names: lists of
# property/value pairs that the object's type, name or text and its container match.

proc addEntry {first last email phone} {
    invoke [waitForObject {type PushButton name addButton}] click
    foreach field {firstName lastName email phone} value [list $first $last $email $phone] {
        invoke [waitForObject [list type LineEdit name $field]] setText $value
    }
    invoke [waitForObject {type PushButton name okButton}] click
}

proc statusMessage {} {
    return [property get [waitForObject {type MainWindow name mainWindow}] statusBar.message]
}
