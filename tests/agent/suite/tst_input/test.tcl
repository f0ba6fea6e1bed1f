# Input as a user gives it: typing, clicks, keys, combo boxes, views, menus, a modal dialog.
proc status {} {
    return [invoke [waitForObject {type QStatusBar}] currentMessage]
}

proc main {} {
    startApplication [OS getenv WIDGETSAPP]
    typeText {type QLineEdit name lineEdit} "Ada Lovelace"
    test compare [property get [waitForObject {name lineEdit}] text] "Ada Lovelace"
    mouseClick {type QPushButton text Add}
    set table [waitForObject {name table}]
    test compare [invoke $table rowTexts 0] {{Ada Lovelace} 12}
    test compare [status] "Added Ada Lovelace"

    # Return in the line edit presses Add; keys with modifiers edit the text.
    typeText {name lineEdit} "Grace"
    keyClick {name lineEdit} Ctrl+A
    typeText {name lineEdit} "Bob"
    keyClick {name lineEdit} Return
    test compare [invoke $table rowCount] 2
    test compare [invoke $table cellText 1 0] Bob

    chooseItem {name colorCombo} Blue
    test compare [property get [waitForObject {name colorCombo}] currentText] Blue
    test compare [status] "Chose Blue"

    chooseItem {name tabs} Tree
    chooseItem {name tree} Fruit Pear
    test compare [status] "Clicked Pear"
    chooseItem {name tabs} List
    doubleClick [waitForObjectItem {name list} two]
    test compare [status] "Opened two"

    mouseWheel {name countSpin} 3
    test compare [property get [waitForObject {name countSpin}] value] 3
    set slider [waitForObject {name slider}]
    set width [dict get [object globalBounds $slider] width]
    mouseDrag $slider 4 5 [expr {$width - 4}] 0
    test compare [property get $slider value] 100
    mouseClick {type QCheckBox text Urgent}
    test compare [property get [waitForObject {type QCheckBox text Urgent}] checked] 1

    chooseItem {type QMenuBar} File Recent Second
    test compare [status] "recent Second"

    # A modal dialog runs its own event loop: the commands go on inside it.
    chooseItem {type QMenuBar} File {Add Entry...}
    typeText {name nameEdit} "From the dialog"
    mouseClick {type QPushButton text OK container {name entryDialog}}
    test compare [status] "Dialog gave From the dialog"
    mouseClick {type QPushButton text Dialog...}
    keyClick Escape
    test compare [status] "Dialog cancelled"
    keyClick {name mainWindow} Ctrl+N
    waitForObject {name entryDialog}
    keyClick {name nameEdit} Escape

    # The low-level mouse commands and sendEvent reach the application the same way.
    property set [waitForObject {name lineEdit}] text ""
    typeText {name lineEdit} "Cy"
    mousePress {type QPushButton text Add}
    mouseRelease {type QPushButton text Add}
    test compare [invoke $table cellText 2 0] Cy
    typeText {name lineEdit} "Di"
    set add [waitForObject {type QPushButton text Add}]
    sendEvent QMouseEvent $add MouseButtonPress 5 5 1
    sendEvent QMouseEvent $add MouseButtonRelease 5 5 1
    test compare [invoke $table cellText 3 0] Di

    test compare [catch {chooseItem {name colorCombo} Purple} message] 1
    test compare $message "No item 'Purple' in the combo box"
    test compare [catch {keyClick {name lineEdit} Ctrl+Nonsense+Key} message] 1
    test verify [string match "Unknown key 'Ctrl+Nonsense+Key'*" $message]

    set picture [object grabScreenshot [waitForObject {name mainWindow}] [file join [OS getenv TMPDIR /tmp] tarvin-agent-shot.png]]
    test verify [expr {[file size $picture] > 1000}] "the screenshot is a picture"
    file delete $picture
}
