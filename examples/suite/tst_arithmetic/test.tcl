# Computes a few results and checks them with the suite's shared checks.
source [file join [file dirname $argv0] .. shared scripts checks.tcl]

proc factorial {n} {
    if {$n <= 1} {
        return 1
    }
    return [expr {$n * [factorial [expr {$n - 1}]]}]
}

proc main {} {
    expectEqual [factorial 10] 3628800 "10!"
    expectEqual [expr {2 ** 64}] 18446744073709551616 "2 to the 64th"
    expectTrue {abs(sqrt(2.0) * sqrt(2.0) - 2.0) < 1e-12} "sqrt(2) squared"
    puts "factorial and big numbers check out"
}
