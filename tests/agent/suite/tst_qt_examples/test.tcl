# Qt's own example programs, which nobody here wrote: their widgets have no object names.
proc example {path} {
    return [file join [OS getenv QT_EXAMPLES] widgets $path]
}

proc main {} {
    if {![file executable [example widgets/calculator/calculator]]} {
        test skip "Qt's example programs are not installed (qtbase5-examples)"
    }
    startApplication [example widgets/calculator/calculator]
    foreach key {7 + 5 =} {
        mouseClick [waitForObject [list type QToolButton text $key]]
    }
    test compare [property get [waitForObject {type QLineEdit}] text] 12

    startApplication [example widgets/lineedits/lineedits]
    set echo [waitForObject {type QComboBox container {type QGroupBox title Echo}}]
    chooseItem $echo Password
    set field [waitForObject {type QLineEdit container {type QGroupBox title Echo}}]
    test compare [property get $field echoMode] Password
    typeText $field secret
    test compare [property get $field text] secret
    chooseItem [waitForObject {type QComboBox container {type QGroupBox title Validator}}] {Integer validator}
    set digits [waitForObject {type QLineEdit container {type QGroupBox title Validator}}]
    typeText $digits "12ab34"
    test compare [property get $digits text] 1234

    startApplication [example itemviews/simpletreemodel/simpletreemodel]
    set view [waitForObject {type QTreeView}]
    set item [waitForObjectItem $view {Getting Started}]
    test compare [property get $item column] 0
    chooseItem $view {Getting Started} {Launching Designer}
    test compare [invoke $view currentText] {Launching Designer}
}
