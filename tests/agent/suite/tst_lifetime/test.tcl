# Objects the application deletes: every handle to them knows, and says so.
proc main {} {
    startApplication [OS getenv WIDGETSAPP]
    chooseItem {type QMenuBar} File {Add Entry...}
    set dialog [waitForObject {name entryDialog}]
    set edit [waitForObject {name nameEdit container {name entryDialog}}]
    test compare [property get $edit text] ""
    keyClick $edit Escape
    # The dialog lived on the application's stack: it is gone once its loop ended.
    waitForObject {name mainWindow}
    OS sleep 0.2
    test compare [catch {property get $edit text} message] 1
    test compare $message "Attempt to access invalidated object"
    test compare [catch {invoke $dialog show} message] 1
    test verify [string match "*no longer exists*" $message] $message
    test compare [catch {mouseClick $edit} message] 1
    test verify [string match "*no longer exists*" $message] $message
    # A new dialog is a new object.
    chooseItem {type QMenuBar} File {Add Entry...}
    test compare [compare [waitForObject {name entryDialog}] $dialog] 0
    keyClick Escape
}
