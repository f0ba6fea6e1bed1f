# Small checks shared by the example test cases. A failed check raises an error naming both values,
# which the runner reports with this file's caller's line.
proc expectEqual {actual expected {what "value"}} {
    if {$actual ne $expected} {
        error "$what: expected '$expected', got '$actual'"
    }
}

proc expectTrue {condition {what "condition"}} {
    if {![uplevel 1 [list expr $condition]]} {
        error "$what does not hold: $condition"
    }
}
