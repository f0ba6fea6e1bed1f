# An error no script catches, two calls deep.
proc divide {a b} {
    return [expr {$a / $b}]
}

proc main {} {
    set ratio [divide 6 0]
    test log "not reached $ratio"
}
