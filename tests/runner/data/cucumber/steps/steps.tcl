# The same step definitions in Tcl, with the same hooks.
Given "the counter is |integer|" {n} { set ::counter $n }
When "I add |integer|" {n} { incr ::counter $n }
Then "the counter shows |integer|" {n} {
    if {$::counter != $n} {
        error "expected $n, got $::counter"
    }
}
When "a pending step runs" {} { test skip "TODO" }
Given "the document" {doc} { lappend ::documents $doc }
Given "the table" {table} {}
OnScenarioStart {context} {}
OnScenarioEnd {context} {}
OnStepEnd {context} {}
