# Runs until the debugger pauses it and ends it.
proc main {} {
    set n 0
    while {1} {
        incr n
        if {$n % 1000 == 0} { after 1 }
    }
}
