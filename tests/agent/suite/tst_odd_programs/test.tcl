# Programs unlike the usual widgets window, as users meet them: a window drawn without widgets, a
# program that reads its standard input, a view without a model, items that exist but are not shown.
proc example {path} {
    return [file join [OS getenv QT_EXAMPLES] $path]
}

proc main {} {
    if {![file executable [example gui/rasterwindow/rasterwindow]]} {
        test skip "Qt's example programs are not installed (qtbase5-examples)"
    }
    # A QWindow that paints itself (no QWidget anywhere) has a picture as well.
    startApplication [example gui/rasterwindow/rasterwindow]
    set window [waitForObject {type QWindow}]
    set file [file join [OS getenv TMPDIR /tmp] tarvin-rasterwindow-[pid].png]
    test compare [object grabScreenshot $window $file] $file
    test verify [expr {[file size $file] > 100}]
    file delete $file

    # Standard input is empty: a program reading it ends at once instead of blocking the start.
    set started [clock milliseconds]
    test compare [catch {startApplication [example corelib/serialization/cbordump/cbordump]} message] 1
    test verify [string match "The application 'cbordump' ended with exit status 1 before it could be driven*" \
                     $message] $message
    test verify [expr {[clock milliseconds] - $started < 10000}]

    # An item in a combo box's closed list: there, but not shown.
    startApplication [example widgets/widgets/lineedits/lineedits]
    chooseItem [waitForObject {type QComboBox container {type QGroupBox title Echo}}] Password
    set popup [lindex [findAllObjects {type QComboBoxListView}] 0]
    test compare [catch {waitForObjectItem $popup Password 0} message] 1
    test verify [string match "*not found after * s: the object exists but is not ready (visible and enabled)" \
                     $message] $message
    test compare [catch {waitForObjectItem {type QComboBoxListView name nothing} Password 0} message] 1
    test verify [string match "*not found after * s: the object was not found" $message] $message

    # A view without a model is an empty view.
    startApplication [OS getenv WIDGETSAPP]
    chooseItem {name tabs} Empty
    set view [waitForObject {name emptyView}]
    test compare [list [invoke $view rowCount] [invoke $view columnCount] [invoke $view currentRow] \
                      [invoke $view currentText] [invoke $view selectedTexts] [invoke $view hasFocus]] \
        {0 0 -1 {} {} 0}
    test compare [catch {invoke $view cellText 0 0} message] 1
    test verify [string match "*No row 0: the QListView has no model (it is empty)" $message] $message
}
