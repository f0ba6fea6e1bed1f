# Lookups, properties and methods of a real Qt Widgets application.
proc main {} {
    startApplication [OS getenv WIDGETSAPP]
    set window [waitForObject {type QMainWindow name mainWindow}]
    test compare [property get $window windowTitle] Widgets

    # A type matches base classes too; a container narrows the search to an ancestor.
    set add [waitForObject {type QAbstractButton text Add container {type QMainWindow name mainWindow}}]
    test compare [objectName $add] addButton
    test compare [property get $add enabled] 1
    test compare [llength [findAllObjects {type QWidget name addButton}]] 1
    # The container may be a handle, in a list or in text, at any depth of the name.
    test compare [compare [waitForObject [list type QAbstractButton text Add container $window]] $add] 1
    test compare [compare [waitForObject "type QPushButton text Add container $window"] $add] 1
    test compare [llength [findAllObjects [list type QPushButton text Twin container [list type QWidget container $window]]]] 2
    test compare [findAllObjects [list type QPushButton container [waitForObject {type QLineEdit name lineEdit}]]] {}
    set disabled [waitForObjectExists {type QPushButton text Disabled}]
    test compare [property get $disabled enabled] 0
    test verify [string match "*exists but is not ready*" [catchError {waitForObject {type QPushButton text Disabled} 200}]]
    test compare [findAllObjects {type QPushButton text Nowhere}] {}

    # Objects without a name get real names that tell twins apart and find them again.
    set twins [findAllObjects {type QPushButton text Twin}]
    test compare [llength $twins] 2
    set names [lmap twin $twins {objectMap realName $twin}]
    test verify [expr {[lindex $names 0] ne [lindex $names 1]}] "twins have distinct real names: $names"
    test compare [compare [waitForObject [lindex $names 1]] [lindex $twins 1]] 1
    test compare [compare [waitForObject [lindex $names 0]] [lindex $twins 1]] 0
    test verify [string match "*-wildcard*" [catchError {waitForObject {type QPushButton text {-wildcard Tw*} occurrence 3} 100}]] \
        "an occurrence past the matches is not found"
    test compare [property get [waitForObject {type QPushButton text {-wildcard Di*}}] text] Dialog...
    test compare [property get [waitForObject {type QPushButton text {-regularexpression {Cr.*later}}}] text] "Crash later"

    # Properties of Qt's common types.
    set edit [waitForObject {type QLineEdit name lineEdit}]
    property set $edit text "typed in"
    test compare [property get $edit text] "typed in"
    test compare [property get $edit echoMode] Normal
    property set $edit echoMode Password
    test compare [property get $edit echoMode] Password
    test compare [property typeName $edit maxLength] int
    set size [property get $window size]
    test compare [list [property get $size width] [property get $size height]] {640 480}
    test compare [property get $window geometry.width] 640
    test compare [toString [property get $window size]] 640x480
    test compare [property get $window minimized] 0
    set spin [waitForObject {name countSpin}]
    property set $spin value 42
    test compare [property get $spin value] 42

    # Slots with overloads, and the accessors that are no slots.
    set combo [waitForObject {name colorCombo}]
    invoke $combo setCurrentIndex 2
    test compare [property get $combo currentText] Blue
    test compare [invoke $combo itemText 1] Green
    test compare [invoke $combo itemTexts] {Red Green Blue}
    test compare [invoke $combo findText Green] 1
    invoke $edit setText "by a slot"
    test compare [property get $edit text] "by a slot"
    test compare [invoke [waitForObject {name table}] columnCount] 2
    test compare [invoke [waitForObject {name table}] headerText 1] Length
    test compare [catchError {invoke $edit noSuchMethod}] "Class 'QLineEdit' does not have a method named 'noSuchMethod'"
    test verify [string match "*No cell at row 5*" [catchError {invoke [waitForObject {name table}] cellText 5 0}]]
    # A header is one line of sections, not the cells of the view it heads.
    set columns {}
    foreach header [findAllObjects {type QHeaderView}] {
        if {[invoke $header columnCount] == 2} {
            set columns $header
        }
    }
    test compare [list [invoke $columns rowCount] [invoke $columns rowTexts 0] [invoke $columns cellText 0 1]] \
        {1 {Name Length} Length} "the table's header"
    test verify [string match "*No section 2*" [catchError {invoke $columns headerText 2}]]

    # The tree: parents, children, top-level objects, items.
    test compare [objectName [object parent [object parent $add]]] mainWindow
    test verify [expr {[llength [object children $window]] > 3}]
    test verify [expr {[lsearch -exact [lmap o [object topLevelObjects] {objectName $o}] mainWindow] >= 0}]
    chooseItem {name tabs} Tree
    set pear [waitForObjectItem {name tree} Pear]
    test compare [property get $pear text] Pear
    test compare [property get $pear row] 1
    set green [waitForObjectItem {name colorCombo} Green]
    test compare [property get $green selected] 0
    test compare [property get [waitForObjectItem {name colorCombo} Blue] selected] 1
    set file [waitForObjectItem {type QMenuBar} File]
    test compare [property get $file text] &File
    test compare [property get $file enabled] 1
    test compare [property get [waitForObject [objectMap realName $pear]] text] Pear
}

proc catchError {script} {
    if {[catch {uplevel 1 $script} message]} {
        return $message
    }
    return ""
}
