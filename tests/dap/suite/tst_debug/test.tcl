# Drives the widgets application for the debugger's tests: stops, steps, variables and output.
proc addPerson {name} {
    typeText {type QLineEdit name lineEdit} $name
    mouseClick {type QPushButton text Add}
    return [invoke [waitForObject {name table}] rowCount]
}

proc countTo {n} {
    set total 0
    for {set i 1} {$i <= $n} {incr i} {
        incr total $i
    }
    set result $total
    return $result
}

proc main {} {
    startApplication [OS getenv WIDGETSAPP]
    set people [list Ada Grace Linus]
    array set ages {Ada 36 Grace 85}
    set rows [addPerson [lindex $people 0]]
    test compare $rows 1
    set sum [countTo 5]
    puts "sum is $sum"
    set edit [waitForObject {name lineEdit}]
    test compare [property get $edit objectName] lineEdit
    test log "done with $sum"
}
