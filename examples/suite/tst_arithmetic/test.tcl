# Computes a few results and checks them with the suite's shared checks.

proc factorial {n} {
    if {$n <= 1} {
        return 1
    }
    return [expr {$n * [factorial [expr {$n - 1}]]}]
}

proc main {} {
    test compare [factorial 10] 3628800 "10!"
    test compare [expr {2 ** 64}] 18446744073709551616 "2 to the 64th"
    test verify [expr {abs(sqrt(2.0) * sqrt(2.0) - 2.0) < 1e-12}] "sqrt(2) squared"
    puts "factorial and big numbers check out"
}
