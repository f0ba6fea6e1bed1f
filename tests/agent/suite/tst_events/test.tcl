# Event handlers on a real application: the events a user gives its widgets reach the script's
# handlers, by object, by type and globally, before the input command returns.
proc onClick {object type x y button modifiers} {
    # A click moves the pointer onto the widget first, as a hand does; the buttons are what counts here.
    if {$type ne "MouseMove"} {
        lappend ::clicks [list [property get $object text] $type $button]
    }
}

proc onKey {object type key modifiers text} {
    if {$type eq "KeyPress"} {
        append ::typed $text
    }
}

proc onClose {object} {
    # The dialog lived on the application's stack: by the time the handler runs it may be gone.
    lappend ::closed closed
}

proc main {} {
    set ::clicks {}
    set ::typed ""
    set ::closed {}
    startApplication [OS getenv WIDGETSAPP]
    set add [waitForObject {type QPushButton text Add}]
    installEventHandler $add QMouseEvent onClick
    mouseClick $add
    test compare $::clicks {{Add MouseButtonPress 1} {Add MouseButtonRelease 1}}

    # By type: every button; a click on another widget is not a button's.
    set ::clicks {}
    uninstallEventHandler $add QMouseEvent onClick
    installEventHandler QAbstractButton QMouseEvent onClick
    mouseClick {type QPushButton text Twin occurrence 2} 5 5 4
    mouseClick {type QCheckBox text Urgent}
    test compare $::clicks {{Twin MouseButtonPress 4} {Twin MouseButtonRelease 4} {Urgent MouseButtonPress 1} {Urgent MouseButtonRelease 1}}
    uninstallEventHandler QAbstractButton QMouseEvent onClick

    installEventHandler QKeyEvent onKey
    typeText {name lineEdit} "Hi there"
    test compare $::typed "Hi there"
    uninstallEventHandler QKeyEvent onKey
    typeText {name lineEdit} "!"
    test compare $::typed "Hi there"

    installEventHandler QCloseEvent onClose
    mouseClick {type QPushButton text Dialog...}
    closeWindow {name entryDialog}
    test compare $::closed closed
    test compare [invoke [waitForObject {type QStatusBar}] currentMessage] "Dialog cancelled"
}
