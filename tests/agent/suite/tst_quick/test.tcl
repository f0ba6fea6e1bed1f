# A Qt Quick (QML) user interface: its items are found by object name and by their QML type names,
# clicked where they are drawn, typed into and pictured; their real names stay the same from run to run.
proc main {} {
    set scene /usr/lib/qt5/bin/qmlscene
    if {![file executable $scene] || ![file isdirectory /usr/lib/x86_64-linux-gnu/qt5/qml/QtQuick/Controls.2]} {
        test skip "qmlscene and Qt Quick's controls are not installed"
    }
    # Offscreen there is no OpenGL: the runner has Qt Quick draw in software.
    startApplication "$scene [file join [file dirname $::argv0] form.qml]"
    set window [waitForObject {name mainWindow}]
    test compare [property get $window title] "Quick form"

    set field [waitForObject {type TextField name nameField}]
    typeText $field "Ada Lovelace"
    test compare [property get $field text] "Ada Lovelace"
    set add [waitForObject {type Button text Add}]
    mouseClick $add
    test compare [property get [waitForObject {name status}] text] "Added Ada Lovelace"
    test compare [property get [waitForObject {name names}] count] 1
    mouseClick {type QQuickCheckBox text Agree}
    test compare [property get [waitForObject {name agree}] checked] true
    set turned [waitForObject {name turned}]
    mouseClick $turned
    mouseClick $turned
    test compare [property get $turned clicks] 2

    # Hidden and disabled items are found but not ready; the second window's button is its own.
    test verify [string match "*exists but is not ready*" [catchError {waitForObject {name hiddenButton} 200}]]
    test verify [string match "*exists but is not ready*" [catchError {waitForObject {name disabledButton} 200}]]
    set other [waitForObject {type Button name addButton container {name second}}]
    mouseClick $other
    test compare [property get $other clicks] 1
    test compare [property get [waitForObject {name names}] count] 1

    # Real names name the C++ class, not QML's numbered type, and the item's window as container (the
    # second window, declared inside the first, is held by it as a dialog is by its parent).
    test compare [objectMap realName $other] {type QQuickButton name addButton container {type QQuickWindowQmlImpl name second}}
    test compare [compare [waitForObject [objectMap realName $other]] $other] 1
    test compare [compare [waitForObject [objectMap realName $add]] $add] 1
    test compare [objectMap realName [waitForObject {type Button text Clear}]] \
        {type QQuickButton text Clear container {type QQuickApplicationWindow name mainWindow}}

    # The user's events reach handlers (and the recorder) on the item that took them: a click on a
    # button's label is the button's, keys are the focused field's.
    set ::clicks {}
    set ::typed {}
    installEventHandler QQuickAbstractButton QMouseEvent onClick
    installEventHandler QKeyEvent onKey
    mouseClick {type Button text Clear}
    typeText $field "!"
    test compare $::clicks {{Clear MouseButtonPress 1} {Clear MouseButtonRelease 1}}
    test compare $::typed "!"
    test compare $::keyTarget nameField
    uninstallEventHandler QQuickAbstractButton QMouseEvent onClick
    uninstallEventHandler QKeyEvent onKey
    # A drag is the press, the moves while the button is held, and the release, on the item dragged.
    set ::drag {}
    set slider [waitForObject {type Slider name volume}]
    installEventHandler QQuickSlider QMouseEvent onDrag
    mouseDrag $slider 5 10 150 0
    uninstallEventHandler QQuickSlider QMouseEvent onDrag
    test verify [expr {[property get $slider value] > 50}] "dragged to [property get $slider value]"
    test compare [lindex $::drag 0] MouseButtonPress
    test compare [lindex $::drag end] MouseButtonRelease
    test verify [expr {[lsearch $::drag MouseMove] > 0}] "moves between: $::drag"

    # A picture of an item is its part of the window's.
    set file [object grabScreenshot $add]
    set png [open $file rb]
    binary scan [read $png 24] x16II width height
    close $png
    file delete $file
    test compare [list $width $height] [list [expr {round([property get $add width])}] [expr {round([property get $add height])}]]
}

proc onClick {object type x y button modifiers} {
    lappend ::clicks [list [property get $object text] $type $button]
}

proc onDrag {object type x y button modifiers} {
    if {[lindex $::drag end] ne $type} {
        lappend ::drag $type
    }
}

proc onKey {object type key modifiers text} {
    if {$type eq "KeyPress"} {
        append ::typed $text
        set ::keyTarget [property get $object objectName]
    }
}

proc catchError {script} {
    catch {uplevel 1 $script} message
    return $message
}
