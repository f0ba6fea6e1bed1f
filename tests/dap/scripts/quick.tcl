# A run that passes at once, with output on stdout and stderr.
proc main {} {
    puts "to stdout"
    puts stderr "to stderr"
    test verify 1 "it holds"
}
