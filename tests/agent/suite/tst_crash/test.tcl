# An application that crashes in the middle of a command: the command fails naming the application and
# the signal, the handles of its objects fail clearly, and a new instance is never reached through them.
proc main {} {
    set app [startApplication [OS getenv WIDGETSAPP]]
    set edit [waitForObject {name lineEdit}]
    test compare [catch {chooseItem {type QMenuBar} Help Crash} message] 1
    test compare $message "The application 'widgetsapp' was ended by signal 11 (SIGSEGV)"
    test compare [applicationContext $app isRunning] 0
    test compare [catch {property get $edit text} message] 1
    test compare $message "Attempt to access invalidated object"
    test compare [catch {waitForObject {name lineEdit} 200} message] 1
    test verify [string match "*widgetsapp*" $message] $message
    # No objects is not the same as none matching.
    test compare [catch {findAllObjects {type QWidget}} message] 1
    test compare $message "Objects 'type QWidget' not found: The application 'widgetsapp' was ended by signal 11 (SIGSEGV)"
    test compare [catch {object topLevelObjects} message] 1
    test compare $message "No top-level objects: The application 'widgetsapp' was ended by signal 11 (SIGSEGV)"

    set again [startApplication [OS getenv WIDGETSAPP]]
    test compare [catch {typeText $edit "lost"} message] 1
    test compare [property get [waitForObject {name lineEdit}] text] ""

    # A crash that comes while the script waits.
    mouseClick {type QPushButton text {Crash later}}
    test compare [catch {waitForObject {name nothingLikeThis} 3000} message] 1
    test verify [string match "*signal 11*" $message] $message
}

proc cleanup {} {
    # The exit status of an application that ended, and of one the script closes.
    set app [startApplication [OS getenv WIDGETSAPP]]
    test compare [catch {applicationContext $app exitStatus} message] 1
    test compare $message "The application 'widgetsapp_3' is still running"
    test compare [catch {applicationContext $app waitForExit 0.1} message] 1
    test compare $message "The application 'widgetsapp_3' is still running after 0.1 s"
    chooseItem {type QMenuBar} File Quit
    test compare [applicationContext $app waitForExit 10] 0
    test compare [applicationContext [lindex [applicationContextList] 0] exitStatus] 139
}
